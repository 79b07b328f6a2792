#ifndef MIRRORTREE_H
#define MIRRORTREE_H

#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"
#include "model/slpropertystreams.h"

#include <QBuffer>
#include <QByteArray>
#include <QStringList>
#include <QVector>

// A write device that keeps every single write as one packet with the position it started at,
// the way the framing turns each write into one packet for that address.
class PacketRecorder : public QBuffer
{
public:
    struct Packet
    {
        qint64 offset;
        QByteArray data;
    };

    explicit PacketRecorder(QStringList *events)
        : m_events(events)
    {
        // Pre-sized so that seeks never grow the buffer through write().
        setData(QByteArray(4096, '\0'));
        open(QIODevice::ReadWrite);
    }

    QVector<Packet> packets;
    // Writes are refused (nothing taken) while set, as by a link that went away.
    bool refuse = false;

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        if (refuse)
            return 0;
        packets.append({pos(), QByteArray(data, int(len))});
        if (m_events)
            m_events->append(QStringLiteral("write@%1").arg(pos()));
        return QBuffer::writeData(data, len);
    }

private:
    QStringList *m_events;
};

// A property tree the way the session holds one: decoding from an in-memory image of the
// gadget's memory and writing to a recorded link (writes logged to events when given).
struct MirrorTree
{
    explicit MirrorTree(const QList<SlPropertyDescriptor> &children,
                        const QString &rootName = QStringLiteral("root"),
                        QStringList *events = nullptr)
        : link(events)
        , streams(&mirror, &link)
        , root(&streams, SlPropertyDescriptor(rootName, PROPERTY_LIST, 0, 0, 3))
    {
        mirror.open(QIODevice::ReadWrite);
        root.addChildren(children);
    }

    // Stores bytes in the image the way the session does before it tells the tree.
    void store(qint64 offset, const QByteArray &bytes)
    {
        mirror.seek(offset);
        mirror.write(bytes);
    }
    void receive(qint64 offset, const QByteArray &bytes)
    {
        store(offset, bytes);
        root.dataUpdated(offset, bytes.size());
    }
    SlProperty *operator[](const QString &name) const { return root.child(name); }

    QBuffer mirror;
    PacketRecorder link;
    SlPropertyStreams streams;
    SlProperty root;
};

#endif // MIRRORTREE_H
