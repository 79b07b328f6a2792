#ifndef SLFIRMWAREVER_H
#define SLFIRMWAREVER_H

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// The watch's firmware version: the build date it carries as the number yyyyMMdd.
class SlFirmwareVer
{
    Q_GADGET
    Q_PROPERTY(int year MEMBER year)
    Q_PROPERTY(int month MEMBER month)
    Q_PROPERTY(int day MEMBER day)
public:
    SlFirmwareVer() = default;
    SlFirmwareVer(int year, int month, int day);

    // (0, 0, 0) unless the text is a valid date in the form yyyyMMdd.
    static SlFirmwareVer fromText(const QString &text);
    static SlFirmwareVer fromNumber(quint32 number);

    bool isNull() const { return year == 0 && month == 0 && day == 0; }

    // Calendar order: year first, then month, then day.
    bool operator<(const SlFirmwareVer &other) const;
    bool operator>(const SlFirmwareVer &other) const { return other < *this; }
    bool operator==(const SlFirmwareVer &other) const;
    bool operator!=(const SlFirmwareVer &other) const { return !(*this == other); }

    qint32 year = 0;
    qint32 month = 0;
    qint32 day = 0;
};

Q_DECLARE_METATYPE(SlFirmwareVer)

#endif // SLFIRMWAREVER_H
