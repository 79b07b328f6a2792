#include "fragmentpeer.h"

#include "model/crc32.h"
#include "model/ggadget.h"
#include "model/slfirmwarever.h"
#include "model/slproperty.h"
#include "storage/sldevicerecord.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QByteArray kDeviceKey(24, 'D');
const QByteArray kServerKey(24, 'S');
const QByteArray kSerial("TR31-000042");

QByteArray tr31Identity()
{
    return FragmentPeer::identity(5, 20200315, kSerial, kDeviceKey, kServerKey);
}
} // namespace

class TestGGadget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void basicBlockLayout();
    void firstBlockSignalOrder();
    void keysAcceptedOncePerConnection();
    void keysNeedBoth();
    void packetAddressBoundary_data();
    void packetAddressBoundary();
    void mirrorGrowsWithZeros();
    void garbageAndPartialFragments();
    void authorizeExtendsTr31Once();
    void authorizeOtherModel();
    void authorizeFromIdentitySignal();
    void authorizeWithRecord_data();
    void authorizeWithRecord();
    void recordRefusedAfterAuthorize();
    void sendCommandAlwaysSends();
    void parameterWriteAndEcho();
    void writeFirmwareAddress();
    void writeDelay();
    void disconnectReportedOnce();
    void missingNodesGiveEmptyValues();
    void firmwareVersion_data();
    void firmwareVersion();
    void crc32Vectors_data();
    void crc32Vectors();

private:
    void connectPair();
    void sendAndWait(quint32 offset, const QByteArray &data);

    QTemporaryDir dir;
    QTcpServer server;
    FragmentPeer *peer = nullptr;
    std::unique_ptr<GGadget> gadget;
};

void TestGGadget::initTestCase()
{
    QVERIFY(dir.isValid());
    // The gadget saves its tree next to the program; keep that out of the build tree.
    QDir::setCurrent(dir.path());
    QVERIFY(server.listen(QHostAddress::LocalHost));
}

void TestGGadget::init()
{
    connectPair();
}

void TestGGadget::cleanup()
{
    gadget.reset();
    delete peer;
    peer = nullptr;
}

void TestGGadget::connectPair()
{
    peer = new FragmentPeer;
    peer->connectTo(server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *socket = server.nextPendingConnection();
    QVERIFY(socket);
    QTRY_COMPARE(peer->socket->state(), QAbstractSocket::ConnectedState);
    gadget = std::make_unique<GGadget>(socket);
}

void TestGGadget::sendAndWait(quint32 offset, const QByteArray &data)
{
    QSignalSpy received(gadget.get(), &GGadget::dataTransmitted);
    peer->sendPacket(offset, data);
    const auto done = [&] {
        for (const QList<QVariant> &args : qAsConst(received)) {
            const auto info = args.at(0).value<SlPacketInfo>();
            if (info.kind == SlPacketInfo::PacketReceived && info.offset == offset)
                return true;
        }
        return false;
    };
    QTRY_VERIFY(done());
}

void TestGGadget::basicBlockLayout()
{
    const struct
    {
        const char *name;
        int type;
        quint32 offset;
        quint32 size;
        quint32 flags;
    } expected[] = {
        {"productId", PROPERTY_UINT16, 0, 2, 3},
        {"firmwareVersion", PROPERTY_UINT32, 2, 4, 3},
        {"productSerial", PROPERTY_UTF8_STRING, 6, 30, 19},
        {"deviceKey", PROPERTY_LATIN1_STRING, 36, 24, 19},
        {"serverKey", PROPERTY_LATIN1_STRING, 60, 24, 19},
        {"deviceCommand", PROPERTY_UINT8, 84, 1, 2},
    };
    QCOMPARE(gadget->properties().toMap().size(), 6);
    for (const auto &e : expected) {
        SlProperty *node = gadget->findProperty(QLatin1String(e.name));
        QVERIFY2(node, e.name);
        QCOMPARE(node->type(), e.type);
        QCOMPARE(node->offset(), e.offset);
        QCOMPARE(node->size(), e.size);
        QCOMPARE(node->flags(), e.flags);
    }
    QVERIFY(!gadget->isBasicInit() && !gadget->isAuthorized() && !gadget->isExtendInit());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("temp.bsp"))).size() > 0);
}

void TestGGadget::firstBlockSignalOrder()
{
    QStringList events;
    connect(gadget.get(), &GGadget::idChanged, this, [&] { events << "id"; });
    connect(gadget.get(), &GGadget::serialChanged, this, [&] { events << "serial"; });
    connect(gadget.get(), &GGadget::deviceKeyChanged, this, [&] { events << "deviceKey"; });
    connect(gadget.get(), &GGadget::serverKeyChanged, this, [&] { events << "serverKey"; });
    connect(gadget.get(), &GGadget::isBasicInitChanged, this, [&] { events << "basicInit"; });
    connect(gadget.get(), &GGadget::anyPropertyChanged, this, [&] { events << "any"; });
    connect(gadget.get(), &GGadget::dataTransmitted, this, [&](const SlPacketInfo &info) {
        if (info.kind == SlPacketInfo::PacketSent)
            events << QStringLiteral("write@%1:%2")
                          .arg(info.offset)
                          .arg(QString::fromLatin1(info.data.toHex()));
    });

    sendAndWait(0, tr31Identity());
    QCOMPARE(events, QStringList({"id", "serial", "deviceKey", "write@84:02", "serverKey",
                                  "basicInit", "any"}));
    QCOMPARE(gadget->serial(), QString::fromLatin1(kSerial));
    QCOMPARE(gadget->deviceKey(), kDeviceKey);
    QCOMPARE(gadget->serverKey(), kServerKey);
    QCOMPARE(gadget->id(), 5);
    QVERIFY(gadget->isBasicInit());
}

void TestGGadget::keysAcceptedOncePerConnection()
{
    QSignalSpy basic(gadget.get(), &GGadget::isBasicInitChanged);
    QSignalSpy serial(gadget.get(), &GGadget::serialChanged);
    sendAndWait(0, tr31Identity());
    sendAndWait(0, tr31Identity());
    sendAndWait(36, kDeviceKey);
    QCOMPARE(basic.count(), 1);
    QCOMPARE(serial.count(), 2);
    QVERIFY(peer->waitForPackets(1));
    QTest::qWait(50);
    QCOMPARE(peer->countPackets(84, QByteArray(1, '\2')), 1);
    QCOMPARE(peer->packets.size(), 1);

    // A new connection is a new session: the keys are accepted again there.
    cleanup();
    connectPair();
    sendAndWait(0, tr31Identity());
    QVERIFY(peer->waitForPackets(1));
    QCOMPARE(peer->countPackets(84, QByteArray(1, '\2')), 1);
}

void TestGGadget::keysNeedBoth()
{
    sendAndWait(0, FragmentPeer::identity(5, 1, kSerial, kDeviceKey, QByteArray()));
    QTest::qWait(50);
    QCOMPARE(peer->packets.size(), 0);
    sendAndWait(60, kServerKey);
    QVERIFY(peer->waitForPackets(1));
    QCOMPARE(peer->countPackets(84, QByteArray(1, '\2')), 1);
}

void TestGGadget::packetAddressBoundary_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<bool>("kept");
    QTest::newRow("last parameter byte") << quint32(0xFFFFF) << true;
    QTest::newRow("firmware base") << quint32(0x100000) << false;
    QTest::newRow("inside firmware area") << quint32(0x123456) << false;
    QTest::newRow("top of the address space") << quint32(0xFFFFFFFF) << false;
}

void TestGGadget::packetAddressBoundary()
{
    QFETCH(quint32, address);
    QFETCH(bool, kept);
    QSignalSpy any(gadget.get(), &GGadget::anyPropertyChanged);
    QSignalSpy id(gadget.get(), &GGadget::idChanged);
    sendAndWait(address, QByteArray("\x05\x00", 2));
    QCOMPARE(any.count(), kept ? 1 : 0);
    QCOMPARE(id.count(), 0);
    QCOMPARE(gadget->mirrorData().size(), kept ? int(address) + 2 : 0);
}

void TestGGadget::mirrorGrowsWithZeros()
{
    sendAndWait(200, QByteArray("abc"));
    QByteArray expected(200, '\0');
    expected += "abc";
    QCOMPARE(gadget->mirrorData(), expected);
    sendAndWait(2, QByteArray("\x01\x02", 2));
    expected[2] = 1;
    expected[3] = 2;
    QCOMPARE(gadget->mirrorData(), expected);
}

void TestGGadget::garbageAndPartialFragments()
{
    QSignalSpy any(gadget.get(), &GGadget::anyPropertyChanged);
    QRandomGenerator random(7);
    QByteArray noise(32 * 50 + 17, '\0');
    for (char &c : noise)
        c = char(random.bounded(256));
    // No whole packet may come out of noise whose fragments never line up.
    for (int i = 0; i < noise.size(); i += 32)
        noise[i + 1] = char(0x7F);
    peer->sendRaw(noise);
    QTest::qWait(50);
    // A fragment cut in the middle, then a packet whose second fragment never arrives.
    peer->sendRaw(FragmentPeer::fragment(0, 1, 0, 5, "hello").left(20));
    QTest::qWait(50);
    peer->sendRaw(FragmentPeer::packetBytes(0, tr31Identity()).left(32));
    QTest::qWait(100);
    QCOMPARE(any.count(), 0);
    QVERIFY(!gadget->isBasicInit());

    // Whether the link keeps a cut fragment for the next read or drops it, filling the stream
    // up to a whole number of fragments lets the next packet through.
    const int sent = noise.size() + 20 + 32;
    peer->sendRaw(QByteArray((32 - sent % 32) % 32, '\0'));
    QTest::qWait(50);
    sendAndWait(0, tr31Identity());
    QVERIFY(gadget->isBasicInit());
}

void TestGGadget::authorizeExtendsTr31Once()
{
    sendAndWait(0, tr31Identity());
    QStringList events;
    connect(gadget.get(), &GGadget::isExtendInitChanged, this, [&] { events << "extend"; });
    connect(gadget.get(), &GGadget::isAuthorizedChanged, this, [&] { events << "auth"; });
    QSignalSpy props(gadget.get(), &GGadget::propertiesChanged);
    QVERIFY(gadget->authorize());
    QCOMPARE(events, QStringList({"extend", "auth"}));
    QCOMPARE(gadget->properties().toMap().size(), 51);
    QVERIFY(props.count() >= 1);
    SlProperty *last = gadget->findProperty(QStringLiteral("startOfUseDaysAgo"));
    QVERIFY(last);
    QCOMPARE(last->offset() + last->size(), 176u);
    QVERIFY(!gadget->paramsModel().isEmpty());

    QVERIFY(!gadget->authorize());
    QCOMPARE(events.size(), 2);
    QCOMPARE(gadget->properties().toMap().size(), 51);
}

void TestGGadget::authorizeOtherModel()
{
    sendAndWait(0, FragmentPeer::identity(3, 20200315, kSerial, kDeviceKey, kServerKey));
    QSignalSpy extend(gadget.get(), &GGadget::isExtendInitChanged);
    QVERIFY(gadget->authorize());
    QVERIFY(gadget->isAuthorized());
    QCOMPARE(extend.count(), 0);
    QCOMPARE(gadget->properties().toMap().size(), 6);
    QVERIFY(gadget->paramsModel().isEmpty());
    QVERIFY(gadget->statisticsModel().isEmpty());
}

void TestGGadget::authorizeFromIdentitySignal()
{
    // The hub authorises on the device key's change, which fires while the tree is still
    // walking the received block.
    QStringList events;
    bool result = false;
    connect(gadget.get(), &GGadget::deviceKeyChanged, this, [&] {
        result = gadget->authorize();
        events << "authorize";
    });
    connect(gadget.get(), &GGadget::serverKeyChanged, this, [&] { events << "serverKey"; });
    connect(gadget.get(), &GGadget::isExtendInitChanged, this, [&] { events << "extend"; });
    connect(gadget.get(), &GGadget::isAuthorizedChanged, this, [&] { events << "auth"; });
    connect(gadget.get(), &GGadget::anyPropertyChanged, this, [&] { events << "any"; });
    sendAndWait(0, tr31Identity());
    QVERIFY(result);
    QCOMPARE(events, QStringList({"authorize", "serverKey", "extend", "auth", "any"}));
    QCOMPARE(gadget->properties().toMap().size(), 51);
    QVERIFY(!gadget->authorize());
}

void TestGGadget::authorizeWithRecord_data()
{
    QTest::addColumn<QByteArray>("recordKey");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("same key") << kDeviceKey << true;
    QTest::newRow("one byte differs") << QByteArray(23, 'D') + 'E' << false;
    QTest::newRow("shorter key") << QByteArray(23, 'D') << false;
    QTest::newRow("empty key") << QByteArray() << false;
}

void TestGGadget::authorizeWithRecord()
{
    QFETCH(QByteArray, recordKey);
    QFETCH(bool, accepted);
    sendAndWait(0, tr31Identity());
    SlDeviceRecord record;
    record.deviceKey = recordKey;
    record.pin = QStringLiteral("4711");
    record.description = QStringLiteral("TR-31 steel");
    record.produced = QDateTime(QDate(2020, 3, 1), QTime(8, 0), Qt::UTC);
    record.activated = QDateTime(QDate(2020, 4, 2), QTime(9, 30), Qt::UTC);
    QSignalSpy auth(gadget.get(), &GGadget::isAuthorizedChanged);
    QSignalSpy description(gadget.get(), &GGadget::descriptionChanged);

    QCOMPARE(gadget->authorize(record), accepted);
    QCOMPARE(auth.count(), accepted ? 1 : 0);
    QCOMPARE(gadget->isExtendInit(), accepted);
    QCOMPARE(description.count(), 0);
    QCOMPARE(gadget->checkPin(QStringLiteral("4711")), accepted);
    QCOMPARE(gadget->checkPin(QString()), !accepted);
    QCOMPARE(gadget->description(), accepted ? record.description : QString());
    QCOMPARE(gadget->produced(), accepted ? record.produced : QDateTime());
    QCOMPARE(gadget->activated(), accepted ? record.activated : QDateTime());
}

void TestGGadget::recordRefusedAfterAuthorize()
{
    sendAndWait(0, tr31Identity());
    QVERIFY(gadget->authorize());
    SlDeviceRecord record;
    record.deviceKey = kDeviceKey;
    record.pin = QStringLiteral("1234");
    QSignalSpy auth(gadget.get(), &GGadget::isAuthorizedChanged);
    QVERIFY(!gadget->authorize(record));
    QCOMPARE(auth.count(), 0);
    QVERIFY(gadget->checkPin(QString()));
    QVERIFY(!gadget->checkPin(QStringLiteral("1234")));
}

void TestGGadget::sendCommandAlwaysSends()
{
    gadget->sendCommand(GGadget::DEVICE_COMMAND_ATTACHED);
    gadget->sendCommand(GGadget::DEVICE_COMMAND_REQUEST_ALL_DATA);
    gadget->sendCommand(GGadget::DEVICE_COMMAND_REQUEST_ALL_DATA);
    QVERIFY(peer->waitForPackets(3));
    QCOMPARE(peer->packets.at(0).offset, 84u);
    QCOMPARE(peer->packets.at(0).data, QByteArray(1, '\3'));
    QCOMPARE(peer->countPackets(84, QByteArray(1, '\1')), 2);
    QCOMPARE(peer->fragments, 3);
}

void TestGGadget::parameterWriteAndEcho()
{
    sendAndWait(0, tr31Identity());
    QVERIFY(gadget->authorize());
    QVERIFY(peer->waitForPackets(1)); // key acceptance
    sendAndWait(85, QByteArray(176 - 85, '\0'));
    SlProperty *brightness = gadget->findProperty(QStringLiteral("indicBrightness"));
    QVERIFY(brightness);
    brightness->setValue(77);
    QVERIFY(peer->waitForPackets(2));
    QCOMPARE(peer->packets.at(1).offset, brightness->offset());
    QCOMPARE(peer->packets.at(1).data, QByteArray(1, char(77)));
    // The mirror changes only when the watch answers.
    QCOMPARE(gadget->mirrorData().at(int(brightness->offset())), '\0');

    QSignalSpy changed(brightness, &SlProperty::valueChanged);
    sendAndWait(brightness->offset(), QByteArray(1, char(77)));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(brightness->value().toInt(), 77);
}

void TestGGadget::writeFirmwareAddress()
{
    const QByteArray image(40, '\x5A');
    QVERIFY(gadget->writeFirmware(image, 0));
    QVERIFY(gadget->writeFirmware(image.left(3), 46));
    QVERIFY(peer->waitForPackets(2));
    QCOMPARE(peer->packets.at(0).offset, 0x100000u);
    QCOMPARE(peer->packets.at(0).data, image);
    QCOMPARE(peer->packets.at(1).offset, 0x100000u + 46);
}

void TestGGadget::writeDelay()
{
    QSignalSpy spy(gadget.get(), &GGadget::writeDelayChanged);
    gadget->setWriteDelay(0);
    QCOMPARE(spy.count(), 0);
    gadget->setWriteDelay(3);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(gadget->writeDelay(), 3);
    gadget->setWriteDelay(-5);
    QCOMPARE(gadget->writeDelay(), 0);
    QCOMPARE(spy.count(), 2);
}

void TestGGadget::disconnectReportedOnce()
{
    QSignalSpy gone(gadget.get(), &GGadget::deviceDisconnected);
    peer->socket->disconnectFromHost();
    QTRY_COMPARE(gone.count(), 1);
    QTest::qWait(50);
    QCOMPARE(gone.count(), 1);
}

void TestGGadget::missingNodesGiveEmptyValues()
{
    GGadget bare;
    QCOMPARE(bare.serial(), QString());
    QCOMPARE(bare.deviceKey(), QByteArray());
    QCOMPARE(bare.id(), 0);
    QCOMPARE(bare.fwVer(), SlFirmwareVer());
    QVERIFY(!bare.findProperty(QStringLiteral("dateTime")));
    QVERIFY(bare.findProperty(QStringLiteral("deviceCommand")));
    bare.sendCommand(GGadget::DEVICE_COMMAND_ATTACHED); // no connection: logged, no crash
}

void TestGGadget::firmwareVersion_data()
{
    QTest::addColumn<quint32>("number");
    QTest::addColumn<SlFirmwareVer>("version");
    QTest::newRow("valid") << 20200315u << SlFirmwareVer(2020, 3, 15);
    QTest::newRow("leap day") << 20200229u << SlFirmwareVer(2020, 2, 29);
    QTest::newRow("no such day") << 20190229u << SlFirmwareVer();
    QTest::newRow("month 13") << 20201301u << SlFirmwareVer();
    QTest::newRow("zero") << 0u << SlFirmwareVer();
}

void TestGGadget::firmwareVersion()
{
    QFETCH(quint32, number);
    QFETCH(SlFirmwareVer, version);
    sendAndWait(0, FragmentPeer::identity(5, number, kSerial, kDeviceKey, kServerKey));
    QCOMPARE(gadget->fwVer(), version);
    QVERIFY(SlFirmwareVer(2019, 4, 1) < SlFirmwareVer(2020, 3, 15));
    QVERIFY(SlFirmwareVer(2020, 3, 16) > SlFirmwareVer(2020, 3, 15));
}

void TestGGadget::crc32Vectors_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("crc");
    QTest::newRow("empty") << QByteArray() << 0u;
    QTest::newRow("check string") << QByteArray("123456789") << 0xCBF43926u;
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0xD202EF8Du;
    QTest::newRow("fox") << QByteArray("The quick brown fox jumps over the lazy dog")
                         << 0x414FA339u;
}

void TestGGadget::crc32Vectors()
{
    QFETCH(QByteArray, data);
    QFETCH(quint32, crc);
    QCOMPARE(crc32(data), crc);
}

QTEST_GUILESS_MAIN(TestGGadget)
#include "tst_ggadget.moc"
