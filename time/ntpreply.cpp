#include "ntpreply.h"

#include <QSharedData>
#include <QtEndian>

class NtpReplyData : public QSharedData
{
public:
    QByteArray packet = QByteArray(NtpReply::kPacketSize, '\0');
    QDateTime destinationTime;
};

NtpReply::NtpReply()
    : d(new NtpReplyData)
{}

NtpReply::NtpReply(const QByteArray &datagram, const QDateTime &destinationTime)
    : d(new NtpReplyData)
{
    const int size = qMin(datagram.size(), kPacketSize);
    d->packet.replace(0, size, datagram.constData(), size);
    d->destinationTime = destinationTime;
}

NtpReply::NtpReply(const NtpReply &other) = default;
NtpReply &NtpReply::operator=(const NtpReply &other) = default;
NtpReply::~NtpReply() = default;

QByteArray NtpReply::data() const
{
    return d->packet;
}

int NtpReply::leapIndicator() const
{
    return (quint8(d->packet.at(0)) >> 6) & 0x03;
}

int NtpReply::versionNumber() const
{
    return (quint8(d->packet.at(0)) >> 3) & 0x07;
}

int NtpReply::mode() const
{
    return quint8(d->packet.at(0)) & 0x07;
}

int NtpReply::stratum() const
{
    return quint8(d->packet.at(1));
}

QByteArray NtpReply::referenceId() const
{
    return d->packet.mid(12, 4);
}

quint64 NtpReply::originTimestamp() const
{
    return timestampAt(24);
}

quint64 NtpReply::transmitTimestamp() const
{
    return timestampAt(40);
}

QDateTime NtpReply::originTime() const
{
    return timestampToDateTime(originTimestamp());
}

QDateTime NtpReply::transmitTime() const
{
    return timestampToDateTime(transmitTimestamp());
}

QDateTime NtpReply::destinationTime() const
{
    return d->destinationTime;
}

QDateTime NtpReply::timestampToDateTime(quint64 timestamp)
{
    const qint64 seconds = qint64(timestamp >> 32);
    const quint64 fraction = timestamp & 0xFFFFFFFFu;
    const qint64 msecs = (seconds - kNtpToUnixSeconds) * 1000 + qint64((fraction * 1000) >> 32);
    return QDateTime::fromMSecsSinceEpoch(msecs);
}

quint64 NtpReply::timestampAt(int offset) const
{
    return qFromBigEndian<quint64>(d->packet.constData() + offset);
}
