#ifndef CRC32_H
#define CRC32_H

#include <QByteArray>
#include <QtGlobal>

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, initial value and final XOR all ones),
// the checksum the watch verifies over a firmware image. Empty input yields 0.
quint32 crc32(const QByteArray &data);

#endif // CRC32_H
