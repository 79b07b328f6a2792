#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "fragmentpeer.h"

#include "app/slapplogic.h"
#include "device/sliodeviceserver.h"
#include "model/ggadget.h"
#include "model/slproperty.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QByteArray kAttached(1, '\3');
const QByteArray kRequestAll(1, '\1');
const QByteArray kKeyAccepted(1, '\2');
const QByteArray kDeattached(1, '\4');

QByteArray identity()
{
    return FragmentPeer::identity(5, 20200315, "TR31-HUB-7", QByteArray(24, 'k'),
                                  QByteArray(24, 's'));
}
} // namespace

// The hub's side of a gadget's life: connection, handshake, authorisation, the end of the
// connection at any moment, and the hub's own end, against peers on the real gadget port.
class TestHubGadget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void attachThenRequestAll();
    void authorisedWithFullCatalogue();
    void secondConnectionClosed();
    void unplugAndReplug();
    void disconnectAtAnyMoment_data();
    void disconnectAtAnyMoment();
    void saveAllParams();
    void shutdownDetachesGadget();
    void parameterWriteWithSimulatedWatch();

private:
    FragmentPeer *connectPeer();
    bool waitForAttach(FragmentPeer *peer);

    ProgramSandbox box;
    std::unique_ptr<SlAppLogic> hub;
    QList<FragmentPeer *> peers;
};

void TestHubGadget::initTestCase()
{
    box.useForThisProcess();
}

void TestHubGadget::init()
{
    QVERIFY(FragmentPeer::waitForFreePort(SlIODeviceServer::TcpPort));
    hub = std::make_unique<SlAppLogic>();
    QVERIFY(hub->deviceServer()->isEnabled());
}

void TestHubGadget::cleanup()
{
    hub.reset();
    qDeleteAll(peers);
    peers.clear();
    QFile::remove(QStringLiteral("properties.bsp"));
}

FragmentPeer *TestHubGadget::connectPeer()
{
    auto *peer = new FragmentPeer;
    peers << peer;
    peer->connectTo(SlIODeviceServer::TcpPort);
    return peer;
}

bool TestHubGadget::waitForAttach(FragmentPeer *peer)
{
    return peer->waitForPackets(2) && peer->packets.at(0).offset == 84 &&
           peer->packets.at(0).data == kAttached && peer->packets.at(1).data == kRequestAll;
}

void TestHubGadget::attachThenRequestAll()
{
    QSignalSpy changed(hub.get(), &SlAppLogic::deviceChanged);
    FragmentPeer *peer = connectPeer();
    QVERIFY(waitForAttach(peer));
    QCOMPARE(changed.count(), 1);
    QVERIFY(hub->device());
    QCOMPARE(changed.at(0).at(0).value<GGadget *>(), hub->device());
    QVERIFY(!hub->deviceServer()->isEnabled());
    QTest::qWait(50);
    // Two one-byte packets, one fragment each, and nothing more until the watch answers.
    QCOMPARE(peer->packets.size(), 2);
    QCOMPARE(peer->fragments, 2);
}

void TestHubGadget::authorisedWithFullCatalogue()
{
    int authorised = 0;
    connect(hub.get(), &SlAppLogic::deviceChanged, this, [&](GGadget *gadget) {
        if (gadget)
            connect(gadget, &GGadget::isAuthorizedChanged, this, [&] { ++authorised; });
    });
    FragmentPeer *peer = connectPeer();
    peer->answerRequests(identity());
    QTRY_VERIFY(hub->device() && hub->device()->isAuthorized());
    QCOMPARE(authorised, 1);
    QVERIFY(hub->device()->isBasicInit());
    QVERIFY(hub->device()->isExtendInit());
    QCOMPARE(hub->device()->properties().toMap().size(), 51);
    QTest::qWait(50);
    QCOMPARE(peer->countPackets(84, kKeyAccepted), 1);
    QCOMPARE(hub->device()->serial(), QStringLiteral("TR31-HUB-7"));
}

void TestHubGadget::secondConnectionClosed()
{
    FragmentPeer *first = connectPeer();
    QVERIFY(waitForAttach(first));
    GGadget *gadget = hub->device();
    FragmentPeer *second = connectPeer();
    QTRY_COMPARE(second->socket->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(second->packets.size(), 0);
    QCOMPARE(hub->device(), gadget);
    QCOMPARE(first->socket->state(), QAbstractSocket::ConnectedState);
}

void TestHubGadget::unplugAndReplug()
{
    QSignalSpy changed(hub.get(), &SlAppLogic::deviceChanged);
    for (int round = 0; round < 3; ++round) {
        FragmentPeer *peer = connectPeer();
        peer->answerRequests(identity());
        QTRY_VERIFY(hub->device() && hub->device()->isAuthorized());
        peer->socket->disconnectFromHost();
        QTRY_VERIFY(!hub->device());
        QVERIFY(hub->deviceServer()->isEnabled());
    }
    QCOMPARE(changed.count(), 6);
    QCOMPARE(changed.last().at(0).value<GGadget *>(), nullptr);
}

void TestHubGadget::disconnectAtAnyMoment_data()
{
    QTest::addColumn<int>("moment");
    QTest::newRow("before the handshake") << 0;
    QTest::newRow("before its identity") << 1;
    QTest::newRow("with half a packet sent") << 2;
    QTest::newRow("together with its identity") << 3;
    QTest::newRow("reset while the hub writes") << 4;
}

void TestHubGadget::disconnectAtAnyMoment()
{
    QFETCH(int, moment);
    FragmentPeer *peer = connectPeer();
    if (moment == 0) {
        QTRY_COMPARE(peer->socket->state(), QAbstractSocket::ConnectedState);
        peer->socket->abort();
    } else {
        QVERIFY(waitForAttach(peer));
        if (moment == 2)
            peer->sendRaw(FragmentPeer::packetBytes(0, identity()).left(40));
        if (moment == 3)
            peer->sendRaw(FragmentPeer::packetBytes(0, identity()));
        if (moment == 4) {
            peer->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            peer->sendRaw(FragmentPeer::packetBytes(0, identity()));
            QTRY_VERIFY(hub->device()->isAuthorized());
            SlProperty *brightness = hub->device()->findProperty(QStringLiteral("indicBrightness"));
            peer->socket->abort();
            for (int v = 1; v < 50 && hub->device(); ++v) {
                brightness->setValue(v);
                QTest::qWait(1);
            }
        } else {
            peer->socket->disconnectFromHost();
        }
    }
    QTRY_VERIFY(!hub->device());
    QTRY_VERIFY(hub->deviceServer()->isEnabled());

    // The hub is ready for the next watch.
    FragmentPeer *next = connectPeer();
    next->answerRequests(identity());
    QTRY_VERIFY(hub->device() && hub->device()->isAuthorized());
}

void TestHubGadget::saveAllParams()
{
    hub->saveAllParams();
    QVERIFY(!QFileInfo::exists(QStringLiteral("properties.bsp")));
    FragmentPeer *peer = connectPeer();
    peer->answerRequests(identity());
    QTRY_VERIFY(hub->device() && hub->device()->isAuthorized());
    hub->saveAllParams();
    const QFileInfo saved(QStringLiteral("properties.bsp"));
    QVERIFY(saved.exists());
    // The whole tree, so far larger than the six-node file the gadget writes at start.
    QVERIFY(saved.size() > 3 * QFileInfo(QStringLiteral("temp.bsp")).size());
}

void TestHubGadget::shutdownDetachesGadget()
{
    FragmentPeer *peer = connectPeer();
    QVERIFY(waitForAttach(peer));
    QPointer<GGadget> gadget = hub->device();
    hub.reset();
    QVERIFY(gadget.isNull());
    QVERIFY(peer->waitForPackets(3));
    QCOMPARE(peer->packets.at(2).offset, 84u);
    QCOMPARE(peer->packets.at(2).data, kDeattached);
    QTRY_COMPARE(peer->socket->state(), QAbstractSocket::UnconnectedState);
}

void TestHubGadget::parameterWriteWithSimulatedWatch()
{
    SimRunner sim;
    sim.start();
    QVERIFY(sim.waitFor(QStringLiteral("request-all-data")));
    QTRY_VERIFY(hub->device() && hub->device()->isAuthorized());
    QCOMPARE(sim.count(QStringLiteral("attached")), 1);
    QVERIFY(sim.waitFor(QStringLiteral("key-accepted")));
    GGadget *gadget = hub->device();
    SlProperty *brightness = gadget->findProperty(QStringLiteral("indicBrightness"));
    QVERIFY(brightness);
    QTRY_COMPARE(brightness->value().toInt(), 80); // the simulator's factory value

    QSignalSpy received(brightness, &SlProperty::valueReceived);
    brightness->setValue(42);
    const QString write = QStringLiteral("write offset=%1 size=1 name=indicBrightness value=42")
                              .arg(brightness->offset());
    QVERIFY(sim.waitFor(write));
    QCOMPARE(sim.count(QStringLiteral("write ")), 1);
    QTRY_VERIFY(received.count() >= 1);
    QCOMPARE(brightness->value().toInt(), 42);
    QCOMPARE(int(quint8(gadget->mirrorData().at(int(brightness->offset())))), 42);
    QCOMPARE(sim.count(QStringLiteral("key-accepted")), 1);

    sim.stop();
    QTRY_VERIFY(!hub->device());
}

QTEST_MAIN(TestHubGadget)
#include "tst_hubgadget.moc"
