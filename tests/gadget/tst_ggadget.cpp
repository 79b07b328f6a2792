#include "fragmentpeer.h"

#include "model/crc32.h"
#include "model/ggadget.h"
#include "model/slfirmwarever.h"
#include "model/slproperty.h"
#include "storage/sldevicerecord.h"

#include <QtTest>

#include <memory>

namespace {
const QByteArray kDeviceKey(24, 'D');
const QByteArray kServerKey(24, 'S');
const QByteArray kKeyAccepted(1, '\2');

QByteArray identity(quint16 productId = 5, quint32 firmware = 20200315,
                    const QByteArray &serverKey = kServerKey)
{
    return FragmentPeer::identity(productId, firmware, "TR31-000042", kDeviceKey, serverKey);
}
} // namespace

// The session over a real loopback socket. The watch's side is FragmentPeer, which does its own
// framing so that a fault in the program's framing cannot hide itself.
class TestGGadget : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QTcpServer server;
    std::unique_ptr<FragmentPeer> peer;
    std::unique_ptr<GGadget> gadget;
    QStringList events;

    void connectPair()
    {
        peer = std::make_unique<FragmentPeer>();
        peer->connectTo(server.serverPort());
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket *socket = server.nextPendingConnection();
        QVERIFY(socket);
        QTRY_COMPARE(peer->socket->state(), QAbstractSocket::ConnectedState);
        gadget = std::make_unique<GGadget>(socket);
        events.clear();
        GGadget *g = gadget.get();
        connect(g, &GGadget::idChanged, this, [this] { events << "id"; });
        connect(g, &GGadget::serialChanged, this, [this] { events << "serial"; });
        connect(g, &GGadget::deviceKeyChanged, this, [this] { events << "deviceKey"; });
        connect(g, &GGadget::serverKeyChanged, this, [this] { events << "serverKey"; });
        connect(g, &GGadget::isBasicInitChanged, this, [this] { events << "basicInit"; });
        connect(g, &GGadget::isExtendInitChanged, this, [this] { events << "extend"; });
        connect(g, &GGadget::isAuthorizedChanged, this, [this] { events << "auth"; });
        connect(g, &GGadget::anyPropertyChanged, this, [this] { events << "any"; });
    }

    void sendAndWait(quint32 offset, const QByteArray &data)
    {
        QSignalSpy received(gadget.get(), &GGadget::dataTransmitted);
        peer->sendPacket(offset, data);
        QTRY_VERIFY(std::any_of(received.cbegin(), received.cend(), [&](const QList<QVariant> &a) {
            const auto info = a.at(0).value<SlPacketInfo>();
            return info.kind == SlPacketInfo::PacketReceived && info.offset == offset;
        }));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The gadget saves its tree into the user's data folder; keep that out of the home.
        QDir::setCurrent(dir.path());
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
        QVERIFY(server.listen(QHostAddress::LocalHost));
    }
    void init() { connectPair(); }
    void cleanup()
    {
        gadget.reset();
        peer.reset();
    }

    void identityBlock()
    {
        // Where each field lies is the catalogue test's; here the gadget decodes them.
        QCOMPARE(gadget->properties().toMap().size(), 6);
        const QString saved = SlProperty::localPath(QUrl("file:temp.bsp"));
        QVERIFY(saved.startsWith(dir.path() + '/'));
        QVERIFY(QFileInfo(saved).size() > 0);

        sendAndWait(0, identity());
        QCOMPARE(events,
                 QStringList({"id", "serial", "deviceKey", "serverKey", "basicInit", "any"}));
        QCOMPARE(QVariantList(
                     {gadget->serial(), gadget->deviceKey(), gadget->serverKey(), gadget->id()}),
                 QVariantList({"TR31-000042", kDeviceKey, kServerKey, 5}));
        QCOMPARE(gadget->fwVer(), SlFirmwareVer(2020, 3, 15));

        // The keys are accepted once a connection, and the session begins once.
        events.clear();
        sendAndWait(0, identity());
        sendAndWait(36, kDeviceKey);
        QVERIFY(!events.contains("basicInit"));
        QVERIFY(peer->waitForPackets(1));
        QTest::qWait(50);
        QCOMPARE(peer->packets.size(), 1);
        QCOMPARE(peer->countPackets(84, kKeyAccepted), 1);

        // A new connection is a new session: the keys are accepted again there, once both came.
        cleanup();
        connectPair();
        sendAndWait(0, identity(5, 1, QByteArray()));
        QTest::qWait(50);
        QCOMPARE(peer->packets.size(), 0);
        sendAndWait(60, kServerKey);
        QVERIFY(peer->waitForPackets(1));
        QCOMPARE(peer->countPackets(84, kKeyAccepted), 1);
    }

    void packetAddress_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::newRow("past the known block") << quint32(200);
        QTest::newRow("last parameter byte") << quint32(0xFFFFF);
        QTest::newRow("firmware base") << quint32(0x100000);
        QTest::newRow("top of the address space") << quint32(0xFFFFFFFF);
    }
    void packetAddress()
    {
        QFETCH(quint32, address);
        const bool kept = address < 0x100000u; // above lies the firmware image, never mirrored
        sendAndWait(address, QByteArray("ab"));
        QCOMPARE(events, kept ? QStringList{"any"} : QStringList());
        QByteArray expected = kept ? QByteArray(int(address), '\0') + "ab" : QByteArray();
        QCOMPARE(gadget->mirrorData(), expected);
        if (!kept)
            return;
        // A later packet lower down overwrites in place.
        sendAndWait(2, QByteArray("\x01\x02", 2));
        QCOMPARE(gadget->mirrorData(), expected.replace(2, 2, "\x01\x02"));
    }

    void authorize_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<bool>("whileReading");
        QTest::addColumn<QByteArray>("recordKey"); // null: no record
        QTest::addColumn<bool>("accepted");
        QTest::newRow("TR-31") << 5 << false << QByteArray() << true;
        // The hub authorises on the device key's change, while the tree still walks the block.
        QTest::newRow("TR-31 while the block is read") << 5 << true << QByteArray() << true;
        QTest::newRow("other model") << 3 << false << QByteArray() << true;
        QTest::newRow("record, same key") << 5 << false << kDeviceKey << true;
        QTest::newRow("record while the block is read") << 5 << true << kDeviceKey << true;
        QTest::newRow("record key one byte differs")
            << 5 << false << kDeviceKey.left(23) + 'E' << false;
        QTest::newRow("record key shorter") << 5 << false << kDeviceKey.left(23) << false;
        QTest::newRow("record key empty") << 5 << false << QByteArray("") << false;
    }
    void authorize()
    {
        QFETCH(int, productId);
        QFETCH(bool, whileReading);
        QFETCH(QByteArray, recordKey);
        QFETCH(bool, accepted);
        const bool withRecord = !recordKey.isNull();
        const bool tr31 = productId == 5 && accepted;
        const bool stored = withRecord && accepted;
        SlDeviceRecord record;
        record.deviceKey = recordKey;
        record.pin = QStringLiteral("4711");
        record.description = QStringLiteral("TR-31 steel");
        record.produced = QDateTime(QDate(2020, 3, 1), QTime(8, 0), Qt::UTC);
        record.activated = QDateTime(QDate(2020, 4, 2), QTime(9, 30), Qt::UTC);
        const auto call = [&] {
            return withRecord ? gadget->authorize(record) : gadget->authorize();
        };
        bool result = false;
        connect(gadget.get(), &GGadget::deviceKeyChanged, this, [&] {
            if (whileReading)
                result = call();
        });
        QSignalSpy props(gadget.get(), &GGadget::propertiesChanged);
        sendAndWait(0, identity(quint16(productId)));
        if (!whileReading) {
            events.clear();
            result = call();
        }
        QCOMPARE(result, accepted);
        QCOMPARE(events, whileReading ? QStringList({"id", "serial", "deviceKey", "serverKey",
                                                     "extend", "auth", "basicInit", "any"})
                         : tr31       ? QStringList({"extend", "auth"})
                         : accepted   ? QStringList({"auth"})
                                      : QStringList());
        QCOMPARE(gadget->isAuthorized(), accepted);
        QCOMPARE(gadget->properties().toMap().size(), tr31 ? 51 : 6);
        QCOMPARE(props.count() >= 1, tr31);
        QCOMPARE(!gadget->paramsModel().isEmpty(), productId == 5);
        QCOMPARE(!gadget->statisticsModel().isEmpty(), productId == 5);
        QCOMPARE(gadget->checkPin(record.pin), stored);
        QCOMPARE(gadget->description(), stored ? record.description : QString());
        QCOMPARE(gadget->produced(), stored ? record.produced : QDateTime());
        QCOMPARE(gadget->activated(), stored ? record.activated : QDateTime());
        if (!accepted)
            return;

        // Once authorised, neither a second call nor another record changes the session.
        events.clear();
        SlDeviceRecord other;
        other.deviceKey = kDeviceKey;
        other.pin = QStringLiteral("1234");
        QVERIFY(!gadget->authorize() && !gadget->authorize(other));
        QCOMPARE(events, QStringList());
        QVERIFY(!gadget->checkPin(other.pin));
    }

    void commandsAndFirmwareGoOut()
    {
        // A repeated command is sent again: the watch acts on each one. The hub's own commands
        // and a firmware image from its start are followed end to end; the offset is seen here.
        gadget->sendCommand(GGadget::DEVICE_COMMAND_REQUEST_ALL_DATA);
        gadget->sendCommand(GGadget::DEVICE_COMMAND_REQUEST_ALL_DATA);
        QVERIFY(gadget->writeFirmware("abc", 46));
        QVERIFY(peer->waitForPackets(3));
        QCOMPARE(peer->countPackets(84, QByteArray(1, '\1')), 2);
        QCOMPARE(peer->packets.at(2).offset, 0x100000u + 46);
        QCOMPARE(peer->packets.at(2).data, QByteArray("abc"));
        // Writes go to the watch only; the mirror holds what the watch sent.
        QCOMPARE(gadget->mirrorData(), QByteArray());

        GGadget bare; // no connection: logged, no crash
        bare.sendCommand(GGadget::DEVICE_COMMAND_ATTACHED);
    }

    void writeDelay()
    {
        // Unchanged values are not announced; a negative pause is none.
        QSignalSpy spy(gadget.get(), &GGadget::writeDelayChanged);
        for (int delay : {0, 3, 3, -5})
            gadget->setWriteDelay(delay);
        QCOMPARE(gadget->writeDelay(), 0);
        QCOMPARE(spy.count(), 2);
    }

    void disconnectReportedOnce()
    {
        QSignalSpy gone(gadget.get(), &GGadget::deviceDisconnected);
        peer->socket->disconnectFromHost();
        QTRY_COMPARE(gone.count(), 1);
        QTest::qWait(50);
        QCOMPARE(gone.count(), 1);
    }

    void firmwareVersionAndCrc32()
    {
        QCOMPARE(SlFirmwareVer::fromNumber(20200229), SlFirmwareVer(2020, 2, 29));
        QCOMPARE(SlFirmwareVer::fromNumber(20190229), SlFirmwareVer());
        QVERIFY(SlFirmwareVer(2019, 4, 1) < SlFirmwareVer(2020, 3, 15));
        QVERIFY(SlFirmwareVer(2020, 3, 16) > SlFirmwareVer(2020, 3, 15));
        QCOMPARE(crc32("123456789"), 0xCBF43926u);
    }
};

QTEST_GUILESS_MAIN(TestGGadget)
#include "tst_ggadget.moc"
