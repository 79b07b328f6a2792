#include "peerlink.h"

#include <QTcpSocket>
#include <QtEndian>

PeerLink::PeerLink(QObject *parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &PeerLink::onNewConnection);
}

bool PeerLink::listen(quint16 port)
{
    return server.listen(QHostAddress::LocalHost, port);
}

bool PeerLink::isConnected() const
{
    return client && client->state() == QAbstractSocket::ConnectedState;
}

QByteArray PeerLink::fragment(quint16 index, quint16 count, quint32 offset, quint8 length,
                              const QByteArray &payload)
{
    QByteArray f(32, '\0');
    uchar *p = reinterpret_cast<uchar *>(f.data());
    qToLittleEndian(index, p);
    qToLittleEndian(count, p + 2);
    qToLittleEndian(offset, p + 4);
    p[8] = length;
    f.replace(9, qMin(payload.size(), 23), payload.left(23));
    return f;
}

void PeerLink::sendPacket(quint32 offset, const QByteArray &data)
{
    const int count = (data.size() + 22) / 23;
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const QByteArray part = data.mid(i * 23, 23);
        bytes += fragment(quint16(i), quint16(count), offset, quint8(part.size()), part);
    }
    sendRaw(bytes);
}

void PeerLink::sendRaw(const QByteArray &bytes)
{
    if (!client)
        return;
    client->write(bytes);
    client->flush();
}

void PeerLink::onNewConnection()
{
    while (QTcpSocket *s = server.nextPendingConnection()) {
        ++connections;
        client = s;
        assembling = false;
        pending.clear();
        connect(s, &QTcpSocket::readyRead, this, &PeerLink::onReadyRead);
        connect(s, &QTcpSocket::disconnected, this, &PeerLink::peerDisconnected);
    }
}

void PeerLink::onReadyRead()
{
    auto *s = qobject_cast<QTcpSocket *>(sender());
    if (!s)
        return;
    pending += s->readAll();
    while (pending.size() >= 32) {
        const QByteArray raw = pending.left(32);
        pending.remove(0, 32);
        const uchar *p = reinterpret_cast<const uchar *>(raw.constData());
        const Unit u{qFromLittleEndian<quint16>(p), qFromLittleEndian<quint16>(p + 2),
                     qFromLittleEndian<quint32>(p + 4), p[8], raw};
        units.append(u);
        if (u.index == 0) {
            assembling = true;
            current = Packet{u.offset, {}};
        } else if (!assembling || u.index != nextIndex) {
            assembling = false;
            continue;
        }
        current.data += raw.mid(9, qMin<int>(u.length, 23));
        nextIndex = quint16(u.index + 1);
        if (nextIndex == u.count) {
            packets.append(current);
            assembling = false;
        }
    }
}
