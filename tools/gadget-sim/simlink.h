#ifndef SIMLINK_H
#define SIMLINK_H

#include "simoptions.h"
#include "simreassembler.h"

#include <QAbstractSocket>
#include <QObject>
#include <QRandomGenerator>

class QTcpSocket;
class SimWatch;

// The watch's end of the TCP link: the connection is the plug. It cuts the
// watch's replies into fragments, puts the program's fragments together and
// injects the faults asked for on the command line, each at most once per run.
class SimLink : public QObject
{
    Q_OBJECT
public:
    SimLink(const SimOptions &options, SimWatch *watch, QObject *parent = nullptr);

    void start();

signals:
    void finished(int exitCode);

private slots:
    void onConnected();
    void onDisconnected();
    void onErrorOccurred(QAbstractSocket::SocketError error);
    void onReadyRead();
    void onPacketReady(quint32 offset, const QByteArray &data);
    void onWireError(const QString &reason, const SimFragmentCodec::Header &header);
    void onSendPacket(quint32 offset, const QByteArray &data);
    void onAllDataSent();
    void flushHeldFragment();

private:
    void writeFragment(const QByteArray &fragment);
    void dropConnection(const QString &reason);
    void connectLater();

    SimOptions options;
    SimWatch *watch;
    QTcpSocket *socket;
    SimReassembler reassembler;
    QRandomGenerator random;
    QByteArray inbox;
    QByteArray heldFragment;
    QString closeReason;
    int sentFragments = 0;
    int receivedPackets = 0;
    bool connected = false;
    bool dropFired = false;
    bool reorderFired = false;
    bool disconnectFired = false;
    bool firmwareCutFired = false;
    bool garbageFired = false;
};

#endif // SIMLINK_H
