#ifndef SIMCRC32_H
#define SIMCRC32_H

#include <QByteArray>
#include <QtGlobal>

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320), the checksum the watch's boot
// loader expects after a firmware image.
class SimCrc32
{
public:
    static quint32 compute(const QByteArray &data);
};

#endif // SIMCRC32_H
