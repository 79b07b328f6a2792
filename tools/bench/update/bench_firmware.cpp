// Firmware transfer: the throughput of an image handed to a gadget session (queued on its
// link's writer thread) to a reader on a loopback socket, against a plain socket writing the
// same framed bytes; then the longest stall of the main thread while a 200 KB image goes to the
// simulated watch, unpaced and at 1 ms per fragment (the pace of a HID link).
//   bench_firmware [image bytes]
#include "model/ggadget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <functional>

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

struct StallRun
{
    double seconds = 0;
    double longestStallMs = 0;
    bool taken = false;
};

// A 200 KB image to the simulated watch over its TCP link while a 1 ms timer on the main
// thread notes the longest gap between its ticks.
StallRun toSimulatedWatch(int delayMs)
{
    StallRun result;
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/gadget-sim"),
              {QStringLiteral("--port"), QString::number(server.serverPort()),
               QStringLiteral("--push-clock"), QStringLiteral("10")});
    if (!server.waitForNewConnection(5000))
        return result;
    auto *gadget = new GGadget(server.nextPendingConnection());
    gadget->setWriteDelay(delayMs);
    QByteArray image(200 * 1024, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 31);

    bool done = false;
    QObject::connect(gadget, &GGadget::firmwareWritten, [&](int error) {
        done = true;
        result.taken = error == GGadget::ERROR_NONE;
    });
    QElapsedTimer sinceTick, clock;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        result.longestStallMs = qMax(result.longestStallMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    ticker.start(1);
    sinceTick.start();
    clock.start();
    gadget->writeFirmware(image, 0);
    while (!done && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    result.seconds = clock.nsecsElapsed() / 1e9;
    ticker.stop();
    delete gadget;
    sim.waitForFinished(5000);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int size = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    const QByteArray image(size, '\x5a');
    const qint64 fragments = (size + 22) / 23;
    const qint64 wire = fragments * 32;

    const double gadget = run(wire, [&](QTcpSocket *socket) {
        auto *session = new GGadget(socket);
        session->writeFirmware(image, 0);
    });
    QByteArray framed;
    framed.reserve(int(wire));
    for (qint64 i = 0; i < fragments; ++i)
        framed.append(QByteArray(32, '\x5a'));
    const double plain = run(wire, [&](QTcpSocket *socket) { socket->write(framed); });
    std::printf("image %d bytes, %lld fragments, %lld bytes on the wire\n", size,
                static_cast<long long>(fragments), static_cast<long long>(wire));
    std::printf("gadget, writeDelay 0:     %.3f s, %.0f image bytes/s\n", gadget, size / gadget);
    std::printf("plain socket, same bytes: %.3f s, %.0f image bytes/s\n", plain, size / plain);
    std::printf("ratio gadget / socket: %.1f %%\n", 100.0 * plain / gadget);
    for (int delay : {0, 1}) {
        const StallRun r = toSimulatedWatch(delay);
        std::printf("200 KB to gadget-sim, writeDelay %d ms: %.2f s, %s, longest main-thread "
                    "stall %.1f ms\n",
                    delay, r.seconds, r.taken ? "taken" : "NOT TAKEN", r.longestStallMs);
    }
    return 0;
}
