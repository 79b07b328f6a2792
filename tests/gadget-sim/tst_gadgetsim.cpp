#include "peerlink.h"
#include "simprocess.h"

#include <QTcpServer>
#include <QTest>

// The end-to-end, interface and updater tests use the simulator as their watch; this one checks
// what they cannot see: its faults, its answer to broken input, its firmware check, reconnection.
namespace {

const quint32 Firmware = 0x100000;

QByteArray withCrc(QByteArray image, quint32 crc)
{
    for (int shift = 0; shift < 32; shift += 8)
        image += char(crc >> shift); // little-endian
    return image;
}

// One packet as the program puts it on the wire.
QByteArray packet(quint32 offset, const QByteArray &data)
{
    const int count = (data.size() + 22) / 23;
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += PeerLink::fragment(quint16(i), quint16(count), offset,
                                    quint8(qMin(23, data.size() - i * 23)), data.mid(i * 23));
    return bytes;
}

bool attach(PeerLink &peer, SimProcess &sim, const QStringList &extra = {})
{
    const bool listening = peer.listen();
    sim.start(QStringList{"--port", QString::number(peer.port()), "--clock", "2020-05-01T12:34:56",
                          "--frozen-clock"} +
              extra);
    QDeadlineTimer deadline(5000);
    while (!peer.isConnected() && !deadline.hasExpired())
        QTest::qWait(5);
    return listening && peer.isConnected() && sim.waitForEvent(QStringLiteral("connected")) >= 0;
}

} // namespace

class TestGadgetSim : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void garbageIsReproducible();
    void answers_data();
    void answers();
    void reconnectAfterRefusalAndDisconnect();
};

void TestGadgetSim::cleanup()
{
    QVERIFY2(SimProcess::sanitizerReports.isEmpty(), SimProcess::sanitizerReports.constData());
}

void TestGadgetSim::garbageIsReproducible()
{
    QByteArray runs[2];
    for (QByteArray &garbage : runs) {
        PeerLink peer;
        SimProcess sim;
        QVERIFY(attach(peer, sim, {"--garbage", "3", "--seed", "7"}));
        peer.sendCommand(1);
        QTRY_COMPARE(peer.units.size(), 8 + 3);
        for (int i = 8; i < 11; ++i)
            garbage += peer.units.at(i).raw;
        QVERIFY(garbage.count('\0') < 16); // random bytes, not zeros
    }
    QCOMPARE(runs[0], runs[1]);
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
    const auto f = &PeerLink::fragment;
    const QByteArray one(1, char(33)), full(23, 'a');
    QByteArray dirty = f(0, 1, 145, 1, one), big(1000, '\0');
    dirty[31] = 'x';
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + 3); // every byte value

    row("padding", dirty,
        {"wire-error reason=padding index=0 count=1 offset=145", "write offset=145",
         "sent offset=145"});
    row("length over 23", f(0, 1, 145, 30, one),
        {"wire-error reason=length index=0 count=1 offset=145 length=30"});
    row("count zero", f(0, 0, 145, 1, one), {"wire-error reason=count"});
    row("missing middle", f(0, 3, 145, 23, full) + f(2, 3, 145, 1, one),
        {"wire-error reason=sequence index=2 count=3"});
    row("short inner fragment",
        f(0, 2, Firmware, 3, "abc") + f(1, 2, Firmware, 4, QByteArray::fromHex("c2412435")),
        {"wire-error reason=short-fragment index=0 count=2", "firmware ok size=3"});
    row("new packet interrupts", f(0, 2, Firmware, 23, full) + f(0, 1, 145, 1, one),
        {"wire-error reason=interrupted index=0 count=2 offset=1048576", "write offset=145",
         "sent offset=145"});
    row("index beyond count", f(3, 2, 145, 1, one), {"wire-error reason=index index=3 count=2"});
    row("offset changes", f(0, 2, Firmware, 23, full) + f(1, 2, Firmware + 1, 1, "a"),
        {"wire-error reason=header-mismatch index=1 count=2 offset=1048577",
         "firmware bad size=20"});
    row("write past the memory", packet(170, QByteArray(10, '\x7f')),
        {"write-ignored offset=170 size=10 reason=out-of-range"});
    row("unknown command", packet(84, "\x06"), {"command-unknown value=6"});

    row("wrong checksum", packet(Firmware, withCrc("abc", 0x352441C3)),
        {"firmware bad size=3 crc=352441c2 stored=352441c3"});
    row("too short", packet(Firmware, "ab"), {"firmware bad size=2 crc=00000000"});
    // The check values as zlib computes them.
    row("44 fragments", packet(Firmware, withCrc(big, 0x17BC2A46)),
        {"firmware ok size=1000 crc=17bc2a46"});
    row("check value in two packets",
        packet(Firmware, "1234") + packet(Firmware + 4, withCrc("56789", 0xCBF43926)),
        {"firmware bad size=0", "firmware ok size=9 crc=cbf43926"});
    row("a gap between packets", packet(Firmware, "1234") + packet(Firmware + 5, "6789"),
        {"firmware bad size=0", "firmware bad reason=gap address=0x100005 size=4"});

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
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, options));
    // TCP may cut the stream anywhere; the simulator waits for whole fragments.
    for (const QByteArray &piece : {bytes.left(5), bytes.mid(5, 40), bytes.mid(45)}) {
        peer.sendRaw(piece);
        QTest::qWait(20);
    }
    if (events.last().startsWith(QLatin1String("disconnected"))) {
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
    } else {
        // Asked for last, the image shows that everything before it was read and answered.
        peer.sendCommand(1);
        QVERIFY(sim.waitForEvent(QStringLiteral("sent offset=85"), 5000, 1 + events.size()) >= 0);
        events += QStringList{"request-all-data", "sent offset=0", "sent offset=85"};
    }
    const QStringList got = sim.events.mid(1); // after "connected"
    QVERIFY2(got.size() == events.size(), qPrintable(got.join('\n')));
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(got.at(i).startsWith(events.at(i)), qPrintable(got.join('\n')));
    // Every reply arrived whole but those the fault broke, and nothing else.
    QTRY_COMPARE(peer.packets.size(), got.filter(QStringLiteral("sent offset=")).size() - lost);
    for (int i = 0; i < order.size(); ++i)
        QCOMPARE(peer.units.at(i).index, order.at(i));
}

void TestGadgetSim::reconnectAfterRefusalAndDisconnect()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QStringList common{"--port", QString::number(probe.serverPort())};
    probe.close();
    SimProcess once, sim;
    once.start(common);
    sim.start(common +
              QStringList{"--reconnect", "--reconnect-delay", "50", "--disconnect-after", "1"});
    // Without --reconnect a refused connection ends the simulator.
    QVERIFY(once.waitForExit());
    QCOMPARE(once.events.value(0).section(' ', 0, 0), QStringLiteral("connect-failed"));
    QCOMPARE(once.process.exitCode(), 1);
    QVERIFY(sim.waitForEvent(QStringLiteral("connect-failed")) >= 0);
    PeerLink peer;
    QVERIFY(peer.listen(common.at(1).toUShort()));
    // The watch keeps its memory across the unplug.
    QTRY_VERIFY(peer.isConnected());
    peer.sendPacket(145, QByteArray(1, char(42))); // the one packet before the unplug
    QTRY_COMPARE(peer.connectionCount(), 2);
    peer.packets.clear();
    peer.sendCommand(1);
    QTRY_COMPARE(peer.packets.size(), 2);
    QCOMPARE(peer.packets.at(1).data.at(145 - 85), char(42));
}

QTEST_GUILESS_MAIN(TestGadgetSim)
#include "tst_gadgetsim.moc"
