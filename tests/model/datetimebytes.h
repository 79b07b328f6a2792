#ifndef DATETIMEBYTES_H
#define DATETIMEBYTES_H

#include <QByteArray>
#include <QDateTime>
#include <QtEndian>

// A date-time as the watch stores it, written out by hand: year (2, little-endian), month, day,
// hour, minute, second, milliseconds (2, little-endian). An invalid date-time is nine zeros.
inline QByteArray dateTimeBytes(const QDateTime &dt)
{
    QByteArray b(9, '\0');
    if (!dt.isValid())
        return b;
    auto *p = reinterpret_cast<uchar *>(b.data());
    qToLittleEndian<qint16>(qint16(dt.date().year()), p);
    p[2] = uchar(dt.date().month());
    p[3] = uchar(dt.date().day());
    p[4] = uchar(dt.time().hour());
    p[5] = uchar(dt.time().minute());
    p[6] = uchar(dt.time().second());
    qToLittleEndian<qint16>(qint16(dt.time().msec()), p + 7);
    return b;
}

#endif // DATETIMEBYTES_H
