#ifndef SIMFRAGMENTCODEC_H
#define SIMFRAGMENTCODEC_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Encodes and decodes the 32-byte link units: a 9-byte little-endian header
// (index, count, offset, length), up to 23 payload bytes, zero padding.
class SimFragmentCodec
{
public:
    struct Header
    {
        quint16 index = 0;
        quint16 count = 0;
        quint32 offset = 0;
        quint8 length = 0;
    };

    static constexpr int FragmentSize = 32;
    static constexpr int HeaderSize = 9;
    static constexpr int MaxPayload = 23;

    static QByteArray encode(const Header &header, const QByteArray &payload);
    static Header decodeHeader(const QByteArray &fragment);
    static QByteArray payload(const QByteArray &fragment);
    static bool paddingIsZero(const QByteArray &fragment);
    static QVector<QByteArray> split(quint32 offset, const QByteArray &packet);
    static QString describe(const QByteArray &fragment);
};

#endif // SIMFRAGMENTCODEC_H
