#include "../gadget/fragmentpeer.h"
#include "simprocess.h"

#include <QTcpServer>
#include <QTest>

#include <memory>

// The end-to-end, interface and updater tests use the simulator as their watch; this one checks
// what they rely on but cannot see: that its faults are real faults on the wire, that it reads
// the program's fragments however TCP cuts them, its firmware check, its reconnection.
namespace {

const quint32 Firmware = 0x100000;
const auto packet = &FragmentPeer::packetBytes;

QByteArray withCrc(QByteArray image, quint32 crc)
{
    for (int shift = 0; shift < 32; shift += 8)
        image += char(crc >> shift); // little-endian
    return image;
}

// The program's side of the link on a loopback port of its own, once the simulator came.
std::unique_ptr<FragmentPeer> attach(QTcpServer &server, SimProcess &sim, const QStringList &extra)
{
    if (!server.listen(QHostAddress::LocalHost))
        return nullptr;
    sim.start(QStringList{"--port", QString::number(server.serverPort()), "--clock",
                          "2020-05-01T12:34:56", "--frozen-clock"} +
              extra);
    if (!server.waitForNewConnection(5000) || sim.waitForEvent(QStringLiteral("connected")) < 0)
        return nullptr;
    return std::make_unique<FragmentPeer>(server.nextPendingConnection());
}

} // namespace

class TestGadgetSim : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void answers_data();
    void answers();
    void reconnectAfterRefusalAndDisconnect();
};

void TestGadgetSim::cleanup()
{
    QVERIFY2(SimProcess::sanitizerReports.isEmpty(), SimProcess::sanitizerReports.constData());
}

void TestGadgetSim::answers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("events"); // all the watch reports, in order, each by its start
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QVector<quint16>>("order"); // indices of the first fragments received
    QTest::addColumn<int>("lost");               // packets that never arrive whole
    auto row = [](const char *name, const QByteArray &bytes, const QStringList &events,
                  const QStringList &options = {}, const QVector<quint16> &order = {},
                  int lost = 0) {
        QTest::newRow(name) << bytes << events << options << order << lost;
    };
    QByteArray big(1000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + 3); // every byte value

    row("wrong checksum", packet(Firmware, withCrc("abc", 0x352441C3)),
        {"firmware bad size=3 crc=352441c2 stored=352441c3"});
    // The check values as zlib computes them.
    row("44 fragments", packet(Firmware, withCrc(big, 0x17BC2A46)),
        {"firmware ok size=1000 crc=17bc2a46"});

    // Each fault fires once: the image asked for after it arrives whole.
    const QByteArray image = packet(84, "\x01");
    row("drop", image,
        {"request-all-data", "fault drop-fragment n=2 index=1 offset=0", "sent offset=0",
         "sent offset=85"},
        {"--drop-fragment", "2"}, {0, 2, 3, 0, 1, 2, 3}, 1);
    row("reorder", image,
        {"request-all-data", "fault reorder-fragment n=2 index=1 offset=0", "sent offset=0",
         "sent offset=85"},
        {"--reorder-fragment", "2"}, {0, 2, 1, 3, 0, 1, 2, 3}, 1);
    row("garbage", image,
        {"request-all-data", "sent offset=0", "sent offset=85", "fault garbage units=3"},
        {"--garbage", "3"}, {0, 1, 2, 3, 0, 1, 2, 3});
    // The replies already on their way still leave before the connection closes.
    row("disconnect after two packets", packet(84, "\x03") + packet(84, "\x01"),
        {"attached", "request-all-data", "sent offset=0", "sent offset=85",
         "fault disconnect-after packets=2", "disconnected reason=after-packets"},
        {"--disconnect-after", "2"});
    // A parameter write goes through; the firmware packet of 11 fragments is cut in its middle.
    row("disconnect in the firmware",
        packet(145, "\x01") + packet(Firmware, withCrc(QByteArray(230, 'f'), 0)),
        {"write offset=145", "sent offset=145", "fault disconnect-in-firmware index=5 count=11",
         "disconnected reason=firmware"},
        {"--disconnect-in-firmware"});
}

void TestGadgetSim::answers()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, events);
    QFETCH(QVector<quint16>, order);
    QFETCH(int, lost);
    QTcpServer server;
    SimProcess sim;
    const auto peer = attach(server, sim, options);
    QVERIFY(peer);
    // TCP may cut the stream anywhere; the simulator waits for whole fragments.
    for (const QByteArray &piece : {bytes.left(5), bytes.mid(5, 40), bytes.mid(45)}) {
        peer->sendRaw(piece);
        QTest::qWait(20);
    }
    if (events.last().startsWith(QLatin1String("disconnected"))) {
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
    } else {
        // Asked for last, the image shows that everything before it was read and answered.
        peer->sendPacket(84, "\x01");
        QVERIFY(sim.waitForEvent(QStringLiteral("sent offset=85"), 5000, 1 + events.size()) >= 0);
        events += QStringList{"request-all-data", "sent offset=0", "sent offset=85"};
    }
    const QStringList got = sim.events.mid(1); // after "connected"
    QVERIFY2(got.size() == events.size(), qPrintable(got.join('\n')));
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(got.at(i).startsWith(events.at(i)), qPrintable(got.join('\n')));
    // Every reply arrived whole but those the fault broke, and nothing else.
    QTRY_COMPARE(peer->packets.size(), got.filter(QStringLiteral("sent offset=")).size() - lost);
    for (int i = 0; i < order.size(); ++i)
        QCOMPARE(qFromLittleEndian<quint16>(peer->wire.constData() + 32 * i), order.at(i));
    if (options.contains("--garbage")) // random bytes after the image, not zeros
        QVERIFY(peer->wire.mid(8 * 32, 3 * 32).count('\0') < 16);
}

void TestGadgetSim::reconnectAfterRefusalAndDisconnect()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QStringList common{"--port", QString::number(server.serverPort())};
    server.close();
    SimProcess once, sim;
    once.start(common);
    sim.start(common +
              QStringList{"--reconnect", "--reconnect-delay", "50", "--disconnect-after", "1"});
    // Without --reconnect a refused connection ends the simulator.
    QVERIFY(once.waitForExit());
    QCOMPARE(once.events.value(0).section(' ', 0, 0), QStringLiteral("connect-failed"));
    QCOMPARE(once.process.exitCode(), 1);
    QVERIFY(sim.waitForEvent(QStringLiteral("connect-failed")) >= 0);
    QVERIFY(server.listen(QHostAddress::LocalHost, common.at(1).toUShort()));
    QVERIFY(server.waitForNewConnection(5000));
    // The watch keeps its memory across the unplug.
    FragmentPeer(server.nextPendingConnection()).sendPacket(145, QByteArray(1, char(42)));
    QVERIFY(server.waitForNewConnection(5000));
    FragmentPeer again(server.nextPendingConnection());
    again.sendPacket(84, "\x01");
    QVERIFY(again.waitForPackets(2));
    QCOMPARE(again.packets.at(1).data.at(145 - 85), char(42));
}

QTEST_GUILESS_MAIN(TestGadgetSim)
#include "tst_gadgetsim.moc"
