#include "hidapidouble.h"

#include "device/sliodeviceserver.h"
#include "device/slusbhiddevice.h"

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {
const QByteArray kWatchPath = "/dev/hidraw-tr31";

// Another program on the port would make the TCP checks fail for the wrong reason.
bool portFree()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, SlIODeviceServer::TcpPort);
}

std::unique_ptr<QTcpSocket> connectClient()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, SlIODeviceServer::TcpPort);
    return client;
}
} // namespace

class tst_SlIODeviceServer : public QObject
{
    Q_OBJECT

private slots:
    void init() { HidApiDouble::reset(); }
    void cleanup() { taken.reset(); }
    void tcpPeersQueuedWhileEnabled();
    void listensOnLoopbackOnly();
    void usbWatchOpenedOncePerSession();
    void usbOpenFailureRetriedNextPoll();

private:
    // Takes each announced device and switches the server off, as the hub does.
    void actLikeHub(SlIODeviceServer *server);
    std::unique_ptr<QIODevice> taken;
};

void tst_SlIODeviceServer::actLikeHub(SlIODeviceServer *server)
{
    connect(server, &SlIODeviceServer::newDeviceConnected, this, [this, server] {
        QIODevice *device = server->nextDevice();
        if (!taken) {
            server->setEnabled(false);
            taken.reset(device);
        } else {
            delete device;
        }
    });
}

void tst_SlIODeviceServer::tcpPeersQueuedWhileEnabled()
{
    QVERIFY2(portFree(), "port 6666 is held by another program");
    SlIODeviceServer server;
    QSignalSpy queued(&server, &SlIODeviceServer::newDeviceConnected);
    QVERIFY(!server.isEnabled());
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("new tcp device available, but device server is disabled$"));
    auto refused = connectClient();
    QSignalSpy closed(refused.get(), &QTcpSocket::disconnected);
    QVERIFY(closed.wait(2000));
    QCOMPARE(queued.count(), 0);
    QVERIFY(!server.nextDevice());

    server.setEnabled(true);
    auto first = connectClient();
    QTRY_COMPARE(queued.count(), 1);
    auto second = connectClient();
    QTRY_COMPARE(queued.count(), 2);
    // Newest first, handed over without a parent.
    std::unique_ptr<QIODevice> newest(server.nextDevice()), oldest(server.nextDevice());
    QVERIFY(!server.nextDevice());
    auto *socket = qobject_cast<QTcpSocket *>(newest.get());
    QVERIFY(socket && !socket->parent() && socket->isOpen());
    QCOMPARE(socket->peerPort(), second->localPort());
    QCOMPARE(qobject_cast<QTcpSocket *>(oldest.get())->peerPort(), first->localPort());
    // That the socket carries the watch's bytes both ways, every authorisation over it shows
    // (tst_gadgetsoak, tst_e2e).
}

void tst_SlIODeviceServer::listensOnLoopbackOnly()
{
    SlIODeviceServer server;
    server.setEnabled(true);
    QSignalSpy queued(&server, &SlIODeviceServer::newDeviceConnected);

    QHostAddress outside;
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            outside = address;
    }
    if (outside.isNull())
        QSKIP("this machine has no address besides loopback");

    QTcpSocket client;
    client.connectToHost(outside, SlIODeviceServer::TcpPort);
    QVERIFY(!client.waitForConnected(1000));
    QCOMPARE(queued.count(), 0);
}

void tst_SlIODeviceServer::usbWatchOpenedOncePerSession()
{
    // Without the TCP port the USB side still works.
    QVERIFY2(portFree(), "port 6666 is held by another program");
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost, SlIODeviceServer::TcpPort));
    const QByteArray secondPath = "/dev/hidraw-tr31-second";
    HidApiDouble::plug({kWatchPath});
    HidApiDouble::plug({secondPath});
    SlIODeviceServer server;
    actLikeHub(&server);
    QSignalSpy queued(&server, &SlIODeviceServer::newDeviceConnected);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("new usb device connected$"));
    // The second watch of the same pass finds the server already switched off.
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("new usb device available, but device server is disabled$"));
    server.setEnabled(true);
    QTRY_COMPARE(queued.count(), 1);
    auto *device = qobject_cast<SlUSBHidDevice *>(taken.get());
    QVERIFY(device && device->isOpen());
    QCOMPARE(device->reportSize(), 32);
    QCOMPARE(device->path(), QString::fromLatin1(kWatchPath));
    const int passes = HidApiDouble::counts().enumerations;
    QTest::qWait(450);
    QCOMPARE(HidApiDouble::counts().enumerations, passes);
    QCOMPARE(queued.count(), 1);

    // The first watch stays plugged; its session ends and the hub switches back on.
    HidApiDouble::unplug(secondPath);
    taken.reset();
    server.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(taken, 1000);
    QVERIFY(taken->isOpen());

    // An unplug ends the session the same way.
    QSignalSpy gone(taken.get(), &QIODevice::readChannelFinished);
    HidApiDouble::unplug(kWatchPath);
    QTRY_COMPARE(gone.count(), 1);
    taken.reset();
    server.setEnabled(true);
    QTest::qWait(250);
    QVERIFY(!taken);
    HidApiDouble::plug({kWatchPath});
    QTRY_VERIFY_WITH_TIMEOUT(taken, 1000);
}

void tst_SlIODeviceServer::usbOpenFailureRetriedNextPoll()
{
    HidApiDouble::plug({kWatchPath, true});
    SlIODeviceServer server;
    QSignalSpy queued(&server, &SlIODeviceServer::newDeviceConnected);

    for (int i = 0; i < 2; ++i) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("new usb device connected$"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("could not be open$"));
    }
    QSignalSpy told(&server, &SlIODeviceServer::accessDeniedChanged);
    server.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(HidApiDouble::counts().enumerations >= 2, 1000);
    server.setEnabled(false);
    QCOMPARE(queued.count(), 0);
    QVERIFY(!server.nextDevice());
    QCOMPARE(server.findChildren<SlUSBHidDevice *>().size(), 0);
    // Refused for lack of permission: the user is told, once, until the watch is gone.
    QVERIFY(server.isAccessDenied());
    QCOMPARE(told.count(), 1);
    HidApiDouble::unplug(kWatchPath);
    QTRY_VERIFY_WITH_TIMEOUT(!server.isAccessDenied(), 3000);
    QCOMPARE(told.count(), 2);
}

QTEST_GUILESS_MAIN(tst_SlIODeviceServer)
#include "tst_sliodeviceserver.moc"
