#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"
#include "app/slapplogic.h"
#include "fakeservice.h"
#include "web/jobprocessor.h"
#include "web/slparamsender.h"

#include <QJsonDocument>
#include <QtTest>

// Jobs and uploads between the fake service and the simulated watch, through an in-process hub.
class TstJobsUploads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    // Another program may still hold the gadget port; the hub would not listen then.
    void init() { QVERIFY(FragmentPeer::waitForFreePort(6666) && m_service.reset()); }
    void parseJobResponse_data();
    void parseJobResponse();
    void jobsAndUploads();

private:
    std::unique_ptr<SlAppLogic> plug(SimRunner &sim);

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
const QString kJob = R"({"current_job_list": [{"id": "%1", "state": "%2", "time": "%3",
                         "document": %4}]})";
const QString kTime = QStringLiteral("2024-05-06T07:08:09.123Z");
const QString kFirst = QStringLiteral("11111111-2222-3333-4444-555555555555");

QJsonObject body(const QJsonValue &request)
{
    return QJsonDocument::fromJson(request.toObject().value("body").toString().toUtf8()).object();
}
} // namespace

void TstJobsUploads::initTestCase()
{
    m_box.useForThisProcess();
    m_service.setHostKey(
        FakeService::hostKeyHexFor(m_box.useMachineId("0123456789abcdef0123456789abcdef")));
    m_service.addDevice(m_serial, m_serverKey);
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
}

// A hub with short waits, and the simulated watch plugged into it.
std::unique_ptr<SlAppLogic> TstJobsUploads::plug(SimRunner &sim)
{
    auto logic = std::make_unique<SlAppLogic>();
    logic->jobProcessor()->setWaits({50, 50, 400, 150});
    logic->paramSender()->setUploadInterval(400);
    sim.start({"--serial", m_serial, "--device-key", QString(48, '4'), "--server-key",
               m_serverKey.toHex()});
    return logic;
}

void TstJobsUploads::parseJobResponse_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("code");
    QTest::newRow("a job") << kJob.arg(kFirst, "IN_PROGRESS", kTime, "{}") << 0;
    QTest::newRow("no jobs") << R"({"current_job_list": []})" << 1;
    QTest::newRow("not an object") << "[1]" << 2;
    QTest::newRow("no list") << "{}" << 3;
    QTest::newRow("list not an array") << R"({"current_job_list": 5})" << 4;
    QTest::newRow("item not an object") << R"({"current_job_list": [5]})" << 5;
    QTest::newRow("unknown state") << kJob.arg(kFirst, "DONE", kTime, "{}") << 6;
    QTest::newRow("blank for the T")
        << kJob.arg(kFirst, "PENDING", "2024-05-06 07:08:09.123Z", "{}") << 6;
    QTest::newRow("no milliseconds")
        << kJob.arg(kFirst, "PENDING", "2024-05-06T07:08:09Z", "{}") << 6;
    QTest::newRow("id not a UUID") << kJob.arg("x", "PENDING", kTime, "{}") << 6;
    QTest::newRow("member missing") << R"({"current_job_list": [{"id": "x"}]})" << 6;
}

void TstJobsUploads::parseJobResponse()
{
    QFETCH(QString, reply);
    QFETCH(int, code);
    JobProcessor::Job job;
    QCOMPARE(JobProcessor::parseJobResponse(QJsonDocument::fromJson(reply.toUtf8()), &job, nullptr),
             code);
    QCOMPARE(job.valid, code == 0);
}

void TstJobsUploads::jobsAndUploads()
{
    const QString second = QStringLiteral("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");
    const QString good = R"({"parameters": {"syncFlag": "false", "indicBrightness": "50"}})";
    const QString bad = R"({"parameters": {"nosuch": "1", "indicBrightness": "300"}})";
    QVERIFY(m_service.script("GET", kJobs, 200, kJob.arg(kFirst, "PENDING", kTime, good).toUtf8()));
    QVERIFY(m_service.script("GET", kJobs, 200, kJob.arg(second, "PENDING", kTime, bad).toUtf8()));
    QVERIFY(m_service.script("POST", kReport, 200, "{}") &&
            m_service.script("POST", kReport, 500, "{}"));
    QVERIFY(m_service.script("POST", kParams, 500, "{}") &&
            m_service.script("POST", kStats, 500, "{}"));
    {
        SimRunner sim;
        auto logic = plug(sim);
        // The good job is written in key order; nothing of the faulty one, whose report, refused
        // once, goes again unchanged.
        QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kReport).size() >= 3, 10000);
        QStringList writes = sim.events().filter(QRegularExpression("^write offset="));
        writes.replaceInStrings(QRegularExpression("^(\\S+ ){3}"), QString());
        QCOMPARE(writes,
                 (QStringList{"name=indicBrightness value=50", "name=syncFlag value=false"}));
        const QString why = "property=indicBrightness value=300 is invalid\n"
                            "property=nosuch does not exist\n";
        const auto report = [](const QString &id, const char *state, int code,
                               const QString &text) {
            return QJsonObject{
                {"id", id}, {"state", state}, {"response_code", code}, {"response_message", text}};
        };
        const QJsonArray reports = m_service.requests(kReport);
        QCOMPARE(QJsonArray({body(reports[0]), body(reports[1]), body(reports[2])}),
                 QJsonArray({report(kFirst, "SUCCESS", 0, ""), report(second, "FAILED", 7, why),
                             report(second, "FAILED", 7, why)}));
        QCOMPARE(m_service.requests(kStats).size(), 1);
        // No more jobs: polls, no reports; and the watch is quiet.
        QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kJobs).size() >= 4, 5000);
        QTest::qWait(1000);
        const int settled = m_service.requests(kParams).size();
        QTest::qWait(900);
        QCOMPARE(m_service.requests(kParams).size(), settled);
        QCOMPARE(m_service.requests(kReport).size(), 3);
        sim.stop();
        // Removal: the last model once more.
        QTRY_COMPARE(m_service.requests(kParams).size(), settled + 1);
        const QJsonObject headers = m_service.requests(kParams).last()["headers"].toObject();
        QCOMPARE(headers.value("Serial-Number"), QJsonValue(m_serial));
        QTRY_COMPARE(logic->jobProcessor()->cycleState(), JobProcessor::Idle);
    }
    // The refused statistics stayed queued: the next connection delivers them first, then its own.
    QVERIFY(m_service.reset());
    SimRunner sim;
    auto logic = plug(sim);
    QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kStats).size() == 2, 10000);
    QVariantMap model;
    SlDeviceRecord record;
    QTRY_VERIFY(!logic->settings()->peekStatistics(model, record));
}

QTEST_MAIN(TstJobsUploads)
#include "tst_jobsuploads.moc"
