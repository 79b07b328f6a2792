#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QSharedDataPointer>

class NtpReplyData;

// One received NTP packet together with the local clock reading taken when it
// arrived. Cheap to copy, so it travels by value through signals.
class NtpReply
{
public:
    // The NTP header and the room kept for an optional key id and digest.
    static constexpr int kHeaderSize = 48;
    static constexpr int kPacketSize = 68;
    // Seconds from 1900-01-01 (the NTP epoch) to 1970-01-01 (the Unix epoch).
    static constexpr qint64 kNtpToUnixSeconds = 2208988800LL;

    NtpReply();
    NtpReply(const QByteArray &datagram, const QDateTime &destinationTime);
    NtpReply(const NtpReply &other);
    NtpReply &operator=(const NtpReply &other);
    ~NtpReply();

    // Always kPacketSize bytes: the datagram's first bytes, zero-filled.
    QByteArray data() const;

    int leapIndicator() const;
    int versionNumber() const;
    int mode() const;
    int stratum() const;
    // The four bytes of the reference identifier; for stratum 0 the kiss code.
    QByteArray referenceId() const;

    quint64 originTimestamp() const;
    quint64 transmitTimestamp() const;

    QDateTime originTime() const;
    QDateTime transmitTime() const;
    QDateTime destinationTime() const;

    // 32.32 fixed-point seconds since 1900 to local date-time. Eras are not
    // handled: seconds below the Unix epoch's give times before 1970.
    static QDateTime timestampToDateTime(quint64 timestamp);

private:
    quint64 timestampAt(int offset) const;

    QSharedDataPointer<NtpReplyData> d;
};

Q_DECLARE_METATYPE(NtpReply)
