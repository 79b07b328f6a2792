#ifndef PEERLINK_H
#define PEERLINK_H

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QVector>

class QTcpSocket;

// Plays the program's side of the gadget link for the simulator: listens on an
// ephemeral loopback port and speaks 32-byte fragments with its own few lines
// of encoding, so that a fault in the simulator's codec cannot hide itself.
class PeerLink : public QObject
{
    Q_OBJECT
public:
    struct Unit
    {
        quint16 index;
        quint16 count;
        quint32 offset;
        quint8 length;
        QByteArray raw;
    };
    struct Packet
    {
        quint32 offset;
        QByteArray data;
    };

    explicit PeerLink(QObject *parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const { return server.serverPort(); }
    int connectionCount() const { return connections; }
    bool isConnected() const;

    void sendPacket(quint32 offset, const QByteArray &data);
    void sendCommand(quint8 command) { sendPacket(84, QByteArray(1, char(command))); }
    void sendRaw(const QByteArray &bytes);
    static QByteArray fragment(quint16 index, quint16 count, quint32 offset, quint8 length,
                               const QByteArray &payload);

    QVector<Unit> units;
    QVector<Packet> packets;
    QByteArray pending;

signals:
    void peerDisconnected();

private:
    void onNewConnection();
    void onReadyRead();

    QTcpServer server;
    QTcpSocket *client = nullptr;
    int connections = 0;
    bool assembling = false;
    quint16 nextIndex = 0;
    Packet current{0, {}};
};

#endif // PEERLINK_H
