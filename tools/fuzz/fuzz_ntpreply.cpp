// An NTP server's reply datagram, whatever its length or content.
#include "time/ntpreply.h"

#include <QDateTime>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QDateTime now = QDateTime::fromMSecsSinceEpoch(1796000000000LL, Qt::UTC);
    const NtpReply reply(QByteArray(reinterpret_cast<const char *>(data), int(size)), now);
    reply.leapIndicator();
    reply.versionNumber();
    reply.mode();
    reply.stratum();
    reply.referenceId();
    reply.originTime();
    reply.transmitTime();
    reply.destinationTime();
    reply.originTimestamp();
    reply.transmitTimestamp();
    return 0;
}
