#include "simreassembler.h"

SimReassembler::SimReassembler(QObject *parent)
    : QObject(parent)
{}

void SimReassembler::reset()
{
    abandon();
}

void SimReassembler::abandon()
{
    assembling = false;
    packet.clear();
}

void SimReassembler::take(const QByteArray &fragment)
{
    const SimFragmentCodec::Header h = SimFragmentCodec::decodeHeader(fragment);
    if (h.length > SimFragmentCodec::MaxPayload) {
        emit wireError(QStringLiteral("length"), h);
        abandon();
        return;
    }
    if (h.count == 0 || h.index >= h.count) {
        emit wireError(h.count == 0 ? QStringLiteral("count") : QStringLiteral("index"), h);
        abandon();
        return;
    }
    if (!SimFragmentCodec::paddingIsZero(fragment))
        emit wireError(QStringLiteral("padding"), h);

    if (h.index == 0) {
        if (assembling)
            emit wireError(QStringLiteral("interrupted"), first);
        assembling = true;
        first = h;
        packet.clear();
    } else {
        if (!assembling || h.index != lastIndex + 1) {
            emit wireError(QStringLiteral("sequence"), h);
            abandon();
            return;
        }
        if (h.count != first.count || h.offset != first.offset)
            emit wireError(QStringLiteral("header-mismatch"), h);
    }
    if (h.index + 1 < first.count && h.length != SimFragmentCodec::MaxPayload)
        emit wireError(QStringLiteral("short-fragment"), h);

    lastIndex = h.index;
    packet.append(SimFragmentCodec::payload(fragment));
    if (h.index + 1 == first.count) {
        const QByteArray done = packet;
        const quint32 offset = first.offset;
        abandon();
        emit packetReady(offset, done);
    }
}
