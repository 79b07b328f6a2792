#ifndef PACKETRECORDER_H
#define PACKETRECORDER_H

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

    explicit PacketRecorder(QStringList *events = nullptr)
        : m_events(events)
    {
        // Pre-sized so that seeks never grow the buffer through write().
        setData(QByteArray(4096, '\0'));
        open(QIODevice::ReadWrite);
    }

    QVector<Packet> packets;

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        packets.append({pos(), QByteArray(data, int(len))});
        if (m_events)
            m_events->append(QStringLiteral("write@%1").arg(pos()));
        return QBuffer::writeData(data, len);
    }

private:
    QStringList *m_events;
};

#endif // PACKETRECORDER_H
