#include "../app/processfixture.h"
#include "../gadget/fragmentpeer.h"
#include "fakeservice.h"
#include "simrunner.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopedPointer>

#include <memory>

// The real program, started offscreen in a private sandbox, with the real simulated watch and,
// last, the fake web service.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sessionAndShutdown();
    void replugAfter_data();
    void replugAfter();
    void jobReachesTheWatchAndUploadsArrive();

private:
    std::unique_ptr<ProgramSandbox> box;
    QScopedPointer<QProcess> program;
};

// The program opens its port a moment after it starts; the watch keeps trying.
static const QStringList kRetrying = {"--reconnect", "--reconnect-delay", "50", "--verbose"};
static const QByteArray kAuthorised = "authorize: gadget authorized with 51 parameters";

void TestEndToEnd::init()
{
    // Another run may still hold the gadget port; the program would not listen then.
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    box = std::make_unique<ProgramSandbox>();
    program.reset(box->startLogged());
    // Stopped before it runs the program, the forked test would report the signal itself.
    QVERIFY(program->waitForStarted());
}

void TestEndToEnd::cleanup()
{
    if (program)
        ProgramSandbox::stop(program.data());
}

void TestEndToEnd::sessionAndShutdown()
{
    SimRunner sim;
    sim.start(kRetrying);
    QVERIFY(sim.waitFor(QStringLiteral("key-accepted")));
    QVERIFY(box->waitForLog(kAuthorised));

    // One watch at a time: a second one is let in and closed at once, the first stays.
    SimRunner second;
    second.start({QStringLiteral("--verbose")});
    QVERIFY(second.process.waitForFinished(10000));
    QCOMPARE(second.count(QStringLiteral("connected")), 1);
    QCOMPARE(second.count(QStringLiteral("attached")), 0);
    QVERIFY(box->waitForLog("new tcp device available, but device server is disabled"));
    QTest::qWait(100);
    QCOMPARE(sim.count(QStringLiteral("disconnected")), 0);

    program->terminate();
    QVERIFY(program->waitForFinished(10000));
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    // A sanitizer build reports its findings through the exit code.
    QVERIFY2(program->exitCode() == 0, program->readAllStandardError().right(3000).constData());
    QVERIFY(sim.waitFor(QStringLiteral("detached")));
    QCOMPARE(box->logCount("GGadget::~GGadget"), 1);
    QCOMPARE(box->logCount(kAuthorised), 1);
    QCOMPARE(sim.count(QStringLiteral("write ")), 0);
    QCOMPARE(sim.count(QStringLiteral("attached")), 1);
    QCOMPARE(sim.count(QStringLiteral("key-accepted")), 1);
    const QStringList events = sim.events();
    QCOMPARE(events.at(events.indexOf(QStringLiteral("attached")) + 1),
             QStringLiteral("request-all-data"));

    // Every fragment the program sent: four commands, each one fragment for address 84.
    const QStringList fragments =
        sim.trace().split('\n').filter(QRegularExpression(QStringLiteral("^recv fragment ")));
    const QString command =
        QStringLiteral("recv fragment index=0 count=1 offset=0x54 length=1 payload=0");
    QCOMPARE(fragments, QStringList({command + '3', command + '1', command + '2', command + '4'}));
}

void TestEndToEnd::replugAfter_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QString>("faultEvent");
    QTest::newRow("a whole session") << QStringList() << QStringLiteral("key-accepted");
    QTest::newRow("garbage after its memory")
        << QStringList{"--garbage", "40"} << QStringLiteral("fault garbage");
    QTest::newRow("lost fragment")
        << QStringList{"--drop-fragment", "2"} << QStringLiteral("fault drop-fragment");
    QTest::newRow("fragments out of order")
        << QStringList{"--reorder-fragment", "5"} << QStringLiteral("fault reorder-fragment");
    QTest::newRow("gone after the attach")
        << QStringList{"--disconnect-after", "1"} << QStringLiteral("fault disconnect-after");
    QTest::newRow("gone after the request")
        << QStringList{"--disconnect-after", "2"} << QStringLiteral("fault disconnect-after");
}

void TestEndToEnd::replugAfter()
{
    QFETCH(QStringList, fault);
    QFETCH(QString, faultEvent);
    {
        SimRunner first;
        first.start(kRetrying + fault);
        QVERIFY(first.waitFor(faultEvent));
        QTest::qWait(300);
    }
    QVERIFY(box->waitForLog("GGadget::~GGadget"));

    // Whatever the first watch did, the next one is served in full, and then the one after.
    for (int round = 1; round <= 2; ++round) {
        const int before = box->logCount(kAuthorised);
        SimRunner sound;
        sound.start(kRetrying);
        QVERIFY(sound.waitFor(QStringLiteral("key-accepted")));
        QVERIFY(box->waitForLog(kAuthorised, before + 1));
    }
    QCOMPARE(program->state(), QProcess::Running);
}

// The program talks to the service on its own once a watch is authorised: a job scripted on the
// fake service reaches the simulated watch and its report comes back; parameters and statistics
// arrive as uploads.
void TestEndToEnd::jobReachesTheWatchAndUploadsArrive()
{
    ProgramSandbox::stop(program.data()); // started without the service
    const QString idFile = box->useMachineId("fedcba9876543210fedcba9876543210");
    const QByteArray serverKey(24, 'S');
    const QString serial = QStringLiteral("TR31-E2E-JOB1");
    FakeService service;
    service.setHostKey(FakeService::hostKeyHexFor(idFile));
    service.addDevice(serial, serverKey);
    QVERIFY(service.start());
    QVERIFY(service.script("GET", "/en/api/v1/current_jobs/", 200,
                           R"({"current_job_list": [{"id": "{0f0e0d0c-0b0a-0908-0706-050403020100}",
            "state": "PENDING", "time": "2024-01-02T03:04:05.006Z",
            "document": {"parameters": {"indicBrightness": "77"}}}]})"));
    qputenv("CORVANE_SERVICE_ORIGIN", service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", service.caPath().toLocal8Bit());
    program.reset(box->start({}));
    QVERIFY(program->waitForStarted());

    SimRunner sim;
    sim.start(kRetrying + QStringList{"--serial", serial, "--server-key",
                                      QString::fromLatin1(serverKey.toHex()), "--clock",
                                      "2031-07-08T09:10:11", "--frozen-clock"});
    // The first job request goes out five seconds after the watch is handed over.
    QVERIFY(sim.waitFor(QStringLiteral("write offset=145 size=1 name=indicBrightness value=77"), 1,
                        20000));
    QTRY_VERIFY_WITH_TIMEOUT(!service.requests("/en/api/v1/set_job_state/").isEmpty(), 10000);
    const QJsonObject report =
        QJsonDocument::fromJson(
            service.requests("/en/api/v1/set_job_state/").first()["body"].toString().toUtf8())
            .object();
    QCOMPARE(report.value("id").toString(), QStringLiteral("0f0e0d0c-0b0a-0908-0706-050403020100"));
    QCOMPARE(report.value("state").toString(), QStringLiteral("SUCCESS"));
    // The first uploads carry the watch's own counters, clock and settings; the service's
    // plain acceptance takes the statistics off the queue at once.
    const auto bodyOf = [&](const char *path) {
        const QJsonArray seen = service.requests(QLatin1String(path));
        return QJsonDocument::fromJson(seen.first()["body"].toString().toUtf8()).object();
    };
    const QJsonObject stats = bodyOf("/en/api/v1/device_stat/");
    const QJsonObject switches = stats.value("indicSwitchCount").toArray().first().toObject();
    QCOMPARE(switches.value("value").toInt(), 1873);
    QVERIFY(switches.value("datetime").toString().startsWith("2031-07-08T09:10:11"));
    QCOMPARE(service.requests("/en/api/v1/device_stat/").size(), 1);
    const QJsonObject params = bodyOf("/en/api/v1/device_params/");
    QCOMPARE(params.value("indicBrightness").toInt(), 80);
    QCOMPARE(params.value("batteryChargeCycles").toInt(), 42);
    // Everything about the watch is signed; the window's own update check is not.
    QVERIFY(!service.requests("/en/api/v1/app_version/").isEmpty());
    for (const QJsonValue &request : service.requests()) {
        const QJsonObject r = request.toObject();
        if (!r.value("path").toString().startsWith(QLatin1String("/en/api/v1/app_version/")))
            QCOMPARE(r.value("signature").toString(), QStringLiteral("ok"));
    }
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
