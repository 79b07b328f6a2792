#include "../app/processfixture.h"
#include "../gadget/fragmentpeer.h"
#include "fakeservice.h"
#include "simrunner.h"

#include <QJsonDocument>
#include <QScopedPointer>

// The real program talks to the service on its own once a watch is authorised: a job scripted on
// the fake service reaches the simulated watch and its report comes back; parameters and
// statistics arrive as uploads.
class TestEndToEndService : public QObject
{
    Q_OBJECT

private slots:
    void jobReachesTheWatchAndUploadsArrive();
};

void TestEndToEndService::jobReachesTheWatchAndUploadsArrive()
{
    // Another program may still hold the gadget port; this one would not listen then.
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    ProgramSandbox box;
    const QString idFile = box.useMachineId("fedcba9876543210fedcba9876543210");
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
    QScopedPointer<QProcess> program(
        box.start({QStringLiteral("--debug-file"), box.path(QStringLiteral("run.log"))}));
    QVERIFY(program->waitForStarted());

    SimRunner sim;
    sim.start({QStringLiteral("--reconnect"), QStringLiteral("--reconnect-delay"),
               QStringLiteral("50"), QStringLiteral("--serial"), serial,
               QStringLiteral("--server-key"), QString::fromLatin1(serverKey.toHex())});
    // The first job request goes out five seconds after the watch is handed over.
    QVERIFY(sim.waitFor(QStringLiteral("write offset=145 size=1 name=indicBrightness value=77"), 1,
                        20000));
    QTRY_VERIFY_WITH_TIMEOUT(!service.requests("/en/api/v1/set_job_state/").isEmpty(), 10000);
    const QJsonObject report = QJsonDocument::fromJson(service.requests("/en/api/v1/set_job_state/")
                                                           .first()
                                                           .toObject()
                                                           .value("body")
                                                           .toString()
                                                           .toUtf8())
                                   .object();
    QCOMPARE(report.value("id").toString(), QStringLiteral("0f0e0d0c-0b0a-0908-0706-050403020100"));
    QCOMPARE(report.value("state").toString(), QStringLiteral("SUCCESS"));
    QVERIFY(!service.requests("/en/api/v1/device_params/").isEmpty());
    QVERIFY(!service.requests("/en/api/v1/device_stat/").isEmpty());
    // Everything about the watch is signed; the window's own update check is not.
    QVERIFY(!service.requests("/en/api/v1/app_version/").isEmpty());
    for (const QJsonValue &request : service.requests()) {
        const QJsonObject r = request.toObject();
        if (!r.value("path").toString().startsWith(QLatin1String("/en/api/v1/app_version/")))
            QCOMPARE(r.value("signature").toString(), QStringLiteral("ok"));
    }

    program->terminate();
    QVERIFY(program->waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestEndToEndService)
#include "tst_e2eservice.moc"
