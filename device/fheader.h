#ifndef FHEADER_H
#define FHEADER_H

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>

// Header of one 32-byte fragment of the watch link. The in-memory layout is
// packed to the 9 wire bytes so that the registered type has the wire size; the
// wire form itself is always produced and parsed explicitly as little-endian.
#pragma pack(push, 1)
struct FHeader
{
    quint16 index = 0;
    quint16 count = 0;
    quint32 offset = 0;
    quint8 length = 0;

    static constexpr int WireSize = 9;

    QByteArray toBytes() const;
    // Writes the WireSize bytes of the wire form to out.
    void writeTo(char *out) const;
    // Reads the first WireSize bytes of data; the caller guarantees they exist.
    static FHeader fromBytes(const char *data);
};
#pragma pack(pop)

static_assert(sizeof(FHeader) == FHeader::WireSize, "FHeader must keep its wire size");

Q_DECLARE_METATYPE(FHeader)

#endif // FHEADER_H
