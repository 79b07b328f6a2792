#include "sldevicerecord.h"

#include <QDataStream>

QDataStream &operator<<(QDataStream &stream, const SlDeviceRecord &record)
{
    stream << record.deviceKey << record.serverKey << record.serial << record.pin
           << record.description << record.userId << record.produced << record.activated;
    return stream;
}

QDataStream &operator>>(QDataStream &stream, SlDeviceRecord &record)
{
    stream >> record.deviceKey >> record.serverKey >> record.serial >> record.pin >>
        record.description >> record.userId >> record.produced >> record.activated;
    return stream;
}

QByteArray SlDeviceRecord::toStoredForm() const
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << *this;
    return data;
}

bool SlDeviceRecord::fromStoredForm(const QByteArray &data, SlDeviceRecord *record)
{
    QDataStream stream(data);
    SlDeviceRecord read;
    stream >> read;
    if (stream.status() != QDataStream::Ok)
        return false;
    if (record)
        *record = read;
    return true;
}

bool SlDeviceRecord::operator==(const SlDeviceRecord &other) const
{
    return serial == other.serial && deviceKey == other.deviceKey && serverKey == other.serverKey &&
           pin == other.pin && description == other.description && userId == other.userId &&
           produced == other.produced && activated == other.activated;
}
