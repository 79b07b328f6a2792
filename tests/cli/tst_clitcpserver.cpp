#include "../gadget/fragmentpeer.h"

#include "model/ggadget.h"
#include "model/slclitcpserver.h"
#include "model/slproperty.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QByteArray kGreeting("\x1b[32mConnected to DialDesk\r\n\x1b[0m");
constexpr quint32 kCliOffset = 200;
constexpr quint32 kCliSize = 16;

// A terminal: collects everything the console sends.
class Terminal : public QTcpSocket
{
public:
    Terminal()
    {
        connect(this, &QTcpSocket::readyRead, this, [this] { received += readAll(); });
        connectToHost(QHostAddress::LocalHost, SlCliTCPServer::Port);
    }
    bool waitFor(const QByteArray &bytes, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!received.contains(bytes) && t.elapsed() < timeoutMs)
            QTest::qWait(5);
        return received.contains(bytes);
    }
    QByteArray received;
};
} // namespace

class TestCliTcpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void greetingBytes();
    void secondClientRefused();
    void inputCutIntoFieldSizedPieces();
    void fieldValuesGoToClient();
    void newClientAfterDisconnect();
    void noFieldDiscardsInput();
    void gadgetDestroyedDropsField();
    void busyPortIsReported();

private:
    std::unique_ptr<GGadget> makeGadget(FragmentPeer **peerOut, bool withCli);

    QTemporaryDir dir;
    QTcpServer link;
    std::unique_ptr<SlCliTCPServer> console;
    std::unique_ptr<GGadget> gadget;
    FragmentPeer *peer = nullptr;
};

void TestCliTcpServer::initTestCase()
{
    QVERIFY(dir.isValid());
    QDir::setCurrent(dir.path());
    QVERIFY(link.listen(QHostAddress::LocalHost));
}

void TestCliTcpServer::init()
{
    console = std::make_unique<SlCliTCPServer>();
    QVERIFY(console->isListening());
    gadget = makeGadget(&peer, true);
    QVERIFY(gadget);
    console->setDevice(gadget.get());
}

void TestCliTcpServer::cleanup()
{
    console.reset();
    gadget.reset();
    delete peer;
    peer = nullptr;
}

std::unique_ptr<GGadget> TestCliTcpServer::makeGadget(FragmentPeer **peerOut, bool withCli)
{
    auto *p = new FragmentPeer;
    p->connectTo(link.serverPort());
    if (!link.waitForNewConnection(5000))
        return nullptr;
    auto g = std::make_unique<GGadget>(link.nextPendingConnection());
    if (withCli) {
        g->root()->addChildren({SlPropertyDescriptor(QStringLiteral("cli"), PROPERTY_LATIN1_STRING,
                                                     kCliOffset, kCliSize, 3)});
    }
    *peerOut = p;
    return g;
}

void TestCliTcpServer::greetingBytes()
{
    Terminal terminal;
    QVERIFY(terminal.waitFor(kGreeting));
    QTest::qWait(50);
    QCOMPARE(terminal.received, kGreeting);
}

void TestCliTcpServer::secondClientRefused()
{
    Terminal first;
    QVERIFY(first.waitFor(kGreeting));
    Terminal second;
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(second.received, QByteArray());

    peer->sendPacket(kCliOffset, "still here");
    QVERIFY(first.waitFor("still here"));
}

void TestCliTcpServer::inputCutIntoFieldSizedPieces()
{
    Terminal terminal;
    QVERIFY(terminal.waitFor(kGreeting));
    const QByteArray typed = "0123456789abcdefGHIJKLMNOPQRSTUVwxyz!?.,";
    QCOMPARE(typed.size(), 40);
    terminal.write(typed);
    QVERIFY(peer->waitForPackets(3));
    QTest::qWait(50);
    QCOMPARE(peer->packets.size(), 3);
    QByteArray last = typed.mid(32);
    last.append(int(kCliSize) - last.size(), '\0');
    const QByteArray expected[] = {typed.left(16), typed.mid(16, 16), last};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(peer->packets.at(i).offset, kCliOffset);
        QCOMPARE(peer->packets.at(i).data, expected[i]);
    }
    // The console itself echoes nothing.
    QCOMPARE(terminal.received, kGreeting);
}

void TestCliTcpServer::fieldValuesGoToClient()
{
    Terminal terminal;
    QVERIFY(terminal.waitFor(kGreeting));
    peer->sendPacket(kCliOffset, "> ready");
    QVERIFY(terminal.waitFor("> ready"));
    QCOMPARE(terminal.received, kGreeting + "> ready");
}

void TestCliTcpServer::newClientAfterDisconnect()
{
    {
        Terminal first;
        QVERIFY(first.waitFor(kGreeting));
        first.disconnectFromHost();
        QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    }
    QTest::qWait(50);
    Terminal again;
    QVERIFY(again.waitFor(kGreeting));
    again.write("x");
    QVERIFY(peer->waitForPackets(1));
}

void TestCliTcpServer::noFieldDiscardsInput()
{
    FragmentPeer *plainPeer = nullptr;
    std::unique_ptr<GGadget> plain = makeGadget(&plainPeer, false);
    std::unique_ptr<FragmentPeer> owner(plainPeer);
    console.reset();
    console = std::make_unique<SlCliTCPServer>();
    console->setDevice(plain.get());
    Terminal terminal;
    QVERIFY(terminal.waitFor(kGreeting));
    terminal.write("typed into the void");
    plainPeer->sendPacket(0, QByteArray(85, '\0'));
    QTest::qWait(100);
    QCOMPARE(plainPeer->packets.size(), 0);
    QCOMPARE(terminal.received, kGreeting);
}

void TestCliTcpServer::gadgetDestroyedDropsField()
{
    Terminal terminal;
    QVERIFY(terminal.waitFor(kGreeting));
    gadget.reset();
    terminal.write("after the watch left");
    QTest::qWait(100);
    QCOMPARE(terminal.state(), QAbstractSocket::ConnectedState);

    FragmentPeer *nextPeer = nullptr;
    gadget = makeGadget(&nextPeer, true);
    std::unique_ptr<FragmentPeer> owner(nextPeer);
    console->setDevice(gadget.get());
    terminal.write("hi");
    QVERIFY(nextPeer->waitForPackets(1));
    QCOMPARE(nextPeer->packets.at(0).data.left(2), QByteArray("hi"));
    gadget.reset();
}

void TestCliTcpServer::busyPortIsReported()
{
    QTest::ignoreMessage(QtDebugMsg, "Fail to listen");
    SlCliTCPServer second;
    QVERIFY(!second.isListening());
    Terminal terminal;
    QVERIFY(terminal.waitFor(kGreeting));
}

QTEST_GUILESS_MAIN(TestCliTcpServer)
#include "tst_clitcpserver.moc"
