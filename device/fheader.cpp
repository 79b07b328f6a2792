#include "fheader.h"

#include <QtEndian>

QByteArray FHeader::toBytes() const
{
    QByteArray bytes(WireSize, Qt::Uninitialized);
    writeTo(bytes.data());
    return bytes;
}

void FHeader::writeTo(char *data) const
{
    uchar *out = reinterpret_cast<uchar *>(data);
    qToLittleEndian<quint16>(index, out);
    qToLittleEndian<quint16>(count, out + 2);
    qToLittleEndian<quint32>(offset, out + 4);
    out[8] = length;
}

FHeader FHeader::fromBytes(const char *data)
{
    const uchar *in = reinterpret_cast<const uchar *>(data);
    FHeader header;
    header.index = qFromLittleEndian<quint16>(in);
    header.count = qFromLittleEndian<quint16>(in + 2);
    header.offset = qFromLittleEndian<quint32>(in + 4);
    header.length = in[8];
    return header;
}
