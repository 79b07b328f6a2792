#include "../app/processfixture.h"
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

QByteArray identity()
{
    return FragmentPeer::identity(5, 20200315, "TR31-HUB-7", QByteArray(24, 'k'),
                                  QByteArray(24, 's'));
}
} // namespace

// What the hub does that the end-to-end test of the real program cannot time or see: the
// end of a connection at any moment, the tree it authorises, and saving it.
class TestHubGadget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void authorisedWithFullCatalogue();
    void disconnectAtAnyMoment_data();
    void disconnectAtAnyMoment();
    void saveAllParams();

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

QTEST_MAIN(TestHubGadget)
#include "tst_hubgadget.moc"
