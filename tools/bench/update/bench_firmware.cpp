// Firmware transfer throughput: a gadget session writing an image from a pool thread (as the
// firmware updater does) to a reader on a loopback socket, against a plain socket writing the
// same framed bytes to the same reader; and the time of a 200 KB image at 1 ms pacing.
//   bench_firmware [image bytes]
#include "model/ggadget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QtConcurrent>

#include <cstdio>

namespace {

struct Reader
{
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    qint64 received = 0;
};

// One connection to a fresh reader, and the time until it has `expected` bytes.
double run(qint64 expected, const std::function<void(QTcpSocket *)> &send)
{
    Reader reader;
    reader.server.listen(QHostAddress::LocalHost);
    auto *client = new QTcpSocket;
    client->connectToHost(QHostAddress::LocalHost, reader.server.serverPort());
    client->waitForConnected(3000);
    reader.server.waitForNewConnection(3000);
    reader.peer = reader.server.nextPendingConnection();
    QObject::connect(reader.peer, &QTcpSocket::readyRead,
                     [&]() { reader.received += reader.peer->readAll().size(); });
    QElapsedTimer clock;
    clock.start();
    send(client);
    while (reader.received < expected && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    // The connection stays with whoever sent on it (the gadget owns its socket).
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int size = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    const QByteArray image(size, '\x5a');
    const qint64 fragments = (size + 22) / 23;
    const qint64 wire = fragments * 32;

    const auto viaGadget = [&](int delayMs, int bytes) {
        const QByteArray data = image.left(bytes);
        const qint64 expected = (bytes + 22) / 23 * 32;
        return run(expected, [&](QTcpSocket *socket) {
            auto *gadget = new GGadget(socket);
            gadget->setWriteDelay(delayMs);
            QtConcurrent::run(QThreadPool::globalInstance(),
                              [gadget, data]() { gadget->writeFirmware(data, 0); });
        });
    };
    const double gadget = viaGadget(0, size);
    QByteArray framed;
    framed.reserve(int(wire));
    for (qint64 i = 0; i < fragments; ++i)
        framed.append(QByteArray(32, '\x5a'));
    const double plain = run(wire, [&](QTcpSocket *socket) { socket->write(framed); });
    std::printf("image %d bytes, %lld fragments, %lld bytes on the wire\n", size,
                static_cast<long long>(fragments), static_cast<long long>(wire));
    std::printf("gadget from a pool thread, writeDelay 0: %.3f s, %.0f image bytes/s\n", gadget,
                size / gadget);
    std::printf("plain socket, same bytes:               %.3f s, %.0f image bytes/s\n", plain,
                size / plain);
    std::printf("ratio gadget / socket: %.1f %%\n", 100.0 * plain / gadget);
    const double paced = viaGadget(1, 200 * 1024);
    std::printf("200 KB image at 1 ms per fragment: %.2f s\n", paced);
    return 0;
}
