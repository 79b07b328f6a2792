#include "../app/processfixture.h"
#include "../gadget/fragmentpeer.h"
#include "simrunner.h"

#include <QRegularExpression>
#include <QScopedPointer>

#include <memory>

// The real program, started offscreen in a private sandbox, with the real simulated watch.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void handshakeAndAuthorisation();
    void unplugAndReplug();
    void faultyWatch_data();
    void faultyWatch();
    void secondWatchRefused();
    void shutdownDetachesWatch();

private:
    QString log() const { return QString::fromUtf8(box->readFile(QStringLiteral("run.log"))); }
    int logCount(const QString &text) const { return log().count(text); }
    bool waitForLog(const QString &text, int count = 1, int timeoutMs = 10000) const;
    void startSim(SimRunner &sim, const QStringList &extra = {});

    std::unique_ptr<ProgramSandbox> box;
    QScopedPointer<QProcess> program;
};

static const QString kAuthorised =
    QStringLiteral("authorize: gadget authorized with 51 parameters");

void TestEndToEnd::init()
{
    // Another run may still hold the gadget port; the program would not listen then.
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    box = std::make_unique<ProgramSandbox>();
    program.reset(
        box->start({QStringLiteral("--debug-file"), box->path(QStringLiteral("run.log"))}));
    QVERIFY(program->waitForStarted());
}

void TestEndToEnd::cleanup()
{
    if (program && program->state() != QProcess::NotRunning) {
        program->terminate();
        if (!program->waitForFinished(10000))
            program->kill();
        program->waitForFinished(5000);
    }
    program.reset();
    box.reset();
}

bool TestEndToEnd::waitForLog(const QString &text, int count, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (logCount(text) < count && t.elapsed() < timeoutMs)
        QTest::qWait(20);
    return logCount(text) >= count;
}

void TestEndToEnd::startSim(SimRunner &sim, const QStringList &extra)
{
    // The program opens its port a moment after it starts; the watch keeps trying.
    sim.start(QStringList{QStringLiteral("--reconnect"), QStringLiteral("--reconnect-delay"),
                          QStringLiteral("50"), QStringLiteral("--verbose")} +
              extra);
}

void TestEndToEnd::handshakeAndAuthorisation()
{
    SimRunner sim;
    startSim(sim);
    QVERIFY(sim.waitFor(QStringLiteral("request-all-data")));
    QVERIFY(waitForLog(kAuthorised));
    QVERIFY(sim.waitFor(QStringLiteral("key-accepted")));
    QTest::qWait(200);

    const QStringList events = sim.events();
    const int attached = events.indexOf(QStringLiteral("attached"));
    QVERIFY(attached >= 0);
    QCOMPARE(events.at(attached + 1), QStringLiteral("request-all-data"));
    QCOMPARE(sim.count(QStringLiteral("key-accepted")), 1);
    QCOMPARE(sim.count(QStringLiteral("attached")), 1);
    QCOMPARE(sim.count(QStringLiteral("write ")), 0);
    QCOMPARE(logCount(kAuthorised), 1);

    // Every fragment the program sent: three commands, each one fragment for address 84.
    const QRegularExpression received(QStringLiteral("^recv fragment (.*)$"),
                                      QRegularExpression::MultilineOption);
    QStringList fragments;
    for (auto it = received.globalMatch(sim.trace()); it.hasNext();)
        fragments << it.next().captured(1);
    QCOMPARE(fragments,
             QStringList({QStringLiteral("index=0 count=1 offset=0x54 length=1 payload=03"),
                          QStringLiteral("index=0 count=1 offset=0x54 length=1 payload=01"),
                          QStringLiteral("index=0 count=1 offset=0x54 length=1 payload=02")}));
}

void TestEndToEnd::unplugAndReplug()
{
    for (int round = 1; round <= 3; ++round) {
        SimRunner sim;
        startSim(sim);
        QVERIFY(sim.waitFor(QStringLiteral("key-accepted")));
        QVERIFY(waitForLog(kAuthorised, round));
        sim.stop();
        QVERIFY(waitForLog(QStringLiteral("GGadget::~GGadget"), round));
    }
    QCOMPARE(program->state(), QProcess::Running);
}

void TestEndToEnd::faultyWatch_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QString>("faultEvent");
    QTest::newRow("garbage after its memory")
        << QStringList{QStringLiteral("--garbage"), QStringLiteral("40")}
        << QStringLiteral("fault garbage");
    QTest::newRow("lost fragment")
        << QStringList{QStringLiteral("--drop-fragment"), QStringLiteral("2")}
        << QStringLiteral("fault drop-fragment");
    QTest::newRow("fragments out of order")
        << QStringList{QStringLiteral("--reorder-fragment"), QStringLiteral("5")}
        << QStringLiteral("fault reorder-fragment");
    QTest::newRow("gone after the attach")
        << QStringList{QStringLiteral("--disconnect-after"), QStringLiteral("1")}
        << QStringLiteral("fault disconnect-after");
    QTest::newRow("gone after the request")
        << QStringList{QStringLiteral("--disconnect-after"), QStringLiteral("2")}
        << QStringLiteral("fault disconnect-after");
}

void TestEndToEnd::faultyWatch()
{
    QFETCH(QStringList, fault);
    QFETCH(QString, faultEvent);
    {
        SimRunner faulty;
        startSim(faulty, fault);
        QVERIFY(faulty.waitFor(faultEvent));
        QTest::qWait(300);
        faulty.stop();
    }
    QVERIFY(waitForLog(QStringLiteral("GGadget::~GGadget")));
    QCOMPARE(program->state(), QProcess::Running);

    // Whatever the faulty watch did, the next one is served in full.
    const int before = logCount(kAuthorised);
    SimRunner sound;
    startSim(sound);
    QVERIFY(sound.waitFor(QStringLiteral("key-accepted")));
    QVERIFY(waitForLog(kAuthorised, before + 1));
}

void TestEndToEnd::secondWatchRefused()
{
    SimRunner first;
    startSim(first);
    QVERIFY(first.waitFor(QStringLiteral("key-accepted")));
    SimRunner second;
    second.start({QStringLiteral("--verbose")});
    QVERIFY(second.process.waitForFinished(10000));
    QVERIFY(second.count(QStringLiteral("connected")) == 1);
    QCOMPARE(second.count(QStringLiteral("attached")), 0);
    QVERIFY(waitForLog(QStringLiteral("new tcp device available, but device server is disabled")));
    QTest::qWait(100);
    QCOMPARE(first.count(QStringLiteral("disconnected")), 0);
    QCOMPARE(first.count(QStringLiteral("attached")), 1);
}

void TestEndToEnd::shutdownDetachesWatch()
{
    SimRunner sim;
    startSim(sim);
    QVERIFY(sim.waitFor(QStringLiteral("key-accepted")));
    program->terminate();
    QVERIFY(program->waitForFinished(10000));
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    // A sanitizer build reports its findings through the exit code.
    QVERIFY2(program->exitCode() == 0, program->readAllStandardError().right(3000).constData());
    QVERIFY(sim.waitFor(QStringLiteral("detached")));
    QVERIFY(log().contains(QStringLiteral("GGadget::~GGadget")));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
