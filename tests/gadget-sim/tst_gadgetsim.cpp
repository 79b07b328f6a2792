#include "peerlink.h"
#include "simprocess.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QtEndian>

namespace {

const char *const Clock = "2020-05-01T12:34:56.789";

QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

QByteArray dateTimeBytes(const QDateTime &dt)
{
    QByteArray b = le16(quint16(dt.date().year()));
    b += char(dt.date().month());
    b += char(dt.date().day());
    b += char(dt.time().hour());
    b += char(dt.time().minute());
    b += char(dt.time().second());
    b += le16(quint16(dt.time().msec()));
    return b;
}

QDateTime dt(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODateWithMs);
}

QByteArray withCrc(const QByteArray &image, quint32 crc)
{
    return image + le32(crc);
}

// Bit by bit, unlike the simulator's table, so that both cannot share a slip.
quint32 bitwiseCrc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data) {
        crc ^= quint8(ch);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

class TestGadgetSim : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void connectRefusedExits();
    void imageOnRequestAllData();
    void commandsAreReported();
    void writeIsAppliedAndEchoed_data();
    void writeIsAppliedAndEchoed();
    void writeOutsideMemoryIsIgnored();
    void timeCommandStepsClock_data();
    void timeCommandStepsClock();
    void clockTicks();
    void clockIsPushed();
    void syncTimeFollowsSyncFlag();
    void factoryResetRestoresDefaults();
    void firmwareIsChecked_data();
    void firmwareIsChecked();
    void splitStreamIsReassembled();
    void wireErrorsAreReported_data();
    void wireErrorsAreReported();
    void dropFragment();
    void reorderFragment();
    void disconnectAfterPackets();
    void disconnectInFirmware();
    void garbageIsReproducible();
    void reconnectAfterRefusalAndDisconnect();

private:
    bool attach(PeerLink &peer, SimProcess &sim, const QStringList &extra);
    bool requestImage(PeerLink &peer, QByteArray *image);
};

bool TestGadgetSim::attach(PeerLink &peer, SimProcess &sim, const QStringList &extra)
{
    if (!peer.isConnected() && !peer.listen())
        return false;
    sim.start(QStringList{QStringLiteral("--port"), QString::number(peer.port())} + extra);
    if (sim.waitForEvent(QStringLiteral("connected")) < 0)
        return false;
    QDeadlineTimer deadline(5000);
    while (!peer.isConnected() && !deadline.hasExpired())
        QTest::qWait(5);
    return peer.isConnected();
}

// Asks for the whole memory and joins the two packets the watch answers with.
bool TestGadgetSim::requestImage(PeerLink &peer, QByteArray *image)
{
    const int before = peer.packets.size();
    peer.sendCommand(1);
    QDeadlineTimer deadline(5000);
    while (peer.packets.size() < before + 2 && !deadline.hasExpired())
        QTest::qWait(5);
    if (peer.packets.size() < before + 2)
        return false;
    const PeerLink::Packet &a = peer.packets.at(before);
    const PeerLink::Packet &b = peer.packets.at(before + 1);
    if (a.offset != 0 || b.offset != quint32(a.data.size()))
        return false;
    *image = a.data + b.data;
    return true;
}

void TestGadgetSim::cleanup()
{
    QVERIFY2(SimProcess::sanitizerReports.isEmpty(), SimProcess::sanitizerReports.constData());
}

void TestGadgetSim::connectRefusedExits()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    SimProcess sim;
    sim.start({QStringLiteral("--port"), QString::number(port)});
    QVERIFY(sim.waitForEvent(QStringLiteral("connect-failed")) >= 0);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process.exitCode(), 1);
}

void TestGadgetSim::imageOnRequestAllData()
{
    const QByteArray deviceKey =
        QByteArray::fromHex("4142434445464748494a4b4c4d4e4f505152535455565758");
    const QByteArray serverKey =
        QByteArray::fromHex("6162636465666768696a6b6c6d6e6f707172737475767778");
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim,
                   {"--serial", "TR31-TEST-77", "--device-key", deviceKey.toHex(), "--server-key",
                    serverKey.toHex(), "--firmware-version", "20210704", "--clock", Clock,
                    "--frozen-clock", "--verbose"}));
    peer.sendCommand(3);
    QVERIFY(sim.waitForEvent(QStringLiteral("attached")) >= 0);
    QByteArray image;
    QVERIFY(requestImage(peer, &image));
    QVERIFY(sim.indexOf(QStringLiteral("request-all-data")) >= 0);

    // Wire format: two packets (0..84 and 85..175), 23-byte fragments, header
    // fields little-endian, zero padding.
    QCOMPARE(peer.units.size(), 8);
    const quint8 lengths[] = {23, 23, 23, 16, 23, 23, 23, 22};
    for (int i = 0; i < 8; ++i) {
        const PeerLink::Unit &u = peer.units.at(i);
        QCOMPARE(u.index, quint16(i % 4));
        QCOMPARE(u.count, quint16(4));
        QCOMPARE(u.offset, i < 4 ? 0u : 85u);
        QCOMPARE(u.length, lengths[i]);
        QCOMPARE(u.raw.mid(9 + u.length), QByteArray(23 - u.length, '\0'));
    }
    QCOMPARE(peer.units.at(4).raw.left(9), QByteArray::fromHex("000004005500000017"));

    QCOMPARE(image.size(), 176);
    QCOMPARE(image.mid(0, 2), le16(5));
    QCOMPARE(image.mid(2, 4), le32(20210704));
    QCOMPARE(image.mid(6, 30), QByteArray("TR31-TEST-77").leftJustified(30, '\0'));
    QCOMPARE(image.mid(36, 24), deviceKey);
    QCOMPARE(image.mid(60, 24), serverKey);
    QCOMPARE(image.at(84), '\0');
    QCOMPARE(image.mid(85, 9), QByteArray::fromHex("e40705010c22381503"));
    QCOMPARE(image.at(96), '\1');          // syncFlag on
    QCOMPARE(image.at(106), '\0');         // timeCmd reads back 0
    QVERIFY(quint8(image.at(107)) <= 1);   // timeFormat
    QVERIFY(quint8(image.at(108)) <= 100); // batteryLevel
    const quint16 millivolts = qFromLittleEndian<quint16>(image.constData() + 109);
    QVERIFY(millivolts > 3000 && millivolts < 4300); // batteryVoltage
    QVERIFY(quint8(image.at(145)) <= 100);           // indicBrightness
    QVERIFY(quint8(image.at(146)) <= 5);             // indicBackType
    QCOMPARE(qFromLittleEndian<quint16>(image.constData() + 156), quint16(1000));
    QVERIFY(qFromLittleEndian<quint32>(image.constData() + 172) > 0); // startOfUseDaysAgo
    QVERIFY(qFromLittleEndian<quint16>(image.constData() + 121) > 0); // batteryChargeCycles

    // The readable trace goes to stderr, never into the EVENT stream.
    QTRY_VERIFY(sim.errorOutput.contains("recv packet offset=84 size=1 deviceCommand=1"));
    QVERIFY(sim.errorOutput.contains("send fragment index=3 count=4 offset=0x55 length=22"));
    QVERIFY(sim.errorOutput.contains("send packet offset=85 size=91 dateTime"));
    QCOMPARE(sim.otherLines, QStringList());
}

void TestGadgetSim::commandsAreReported()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {}));
    const struct
    {
        quint8 command;
        const char *event;
    } rows[] = {{2, "key-accepted"},
                {4, "detached"},
                {7, "transportation-mode"},
                {6, "command-unknown value=6"}};
    for (const auto &row : rows) {
        peer.sendCommand(row.command);
        QVERIFY2(sim.waitForEvent(QLatin1String(row.event)) >= 0, row.event);
    }
    QCOMPARE(peer.packets.size(), 0);
}

void TestGadgetSim::writeIsAppliedAndEchoed_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("event");
    QTest::newRow("indicBrightness") << 145 << QByteArray(1, char(50))
                                     << "write offset=145 size=1 name=indicBrightness value=50";
    QTest::newRow("timeOffset negative")
        << 94 << le16(quint16(-120)) << "write offset=94 size=2 name=timeOffset value=-120";
    QTest::newRow("predictedWTStby")
        << 112 << le32(123456) << "write offset=112 size=4 name=predictedWTStby value=123456";
    QTest::newRow("indicDuration_yy_ms")
        << 166 << le16(4000) << "write offset=166 size=2 name=indicDuration_yy_ms value=4000";
    QTest::newRow("syncFlag off") << 96 << QByteArray(1, '\0')
                                  << "write offset=96 size=1 name=syncFlag value=false";
    QTest::newRow("startOfUseDaysAgo last field")
        << 172 << le32(7) << "write offset=172 size=4 name=startOfUseDaysAgo value=7";
    QTest::newRow("two fields in one packet")
        << 139 << QByteArray::fromHex("030201") << "write offset=139 size=3 name=- value=030201";
}

void TestGadgetSim::writeIsAppliedAndEchoed()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, event);
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--clock", Clock, "--frozen-clock"}));
    peer.sendPacket(quint32(offset), bytes);
    QVERIFY(sim.waitForEvent(event) >= 0);
    QTRY_COMPARE(peer.packets.size(), 1);
    QCOMPARE(peer.packets.at(0).offset, quint32(offset));
    QCOMPARE(peer.packets.at(0).data, bytes);
    QByteArray image;
    QVERIFY(requestImage(peer, &image));
    QCOMPARE(image.mid(offset, bytes.size()), bytes);
}

void TestGadgetSim::writeOutsideMemoryIsIgnored()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {}));
    peer.sendPacket(170, QByteArray(10, '\x7f'));
    peer.sendPacket(145, QByteArray(1, char(20)));
    QVERIFY(sim.waitForEvent(
                QStringLiteral("write-ignored offset=170 size=10 reason=out-of-range")) >= 0);
    QTRY_COMPARE(peer.packets.size(), 1);
    QCOMPARE(peer.packets.at(0).offset, 145u); // no echo for the refused write came first
    QByteArray image;
    QVERIFY(requestImage(peer, &image));
    QCOMPARE(image.mid(170, 6).count('\x7f'), 0);
}

void TestGadgetSim::timeCommandStepsClock_data()
{
    QTest::addColumn<QString>("clock");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("expected");
    QTest::newRow("second units up") << "2020-05-01T12:34:56" << 1 << "applied"
                                     << "2020-05-01T12:34:57";
    QTest::newRow("minute 59 units up stays") << "2020-05-01T12:59:00" << 5 << "applied"
                                              << "2020-05-01T12:59:00";
    QTest::newRow("minute 50 tens up refused") << "2020-05-01T12:50:00" << 7 << "refused"
                                               << "2020-05-01T12:50:00";
    QTest::newRow("minute 05 tens down refused") << "2020-05-01T12:05:00" << 8 << "refused"
                                                 << "2020-05-01T12:05:00";
    QTest::newRow("hour 13 tens up") << "2020-05-01T13:00:00" << 11 << "applied"
                                     << "2020-05-01T23:00:00";
    QTest::newRow("hour 19 tens up refused") << "2020-05-01T19:00:00" << 11 << "refused"
                                             << "2020-05-01T19:00:00";
    QTest::newRow("day 30 April units up refused") << "2020-04-30T08:00:00" << 13 << "refused"
                                                   << "2020-04-30T08:00:00";
    QTest::newRow("day 30 units down stays") << "2020-04-30T08:00:00" << 14 << "applied"
                                             << "2020-04-30T08:00:00";
    QTest::newRow("day 10 tens down refused") << "2020-04-10T08:00:00" << 16 << "refused"
                                              << "2020-04-10T08:00:00";
    QTest::newRow("31 Jan month up leap") << "2020-01-31T08:00:00" << 17 << "applied"
                                          << "2020-02-29T08:00:00";
    QTest::newRow("31 Jan month up common") << "2021-01-31T08:00:00" << 17 << "applied"
                                            << "2021-02-28T08:00:00";
    QTest::newRow("year 2003 tens down wraps") << "2003-06-15T08:00:00" << 24 << "applied"
                                               << "2093-06-15T08:00:00";
    QTest::newRow("year 2099 units up stays") << "2099-06-15T08:00:00" << 21 << "applied"
                                              << "2099-06-15T08:00:00";
    QTest::newRow("29 Feb year up refused") << "2020-02-29T08:00:00" << 21 << "refused"
                                            << "2020-02-29T08:00:00";
    QTest::newRow("no command") << "2020-05-01T12:00:00" << 0 << "invalid"
                                << "2020-05-01T12:00:00";
    QTest::newRow("beyond last action") << "2020-05-01T12:00:00" << 25 << "invalid"
                                        << "2020-05-01T12:00:00";
}

void TestGadgetSim::timeCommandStepsClock()
{
    QFETCH(QString, clock);
    QFETCH(int, action);
    QFETCH(QString, result);
    QFETCH(QString, expected);
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--clock", clock, "--frozen-clock"}));
    peer.sendPacket(106, QByteArray(1, char(action)));
    QVERIFY(sim.waitForEvent(QStringLiteral("timecmd action=%1 result=%2 time=%3.000")
                                 .arg(action)
                                 .arg(result, expected)) >= 0);
    QTRY_COMPARE(peer.packets.size(), 1);
    QCOMPARE(peer.packets.at(0).offset, 85u);
    QCOMPARE(peer.packets.at(0).data, dateTimeBytes(dt(expected.toLatin1().constData())));
}

void TestGadgetSim::clockTicks()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--clock", "2020-12-31T23:59:59.500"}));
    QByteArray image;
    QVERIFY(requestImage(peer, &image));
    const QDateTime first = dt("2020-12-31T23:59:59.500");
    QTest::qWait(700);
    QVERIFY(requestImage(peer, &image));
    const QByteArray b = image.mid(85, 9);
    const QDateTime now(
        QDate(qFromLittleEndian<qint16>(b.constData()), b.at(2), b.at(3)),
        QTime(b.at(4), b.at(5), b.at(6), qFromLittleEndian<qint16>(b.constData() + 7)));
    QVERIFY2(now.isValid(), b.toHex().constData());
    QVERIFY(now.date().year() == 2021); // ran over midnight into the new year
    QVERIFY(first.msecsTo(now) >= 700 && first.msecsTo(now) < 5000);
}

void TestGadgetSim::clockIsPushed()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--clock", Clock, "--frozen-clock", "--push-clock", "20"}));
    QTRY_VERIFY(peer.packets.size() >= 2);
    for (const PeerLink::Packet &p : qAsConst(peer.packets)) {
        QCOMPARE(p.offset, 85u);
        QCOMPARE(p.data, dateTimeBytes(dt(Clock)));
    }
}

void TestGadgetSim::syncTimeFollowsSyncFlag()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--clock", Clock, "--frozen-clock"}));
    const QByteArray synced = dateTimeBytes(dt("2021-01-02T03:04:05.006"));

    peer.sendPacket(96, QByteArray(1, '\0'));
    QTRY_COMPARE(peer.packets.size(), 1);
    peer.sendPacket(97, synced);
    QVERIFY(sim.waitForEvent(QStringLiteral("write-ignored offset=97 size=9 reason=sync-off")) >=
            0);
    QTRY_COMPARE(peer.packets.size(), 2);
    QCOMPARE(peer.packets.at(1).offset, 97u);
    QCOMPARE(peer.packets.at(1).data.toHex(), QByteArray("e40705010c22381503")); // unchanged
    peer.sendPacket(94, le16(quint16(-211)));
    QTRY_COMPARE(peer.packets.size(), 3);
    // No zone is 211 minutes behind UTC, so the stored offset cannot be it.
    const int localOffset = QDateTime::currentDateTime().offsetFromUtc() / 60;
    QCOMPARE(peer.packets.at(2).data, le16(quint16(localOffset)));

    peer.sendPacket(96, QByteArray(1, '\1'));
    peer.sendPacket(94, le16(quint16(-211)));
    peer.sendPacket(97, synced);
    QVERIFY(sim.waitForEvent(QStringLiteral("sync time=2021-01-02T03:04:05.006 offset=-211")) >= 0);
    // Echoes of syncFlag, timeOffset and syncTime, then the clock that took it.
    QTRY_COMPARE(peer.packets.size(), 7);
    QCOMPARE(peer.packets.at(4).data, le16(quint16(-211)));
    QCOMPARE(peer.packets.at(5).offset, 97u);
    QCOMPARE(peer.packets.at(5).data, synced);
    QCOMPARE(peer.packets.at(6).offset, 85u);
    QCOMPARE(peer.packets.at(6).data, synced);
}

void TestGadgetSim::factoryResetRestoresDefaults()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--clock", Clock, "--frozen-clock"}));
    QByteArray defaults;
    QVERIFY(requestImage(peer, &defaults));
    peer.sendPacket(145, QByteArray(1, char(10)));
    peer.sendPacket(142, QByteArray(1, char(5)));
    peer.sendPacket(106, QByteArray(1, char(1))); // clock 12:34:57
    QTRY_COMPARE(peer.packets.size(), 5);

    const int before = peer.packets.size();
    peer.sendCommand(5);
    QVERIFY(sim.waitForEvent(QStringLiteral("factory-reset")) >= 0);
    QTRY_COMPARE(peer.packets.size(), before + 2);
    const QByteArray image = peer.packets.at(before).data + peer.packets.at(before + 1).data;
    QCOMPARE(image.size(), 176);
    QCOMPARE(image.at(145), defaults.at(145));
    QCOMPARE(image.at(142), defaults.at(142));
    // The clock keeps the time it had; everything else is as delivered.
    QCOMPARE(image.mid(85, 9), dateTimeBytes(dt("2020-05-01T12:34:57.789")));
    QCOMPARE(image.left(85), defaults.left(85));
    QCOMPARE(image.mid(94), defaults.mid(94));
}

void TestGadgetSim::firmwareIsChecked_data()
{
    QByteArray big(1000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + 3);
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("event");
    QTest::newRow("abc") << withCrc("abc", 0x352441C2) << "firmware ok size=3 crc=352441c2";
    QTest::newRow("check value") << withCrc("123456789", 0xCBF43926)
                                 << "firmware ok size=9 crc=cbf43926";
    QTest::newRow("wrong checksum")
        << withCrc("abc", 0x352441C3) << "firmware bad size=3 crc=352441c2 stored=352441c3";
    QByteArray corrupted = withCrc("abcd", 0xED82CD11);
    corrupted[1] = 'X';
    QTest::newRow("corrupted byte") << corrupted << "firmware bad size=4 crc=";
    QTest::newRow("too short") << QByteArray("ab") << "firmware bad size=2 crc=00000000";
    const quint32 bigCrc = bitwiseCrc32(big);
    QTest::newRow("44 fragments")
        << withCrc(big, bigCrc)
        << QStringLiteral("firmware ok size=1000 crc=%1").arg(bigCrc, 8, 16, QLatin1Char('0'));
}

void TestGadgetSim::firmwareIsChecked()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, event);
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {}));
    peer.sendPacket(0x100000, packet);
    QVERIFY(sim.waitForEvent(QStringLiteral("firmware ")) >= 0);
    QVERIFY2(sim.indexOf(event) >= 0, qPrintable(sim.events.join('\n')));
    QCOMPARE(peer.packets.size(), 0);
}

void TestGadgetSim::splitStreamIsReassembled()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {}));
    // A firmware image in two packets, the stream cut at odd places.
    const QByteArray image = withCrc(QByteArray(40, 'F'), 0);
    QByteArray bytes;
    const QByteArray first = image.left(30), second = image.mid(30);
    bytes += PeerLink::fragment(0, 2, 0x100000, 23, first.left(23));
    bytes += PeerLink::fragment(1, 2, 0x100000, 7, first.mid(23));
    peer.sendRaw(bytes.left(5));
    QTest::qWait(20);
    peer.sendRaw(bytes.mid(5, 40));
    QTest::qWait(20);
    peer.sendRaw(bytes.mid(45));
    QVERIFY(sim.waitForEvent(QStringLiteral("firmware bad size=26")) >= 0);
    peer.sendPacket(0x100000 + 30, second);
    QVERIFY(sim.waitForEvent(QStringLiteral("firmware bad size=40")) >= 0);
    QCOMPARE(sim.indexOf(QStringLiteral("wire-error")), -1);
}

void TestGadgetSim::wireErrorsAreReported_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("event");
    QTest::addColumn<bool>("applied");
    QByteArray dirty = PeerLink::fragment(0, 1, 145, 1, QByteArray(1, char(33)));
    dirty[31] = 'x';
    QTest::newRow("padding") << dirty << "wire-error reason=padding index=0 count=1 offset=145"
                             << true;
    QTest::newRow("length over 23")
        << PeerLink::fragment(0, 1, 145, 30, QByteArray(1, char(33)))
        << "wire-error reason=length index=0 count=1 offset=145 length=30" << false;
    QTest::newRow("count zero") << PeerLink::fragment(0, 0, 145, 1, QByteArray(1, char(33)))
                                << "wire-error reason=count" << false;
    QTest::newRow("missing middle") << PeerLink::fragment(0, 3, 145, 23, QByteArray(23, 'a')) +
                                           PeerLink::fragment(2, 3, 145, 1, QByteArray(1, 'c'))
                                    << "wire-error reason=sequence index=2 count=3" << false;
    QTest::newRow("short inner fragment")
        << PeerLink::fragment(0, 2, 0x100000, 3, "abc") +
               PeerLink::fragment(1, 2, 0x100000, 4, QByteArray::fromHex("c2412435"))
        << "wire-error reason=short-fragment index=0 count=2" << true;
    QTest::newRow("new packet interrupts")
        << PeerLink::fragment(0, 2, 0x100000, 23, QByteArray(23, 'a')) +
               PeerLink::fragment(0, 1, 145, 1, QByteArray(1, char(33)))
        << "wire-error reason=interrupted index=0 count=2 offset=1048576" << true;
    QTest::newRow("index beyond count") << PeerLink::fragment(3, 2, 145, 1, QByteArray(1, char(33)))
                                        << "wire-error reason=index index=3 count=2" << false;
    QTest::newRow("offset changes")
        << PeerLink::fragment(0, 2, 0x100000, 23, QByteArray(23, 'a')) +
               PeerLink::fragment(1, 2, 0x100001, 1, "a")
        << "wire-error reason=header-mismatch index=1 count=2 offset=1048577" << true;
}

void TestGadgetSim::wireErrorsAreReported()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, event);
    QFETCH(bool, applied);
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {}));
    peer.sendRaw(bytes);
    QVERIFY2(sim.waitForEvent(event) >= 0, qPrintable(sim.events.join('\n')));
    // A marker packet proves the sim read everything before it.
    peer.sendCommand(2);
    QVERIFY(sim.waitForEvent(QStringLiteral("key-accepted")) >= 0);
    const bool handled = sim.indexOf(QStringLiteral("write offset=145")) >= 0 ||
                         sim.indexOf(QStringLiteral("firmware")) >= 0;
    QCOMPARE(handled, applied);
}

void TestGadgetSim::dropFragment()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--drop-fragment", "2"}));
    peer.sendCommand(1);
    QVERIFY(sim.waitForEvent(QStringLiteral("fault drop-fragment n=2 index=1 offset=0")) >= 0);
    QVERIFY(sim.waitForEvent(QStringLiteral("sent offset=85")) >= 0);
    QTRY_COMPARE(peer.units.size(), 7);
    QCOMPARE(peer.units.at(0).index, quint16(0));
    QCOMPARE(peer.units.at(1).index, quint16(2));
    QCOMPARE(peer.packets.size(), 1); // only the second packet survives
    QCOMPARE(peer.packets.at(0).offset, 85u);
    // The fault fires once: the next request arrives whole.
    QByteArray image;
    QVERIFY(requestImage(peer, &image));
    QCOMPARE(image.size(), 176);
}

void TestGadgetSim::reorderFragment()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--reorder-fragment", "2"}));
    peer.sendCommand(1);
    QVERIFY(sim.waitForEvent(QStringLiteral("fault reorder-fragment n=2 index=1 offset=0")) >= 0);
    QTRY_COMPARE(peer.units.size(), 8);
    QVector<quint16> order;
    for (const PeerLink::Unit &u : qAsConst(peer.units))
        order.append(u.index);
    QCOMPARE(order, (QVector<quint16>{0, 2, 1, 3, 0, 1, 2, 3}));
    QCOMPARE(peer.packets.size(), 1);
}

void TestGadgetSim::disconnectAfterPackets()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--disconnect-after", "2"}));
    QSignalSpy gone(&peer, &PeerLink::peerDisconnected);
    peer.sendCommand(3);
    peer.sendCommand(1);
    QVERIFY(gone.wait(5000));
    QCOMPARE(peer.packets.size(), 2); // the reply left before the connection closed
    QVERIFY(sim.indexOf(QStringLiteral("fault disconnect-after packets=2")) >= 0);
    QVERIFY(sim.waitForEvent(QStringLiteral("disconnected reason=after-packets")) >= 0);
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
}

void TestGadgetSim::disconnectInFirmware()
{
    PeerLink peer;
    SimProcess sim;
    QVERIFY(attach(peer, sim, {"--disconnect-in-firmware"}));
    QSignalSpy gone(&peer, &PeerLink::peerDisconnected);
    peer.sendPacket(145, QByteArray(1, char(1)));                // parameters are not affected
    peer.sendPacket(0x100000, withCrc(QByteArray(230, 'f'), 0)); // 11 fragments
    QVERIFY(gone.wait(5000));
    QVERIFY(sim.indexOf(QStringLiteral("fault disconnect-in-firmware index=5 count=11")) >= 0);
    QVERIFY(sim.waitForEvent(QStringLiteral("disconnected reason=firmware")) >= 0);
    QCOMPARE(sim.indexOf(QStringLiteral("firmware ")), -1);
    QCOMPARE(peer.packets.size(), 1);
}

void TestGadgetSim::garbageIsReproducible()
{
    QVector<QByteArray> runs;
    for (int run = 0; run < 2; ++run) {
        PeerLink peer;
        SimProcess sim;
        QVERIFY(attach(peer, sim, {"--garbage", "3", "--seed", "7"}));
        peer.sendCommand(1);
        QVERIFY(sim.waitForEvent(QStringLiteral("fault garbage units=3")) >= 0);
        QTRY_COMPARE(peer.units.size(), 11);
        QByteArray garbage;
        for (int i = 8; i < 11; ++i)
            garbage += peer.units.at(i).raw;
        QCOMPARE(garbage.size(), 96);
        QVERIFY(garbage.count('\0') < 16);
        runs.append(garbage);
        // The garbage comes once; the watch goes on answering.
        QByteArray image;
        QVERIFY(requestImage(peer, &image));
        QCOMPARE(peer.units.size(), 19);
    }
    QCOMPARE(runs.at(0), runs.at(1));
}

void TestGadgetSim::reconnectAfterRefusalAndDisconnect()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    SimProcess sim;
    sim.start({"--port", QString::number(port), "--reconnect", "--reconnect-delay", "50",
               "--disconnect-after", "1", "--clock", Clock, "--frozen-clock"});
    QVERIFY(sim.waitForEvent(QStringLiteral("connect-failed")) >= 0);
    PeerLink peer;
    QVERIFY(peer.listen(port));
    QVERIFY(sim.waitForEvent(QStringLiteral("connected")) >= 0);
    QTRY_VERIFY(peer.isConnected());

    // The watch keeps its memory across the unplug.
    peer.sendPacket(145, QByteArray(1, char(42)));
    QVERIFY(sim.waitForEvent(QStringLiteral("disconnected reason=after-packets")) >= 0);
    const int second = sim.waitForEvent(QStringLiteral("connected"), 5000,
                                        sim.indexOf(QStringLiteral("disconnected")));
    QVERIFY(second >= 0);
    QTRY_COMPARE(peer.connectionCount(), 2);
    QTRY_VERIFY(peer.isConnected());
    peer.packets.clear();
    peer.units.clear();
    QByteArray image;
    QVERIFY(requestImage(peer, &image));
    QCOMPARE(image.at(145), char(42));
    QCOMPARE(sim.process.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestGadgetSim)
#include "tst_gadgetsim.moc"
