#ifndef FRAGMENTPEER_H
#define FRAGMENTPEER_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVector>
#include <QtEndian>
#include <QtTest>

#include <cstring>

// The watch's side of the link in a few lines of its own: 32-byte fragments over a socket,
// written without the program's framing code so that a fault there cannot hide itself.
class FragmentPeer : public QObject
{
    Q_OBJECT
public:
    struct Packet
    {
        quint32 offset;
        QByteArray data;
    };

    static constexpr int FragmentSize = 32;
    static constexpr int Payload = 23;
    static constexpr int IdentitySize = 85;
    static constexpr int ImageSize = 176;

    explicit FragmentPeer(QTcpSocket *socket = nullptr, QObject *parent = nullptr)
        : QObject(parent)
        , socket(socket ? socket : new QTcpSocket(this))
    {
        connect(this->socket, &QTcpSocket::readyRead, this, &FragmentPeer::onReadyRead);
    }

    // Other runs on this machine may hold a fixed port for a while; a hub started meanwhile
    // would silently not listen and the peers would meet someone else's program.
    static bool waitForFreePort(quint16 port, int timeoutMs = 300000)
    {
        return QTest::qWaitFor(
            [port] {
                QTcpServer probe;
                return probe.listen(QHostAddress::LocalHost, port);
            },
            timeoutMs);
    }

    void connectTo(quint16 port) { socket->connectToHost(QHostAddress::LocalHost, port); }

    static QByteArray packetBytes(quint32 offset, const QByteArray &data)
    {
        QByteArray out;
        const int count = qMax(1, (data.size() + Payload - 1) / Payload);
        for (int i = 0; i < count; ++i) {
            const QByteArray piece = data.mid(i * Payload, Payload);
            QByteArray f(FragmentSize, '\0');
            auto *p = reinterpret_cast<uchar *>(f.data());
            qToLittleEndian<quint16>(quint16(i), p);
            qToLittleEndian<quint16>(quint16(count), p + 2);
            qToLittleEndian<quint32>(offset, p + 4);
            p[8] = quint8(piece.size());
            std::memcpy(p + 9, piece.constData(), size_t(piece.size()));
            out += f;
        }
        return out;
    }

    void sendPacket(quint32 offset, const QByteArray &data) { sendRaw(packetBytes(offset, data)); }
    void sendRaw(const QByteArray &bytes)
    {
        socket->write(bytes);
        socket->flush();
    }

    // Basic block: productId, firmwareVersion, serial, device key, server key, command.
    static QByteArray identity(quint16 productId, quint32 firmware, const QByteArray &serial,
                               const QByteArray &deviceKey, const QByteArray &serverKey)
    {
        QByteArray block(IdentitySize, '\0');
        auto *p = reinterpret_cast<uchar *>(block.data());
        qToLittleEndian<quint16>(productId, p);
        qToLittleEndian<quint32>(firmware, p + 2);
        block.replace(6, qMin(serial.size(), 30), serial.left(30));
        block.replace(36, qMin(deviceKey.size(), 24), deviceKey.left(24));
        block.replace(60, qMin(serverKey.size(), 24), serverKey.left(24));
        return block.left(IdentitySize);
    }

    // Answers the request for all data the way the watch does: identity, then the catalogue.
    void answerRequests(const QByteArray &identityBlock) { autoIdentity = identityBlock; }

    bool waitForPackets(int n, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return packets.size() >= n; }, timeoutMs);
    }

    int countPackets(quint32 offset, const QByteArray &data) const
    {
        int n = 0;
        for (const Packet &p : packets)
            n += (p.offset == offset && p.data == data) ? 1 : 0;
        return n;
    }

    QTcpSocket *socket;
    QVector<Packet> packets;
    QByteArray wire; // every fragment as it came, for checks of their order
    QByteArray autoIdentity;

private:
    void onReadyRead()
    {
        inbox += socket->readAll();
        while (inbox.size() >= FragmentSize) {
            const QByteArray f = inbox.left(FragmentSize);
            inbox.remove(0, FragmentSize);
            wire += f;
            const auto *p = reinterpret_cast<const uchar *>(f.constData());
            const quint16 index = qFromLittleEndian<quint16>(p);
            const quint16 count = qFromLittleEndian<quint16>(p + 2);
            const quint32 offset = qFromLittleEndian<quint32>(p + 4);
            const int length = qMin<int>(p[8], Payload);
            if (index == 0) {
                current = Packet{offset, {}};
                nextIndex = 0;
            }
            if (index != nextIndex)
                continue;
            current.data += f.mid(9, length);
            ++nextIndex;
            if (nextIndex == count) {
                packets.append(current);
                if (!autoIdentity.isEmpty() && current.offset == 84 &&
                    current.data == QByteArray(1, '\1')) {
                    sendPacket(0, autoIdentity);
                    sendPacket(IdentitySize, QByteArray(ImageSize - IdentitySize, '\0'));
                }
            }
        }
    }

    QByteArray inbox;
    Packet current{0, {}};
    int nextIndex = 0;
};

#endif // FRAGMENTPEER_H
