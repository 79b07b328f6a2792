#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"
#include "app/slapplogic.h"
#include "fakeservice.h"
#include "web/jobprocessor.h"
#include "web/slparamsender.h"

#include <QJsonDocument>
#include <QtTest>

// Jobs and uploads between the fake service and the simulated watch, through an in-process hub
// whose waits are shortened.
class TstJobsUploads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void parseJobResponse_data();
    void parseJobResponse();
    void jobCycle();
    void uploadsArePacedAndStatisticsDrain();

private:
    std::unique_ptr<SlAppLogic> hub();
    void plug(SimRunner &sim);
    QJsonObject body(const QJsonValue &request)
    {
        return QJsonDocument::fromJson(request.toObject().value("body").toString().toUtf8())
            .object();
    }

    ProgramSandbox m_box;
    FakeService m_service;
    const QByteArray m_serverKey = QByteArray(24, 'A');
    const QString m_serial = QStringLiteral("TR31-JOB-0001");
};

namespace {
const QString kJobs = QStringLiteral("/en/api/v1/current_jobs/");
const QString kReport = QStringLiteral("/en/api/v1/set_job_state/");
const QString kParams = QStringLiteral("/en/api/v1/device_params/");
const QString kStats = QStringLiteral("/en/api/v1/device_stat/");

QByteArray jobList(const QString &id, const QByteArray &parameters)
{
    return QStringLiteral(R"({"current_job_list": [{"id": "%1", "state": "PENDING",
        "time": "2024-05-06T07:08:09.123Z", "document": {"parameters": %2}}]})")
        .arg(id, QString::fromUtf8(parameters))
        .toUtf8();
}
} // namespace

void TstJobsUploads::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    m_box.useForThisProcess();
    const QString idFile = m_box.useMachineId("0123456789abcdef0123456789abcdef");
    m_service.setHostKey(FakeService::hostKeyHexFor(idFile));
    m_service.addDevice(m_serial, m_serverKey);
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
}

void TstJobsUploads::init()
{
    // Another program may still hold the gadget port; the hub would not listen then.
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    QVERIFY(m_service.reset());
}

std::unique_ptr<SlAppLogic> TstJobsUploads::hub()
{
    auto logic = std::make_unique<SlAppLogic>();
    JobProcessor::Waits waits;
    waits.firstRequest = 50;
    waits.identityRetry = 50;
    waits.poll = 400;
    waits.reportRetry = 150;
    logic->jobProcessor()->setWaits(waits);
    logic->paramSender()->setUploadInterval(400);
    return logic;
}

void TstJobsUploads::plug(SimRunner &sim)
{
    sim.start({QStringLiteral("--serial"), m_serial, QStringLiteral("--device-key"),
               QString(48, QLatin1Char('4')), QStringLiteral("--server-key"),
               QString::fromLatin1(m_serverKey.toHex())});
}

void TstJobsUploads::parseJobResponse_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("code");
    const QByteArray id = "6f1c3c9e-8d53-4d6a-9a55-0c8b2a3d4e5f";
    const auto job = [&](const char *state, const char *time) {
        return QStringLiteral(R"({"current_job_list": [{"id": "%1", "state": "%2", "time": "%3",
            "document": {}}]})")
            .arg(QString::fromLatin1(id), QLatin1String(state), QLatin1String(time))
            .toUtf8();
    };
    QTest::newRow("a job") << job("IN_PROGRESS", "2024-05-06T07:08:09.123Z") << 0;
    QTest::newRow("no jobs") << QByteArray(R"({"current_job_list": []})") << 1;
    QTest::newRow("not an object") << QByteArray("[1]") << 2;
    QTest::newRow("no list") << QByteArray("{}") << 3;
    QTest::newRow("list not an array") << QByteArray(R"({"current_job_list": 5})") << 4;
    QTest::newRow("item not an object") << QByteArray(R"({"current_job_list": [5]})") << 5;
    QTest::newRow("unknown state") << job("DONE", "2024-05-06T07:08:09.123Z") << 6;
    QTest::newRow("blank for the T") << job("PENDING", "2024-05-06 07:08:09.123Z") << 6;
    QTest::newRow("no milliseconds") << job("PENDING", "2024-05-06T07:08:09Z") << 6;
    QTest::newRow("id not a UUID")
        << QByteArray(R"({"current_job_list": [{"id": "x", "state": "PENDING",
               "time": "2024-05-06T07:08:09.123Z", "document": {}}]})")
        << 6;
    QTest::newRow("member missing") << QByteArray(R"({"current_job_list": [{"id": "x"}]})") << 6;
}

void TstJobsUploads::parseJobResponse()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, code);
    JobProcessor::Job job;
    QCOMPARE(JobProcessor::parseJobResponse(QJsonDocument::fromJson(reply), &job, nullptr), code);
    QCOMPARE(job.valid, code == 0);
}

void TstJobsUploads::jobCycle()
{
    const QString first = QStringLiteral("11111111-2222-3333-4444-555555555555");
    const QString second = QStringLiteral("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");
    QVERIFY(m_service.script("GET", kJobs, 200,
                             jobList(first, R"({"syncFlag": "false", "indicBrightness": "50"})")));
    QVERIFY(m_service.script("GET", kJobs, 200,
                             jobList(second, R"({"nosuch": "1", "indicBrightness": "300"})")));
    QVERIFY(m_service.script("POST", kReport, 200, "{}"));
    QVERIFY(m_service.script("POST", kReport, 500, "{}"));

    auto logic = hub();
    SimRunner sim;
    plug(sim);
    // Both parameters are written, in key order; the watch applies them (it starts synchronised).
    QVERIFY(sim.waitFor(QStringLiteral("write offset="), 2, 10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kReport).size() >= 3, 10000);
    QStringList writes;
    for (const QString &line : sim.events())
        if (line.startsWith(QLatin1String("write offset=")))
            writes << line.section(QLatin1Char(' '), 3);
    QCOMPARE(writes, (QStringList{"name=indicBrightness value=50", "name=syncFlag value=false"}));

    const QJsonArray reports = m_service.requests(kReport);
    const QJsonObject ok = body(reports[0]);
    QCOMPARE(ok.value("id").toString(), first);
    QCOMPARE(ok.value("state").toString(), QStringLiteral("SUCCESS"));
    QCOMPARE(ok.value("response_code").toInt(), 0);
    QCOMPARE(ok.value("response_message").toString(), QString());
    // Nothing of the faulty job is written; its report, refused once, goes again unchanged.
    const QJsonObject failed = body(reports[1]);
    QCOMPARE(failed.value("id").toString(), second);
    QCOMPARE(failed.value("state").toString(), QStringLiteral("FAILED"));
    QCOMPARE(failed.value("response_code").toInt(), 7);
    QCOMPARE(failed.value("response_message").toString(),
             QStringLiteral("property=indicBrightness value=300 is invalid\n"
                            "property=nosuch does not exist\n"));
    QCOMPARE(body(reports[2]), failed);
    QCOMPARE(writes.size(), 2);

    // With no more jobs the next request waits for the poll interval, and nothing is reported.
    QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kJobs).size() >= 4, 5000);
    QCOMPARE(m_service.requests(kReport).size(), 3);
    for (const QJsonValue &request : m_service.requests())
        QCOMPARE(request.toObject().value("signature").toString(), QStringLiteral("ok"));

    sim.stop();
    QTRY_COMPARE(logic->jobProcessor()->cycleState(), JobProcessor::Idle);
}

void TstJobsUploads::uploadsArePacedAndStatisticsDrain()
{
    FakeService::Reply refuse;
    refuse.status = 500;
    QVERIFY(m_service.script("POST", kParams, refuse));
    QVERIFY(m_service.script("POST", kStats, refuse));
    {
        auto logic = hub();
        SimRunner sim;
        plug(sim);
        QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kStats).size() == 1, 10000);
        // The refused first upload goes again at the next tick; then the idle watch is quiet.
        QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kParams).size() >= 2, 5000);
        QTest::qWait(1000);
        const int settled = m_service.requests(kParams).size();
        QTest::qWait(900);
        QCOMPARE(m_service.requests(kParams).size(), settled);
        sim.stop();
        // Removal: the last model once more.
        QTRY_COMPARE(m_service.requests(kParams).size(), settled + 1);
        QCOMPARE(m_service.requests(kParams).last().toObject().value("headers").toObject().value(
                     "Serial-Number"),
                 QJsonValue(m_serial));
    }
    // The refused statistics stayed queued: the next connection delivers them first, then its own.
    QVERIFY(m_service.reset());
    auto logic = hub();
    SimRunner sim;
    plug(sim);
    QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kStats).size() == 2, 10000);
    QTest::qWait(500);
    QCOMPARE(m_service.requests(kStats).size(), 2);
    QVariantMap model;
    SlDeviceRecord record;
    QVERIFY(!logic->settings()->peekStatistics(model, record));
}

QTEST_MAIN(TstJobsUploads)
#include "tst_jobsuploads.moc"
