#pragma once

#include <QString>
#include <QtGlobal>

// An application version: major, minor and patch, one byte each, compared major first.
class SlAppVersion
{
public:
    SlAppVersion() = default;
    SlAppVersion(int major, int minor, int patch);

    // Exactly three base-10 parts separated by "."; anything else is (0, 0, 0).
    static SlAppVersion fromText(const QString &text);
    // This program's own version.
    static SlAppVersion current();

    QString toText() const;
    bool operator<(const SlAppVersion &other) const;
    bool operator<=(const SlAppVersion &other) const { return !(other < *this); }
    bool operator>(const SlAppVersion &other) const { return other < *this; }
    bool operator==(const SlAppVersion &other) const;

    quint8 major = 0;
    quint8 minor = 0;
    quint8 patch = 0;
};
