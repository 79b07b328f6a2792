#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

class QDataStream;

// The registration record of one gadget, as the hub builds it after the web
// service registered the gadget and as the settings store keeps it.
class SlDeviceRecord
{
public:
    QString serial;
    QByteArray deviceKey;
    QByteArray serverKey;
    QString pin;
    QString description;
    qint64 userId = -1;
    QDateTime produced;
    QDateTime activated;

    // The stored form: a QDataStream in its default settings of deviceKey,
    // serverKey, serial, pin, description, userId, produced, activated.
    QByteArray toStoredForm() const;
    // False (and *record untouched) when data is not a complete stored form.
    static bool fromStoredForm(const QByteArray &data, SlDeviceRecord *record);

    bool operator==(const SlDeviceRecord &other) const;
    bool operator!=(const SlDeviceRecord &other) const { return !(*this == other); }
};

QDataStream &operator<<(QDataStream &stream, const SlDeviceRecord &record);
QDataStream &operator>>(QDataStream &stream, SlDeviceRecord &record);

Q_DECLARE_METATYPE(SlDeviceRecord)
