#include "../gadget-sim/simprocess.h"
#include "../gadget/fragmentpeer.h"

#include "app/typeregistry.h"

#include "model/ggadget.h"
#include "model/slclitcpserver.h"
#include "model/slproperty.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>

#include <memory>

const QByteArray kGreeting("\x1b[32mConnected to DialDesk\r\n\x1b[0m");
constexpr quint32 kCliOffset = 200;

// A terminal: collects everything the console sends.
struct Terminal : QTcpSocket
{
    Terminal()
    {
        connect(this, &QTcpSocket::readyRead, this, [this] { received += readAll(); });
        connectToHost(QHostAddress::LocalHost, SlCliTCPServer::Port);
    }
    QByteArray received;
};

// The watch's end of the link and the gadget on ours; the gadget goes first.
struct Watch
{
    std::unique_ptr<FragmentPeer> peer{new FragmentPeer};
    std::unique_ptr<GGadget> gadget;
};

class TestCliTcpServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void oneClientAndTheDevicesField();
    void sceneBindsTheConsoleToTheWatch();

private:
    std::unique_ptr<Watch> makeWatch(bool withCli);

    QTcpServer link;
    std::unique_ptr<SlCliTCPServer> console;
    std::unique_ptr<Watch> watch;
};

void TestCliTcpServer::init()
{
    console.reset();
    QVERIFY(link.isListening() || link.listen(QHostAddress::LocalHost));
    console = std::make_unique<SlCliTCPServer>();
    QVERIFY(console->isListening());
    watch = makeWatch(true);
    console->setDevice(watch->gadget.get());
}

std::unique_ptr<Watch> TestCliTcpServer::makeWatch(bool withCli)
{
    auto w = std::make_unique<Watch>();
    w->peer->connectTo(link.serverPort());
    if (!link.waitForNewConnection(5000))
        qFatal("the watch did not connect");
    w->gadget = std::make_unique<GGadget>(link.nextPendingConnection());
    if (withCli)
        w->gadget->root()->addChildren({SlPropertyDescriptor(
            QStringLiteral("cli"), PROPERTY_LATIN1_STRING, kCliOffset, 16, 3)});
    return w;
}

void TestCliTcpServer::oneClientAndTheDevicesField()
{
    {
        Terminal first;
        QTRY_COMPARE(first.received, kGreeting);
        Terminal second;
        QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(second.received, QByteArray());
        watch->peer->sendPacket(kCliOffset, "> ready");
        QTRY_COMPARE(first.received, kGreeting + "> ready");
    }
    // The first one has gone: the next is served, its input cut into field-sized pieces.
    QTest::qWait(50);
    Terminal again;
    QTRY_COMPARE(again.received, kGreeting);
    const QByteArray typed = "0123456789abcdefGHIJKLMNOPQRSTUVwxyz!?.,";
    again.write(typed);
    QVERIFY(watch->peer->waitForPackets(3));
    QTest::qWait(50);
    QCOMPARE(watch->peer->packets.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(watch->peer->packets.at(i).offset, kCliOffset);
        QCOMPARE(watch->peer->packets.at(i).data, (typed + QByteArray(8, '\0')).mid(16 * i, 16));
    }
    QCOMPARE(again.received, kGreeting); // no echo

    // A watch without the field takes nothing, also after it has told who it is.
    std::unique_ptr<Watch> plain = makeWatch(false);
    console->setDevice(plain->gadget.get());
    again.write("typed into the void");
    plain->peer->sendPacket(0, QByteArray(85, '\0'));
    QTest::qWait(100);
    // Still only the three pieces the first watch got above.
    QCOMPARE(plain->peer->packets.size() + watch->peer->packets.size(), 3);

    // The watch with the field leaves while the console is open; the next one is used.
    console->setDevice(watch->gadget.get());
    watch->gadget.reset();
    again.write("after the watch left");
    QTest::qWait(100);
    std::unique_ptr<Watch> next = makeWatch(true);
    console->setDevice(next->gadget.get());
    again.write("hi");
    QVERIFY(next->peer->waitForPackets(1));
    QCOMPARE(next->peer->packets.at(0).data.left(2), QByteArray("hi"));

    QTest::ignoreMessage(QtDebugMsg, "Fail to listen");
    QVERIFY(!SlCliTCPServer().isListening());
}

// A scene makes a console and binds it to the gadget of a simulated watch: a typed line reaches
// the watch's memory, and the watch's echo of the field comes back to the terminal.
void TestCliTcpServer::sceneBindsTheConsoleToTheWatch()
{
    console.reset();
    watch.reset();
    SimProcess sim;
    sim.start({"--port", QString::number(link.serverPort())});
    QVERIFY(link.waitForNewConnection(10000));
    GGadget gadget(link.nextPendingConnection());
    // The simulated watch has no console field: one over plain parameters at 140 stands in.
    gadget.root()->addChildren(
        {SlPropertyDescriptor(QStringLiteral("cli"), PROPERTY_LATIN1_STRING, 140, 16, 3)});

    registerInterfaceTypes();
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("watch"), &gadget);
    QQmlComponent scene(&engine);
    scene.setData("import sl.watch.cli 1.0\nCliTCPServer { device: watch }\n", QUrl());
    std::unique_ptr<QObject> bound(scene.create());
    QVERIFY2(bound, qPrintable(scene.errorString()));
    QCOMPARE(bound->property("device").value<GGadget *>(), &gadget);

    Terminal terminal;
    QTRY_COMPARE(terminal.received, kGreeting);
    terminal.write("uptime\n");
    QVERIFY(sim.waitForEvent("write offset=140 size=16 name=- value=" +
                             QByteArray("uptime\n").toHex() + QByteArray(9, '\0').toHex()) >= 0);
    QTRY_COMPARE(terminal.received, kGreeting + "uptime\n");
}

QTEST_GUILESS_MAIN(TestCliTcpServer)
#include "tst_clitcpserver.moc"
