#include "simlink.h"

#include "simconsole.h"
#include "simmemory.h"
#include "simwatch.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr quint32 FirmwareBase = 0x100000;

QString describePacket(quint32 offset, const QByteArray &data)
{
    QString name;
    if (offset < quint32(SimMemory::ImageSize)) {
        const SimMemory::Field *f = SimMemory::fieldAt(int(offset));
        if (f) {
            name = QLatin1String(f->name);
            if (f->size == data.size())
                name += QLatin1Char('=') + SimMemory::formatValue(*f, data);
        }
    } else if (offset >= FirmwareBase) {
        name = QStringLiteral("firmware+%1").arg(offset - FirmwareBase);
    }
    return QStringLiteral("packet offset=%1 size=%2 %3 data=%4")
        .arg(offset)
        .arg(data.size())
        .arg(name, QString::fromLatin1(data.left(48).toHex(' ')) +
                       (data.size() > 48 ? QStringLiteral(" ...") : QString()));
}

} // namespace

SimLink::SimLink(const SimOptions &options, SimWatch *watch, QObject *parent)
    : QObject(parent)
    , options(options)
    , watch(watch)
    , socket(new QTcpSocket(this))
    , random(options.seed)
{
    connect(socket, &QTcpSocket::connected, this, &SimLink::onConnected);
    connect(socket, &QTcpSocket::disconnected, this, &SimLink::onDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &SimLink::onErrorOccurred);
    connect(socket, &QTcpSocket::readyRead, this, &SimLink::onReadyRead);
    connect(&reassembler, &SimReassembler::packetReady, this, &SimLink::onPacketReady);
    connect(&reassembler, &SimReassembler::wireError, this, &SimLink::onWireError);
    connect(watch, &SimWatch::sendPacket, this, &SimLink::onSendPacket);
    connect(watch, &SimWatch::allDataSent, this, &SimLink::onAllDataSent);
}

void SimLink::start()
{
    closeReason.clear();
    socket->connectToHost(options.host, options.port);
}

void SimLink::connectLater()
{
    QTimer::singleShot(options.reconnectDelay, this, &SimLink::start);
}

void SimLink::onConnected()
{
    connected = true;
    sentFragments = 0;
    receivedPackets = 0;
    inbox.clear();
    heldFragment.clear();
    reassembler.reset();
    SimConsole::event(
        QStringLiteral("connected host=%1 port=%2").arg(options.host).arg(options.port));
}

void SimLink::onDisconnected()
{
    connected = false;
    SimConsole::event(QStringLiteral("disconnected reason=%1")
                          .arg(closeReason.isEmpty() ? QStringLiteral("peer") : closeReason));
    if (options.reconnect)
        connectLater();
    else
        emit finished(0);
}

void SimLink::onErrorOccurred(QAbstractSocket::SocketError error)
{
    if (connected || error == QAbstractSocket::RemoteHostClosedError)
        return; // the disconnected signal reports it
    SimConsole::event(QStringLiteral("connect-failed error=%1").arg(int(error)));
    SimConsole::trace(QStringLiteral("connect failed: %1").arg(socket->errorString()));
    socket->abort();
    if (options.reconnect)
        connectLater();
    else
        emit finished(1);
}

void SimLink::onReadyRead()
{
    inbox.append(socket->readAll());
    // TCP may split or join the program's 32-byte writes; only whole units
    // are looked at, the rest waits for the next read.
    while (connected && closeReason.isEmpty() && inbox.size() >= SimFragmentCodec::FragmentSize) {
        const QByteArray fragment = inbox.left(SimFragmentCodec::FragmentSize);
        inbox.remove(0, SimFragmentCodec::FragmentSize);
        SimConsole::trace(QStringLiteral("recv ") + SimFragmentCodec::describe(fragment));
        const SimFragmentCodec::Header h = SimFragmentCodec::decodeHeader(fragment);
        if (options.disconnectInFirmware && !firmwareCutFired && h.offset >= FirmwareBase &&
            h.count > 0 && h.index == h.count / 2) {
            firmwareCutFired = true;
            SimConsole::event(QStringLiteral("fault disconnect-in-firmware index=%1 count=%2")
                                  .arg(h.index)
                                  .arg(h.count));
            dropConnection(QStringLiteral("firmware"));
            return;
        }
        reassembler.take(fragment);
    }
}

void SimLink::onPacketReady(quint32 offset, const QByteArray &data)
{
    ++receivedPackets;
    SimConsole::trace(QStringLiteral("recv ") + describePacket(offset, data));
    watch->handlePacket(offset, data);
    if (options.disconnectAfter > 0 && !disconnectFired &&
        receivedPackets >= options.disconnectAfter) {
        disconnectFired = true;
        SimConsole::event(QStringLiteral("fault disconnect-after packets=%1").arg(receivedPackets));
        dropConnection(QStringLiteral("after-packets"));
    }
}

void SimLink::onWireError(const QString &reason, const SimFragmentCodec::Header &header)
{
    SimConsole::event(QStringLiteral("wire-error reason=%1 index=%2 count=%3 offset=%4 length=%5")
                          .arg(reason)
                          .arg(header.index)
                          .arg(header.count)
                          .arg(header.offset)
                          .arg(header.length));
}

void SimLink::onSendPacket(quint32 offset, const QByteArray &data)
{
    if (!connected || !closeReason.isEmpty())
        return;
    SimConsole::trace(QStringLiteral("send ") + describePacket(offset, data));
    const QVector<QByteArray> fragments = SimFragmentCodec::split(offset, data);
    for (const QByteArray &fragment : fragments) {
        ++sentFragments;
        if (options.dropFragment == sentFragments && !dropFired) {
            dropFired = true;
            const SimFragmentCodec::Header h = SimFragmentCodec::decodeHeader(fragment);
            SimConsole::event(QStringLiteral("fault drop-fragment n=%1 index=%2 offset=%3")
                                  .arg(sentFragments)
                                  .arg(h.index)
                                  .arg(h.offset));
            continue;
        }
        if (options.reorderFragment == sentFragments && !reorderFired) {
            reorderFired = true;
            const SimFragmentCodec::Header h = SimFragmentCodec::decodeHeader(fragment);
            SimConsole::event(QStringLiteral("fault reorder-fragment n=%1 index=%2 offset=%3")
                                  .arg(sentFragments)
                                  .arg(h.index)
                                  .arg(h.offset));
            heldFragment = fragment;
            // Released after the next fragment, or on its own if none follows.
            QTimer::singleShot(0, this, &SimLink::flushHeldFragment);
            continue;
        }
        writeFragment(fragment);
        flushHeldFragment();
    }
    SimConsole::event(QStringLiteral("sent offset=%1 size=%2 fragments=%3")
                          .arg(offset)
                          .arg(data.size())
                          .arg(fragments.size()));
}

void SimLink::flushHeldFragment()
{
    if (heldFragment.isEmpty())
        return;
    const QByteArray fragment = heldFragment;
    heldFragment.clear();
    if (connected && closeReason.isEmpty())
        writeFragment(fragment);
}

void SimLink::onAllDataSent()
{
    if (options.garbage <= 0 || garbageFired || !connected)
        return;
    garbageFired = true;
    flushHeldFragment();
    // Whole 32-byte units only: a stray partial unit would shift every later
    // fragment on the stream and make the rest of the run meaningless.
    for (int i = 0; i < options.garbage; ++i) {
        QByteArray unit(SimFragmentCodec::FragmentSize, '\0');
        for (char &c : unit)
            c = char(random.bounded(256));
        writeFragment(unit);
    }
    SimConsole::event(QStringLiteral("fault garbage units=%1").arg(options.garbage));
}

void SimLink::writeFragment(const QByteArray &fragment)
{
    SimConsole::trace(QStringLiteral("send ") + SimFragmentCodec::describe(fragment));
    socket->write(fragment);
}

void SimLink::dropConnection(const QString &reason)
{
    closeReason = reason;
    inbox.clear();
    reassembler.reset();
    // Pending replies still leave before the connection closes.
    socket->disconnectFromHost();
}
