#include "simfragmentcodec.h"

#include <QtEndian>

QByteArray SimFragmentCodec::encode(const Header &header, const QByteArray &payload)
{
    QByteArray fragment(FragmentSize, '\0');
    uchar *p = reinterpret_cast<uchar *>(fragment.data());
    qToLittleEndian<quint16>(header.index, p);
    qToLittleEndian<quint16>(header.count, p + 2);
    qToLittleEndian<quint32>(header.offset, p + 4);
    p[8] = header.length;
    const int n = qMin(payload.size(), int(MaxPayload));
    for (int i = 0; i < n; ++i)
        fragment[HeaderSize + i] = payload.at(i);
    return fragment;
}

SimFragmentCodec::Header SimFragmentCodec::decodeHeader(const QByteArray &fragment)
{
    Header h;
    if (fragment.size() < HeaderSize)
        return h;
    const uchar *p = reinterpret_cast<const uchar *>(fragment.constData());
    h.index = qFromLittleEndian<quint16>(p);
    h.count = qFromLittleEndian<quint16>(p + 2);
    h.offset = qFromLittleEndian<quint32>(p + 4);
    h.length = p[8];
    return h;
}

QByteArray SimFragmentCodec::payload(const QByteArray &fragment)
{
    const Header h = decodeHeader(fragment);
    const int n = qMin(int(h.length), fragment.size() - HeaderSize);
    return n > 0 ? fragment.mid(HeaderSize, n) : QByteArray();
}

bool SimFragmentCodec::paddingIsZero(const QByteArray &fragment)
{
    const Header h = decodeHeader(fragment);
    for (int i = HeaderSize + h.length; i < fragment.size(); ++i) {
        if (fragment.at(i) != '\0')
            return false;
    }
    return true;
}

QVector<QByteArray> SimFragmentCodec::split(quint32 offset, const QByteArray &packet)
{
    QVector<QByteArray> fragments;
    const int count = (packet.size() + MaxPayload - 1) / MaxPayload;
    for (int i = 0; i < count; ++i) {
        const QByteArray part = packet.mid(i * MaxPayload, MaxPayload);
        Header h;
        h.index = quint16(i);
        h.count = quint16(count);
        h.offset = offset;
        h.length = quint8(part.size());
        fragments.append(encode(h, part));
    }
    return fragments;
}

QString SimFragmentCodec::describe(const QByteArray &fragment)
{
    const Header h = decodeHeader(fragment);
    return QStringLiteral("fragment index=%1 count=%2 offset=0x%3 length=%4 payload=%5")
        .arg(h.index)
        .arg(h.count)
        .arg(h.offset, 0, 16)
        .arg(h.length)
        .arg(QString::fromLatin1(payload(fragment).toHex(' ')));
}
