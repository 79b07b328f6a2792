#ifndef SIMREASSEMBLER_H
#define SIMREASSEMBLER_H

#include "simfragmentcodec.h"

#include <QByteArray>
#include <QObject>

// Puts incoming fragments back together into packets. It is stricter than it
// needs to be: every deviation from the framing rules is reported, so that a
// sloppy sender is caught even when the packet still arrives.
class SimReassembler : public QObject
{
    Q_OBJECT
public:
    explicit SimReassembler(QObject *parent = nullptr);

    void take(const QByteArray &fragment);
    void reset();
    bool isAssembling() const { return assembling; }

signals:
    void packetReady(quint32 offset, const QByteArray &data);
    void wireError(const QString &reason, const SimFragmentCodec::Header &header);

private:
    void abandon();

    bool assembling = false;
    SimFragmentCodec::Header first;
    quint16 lastIndex = 0;
    QByteArray packet;
};

#endif // SIMREASSEMBLER_H
