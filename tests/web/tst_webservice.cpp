#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"
#include "app/slapplogic.h"
#include "crypto/slaesenvelope.h"
#include "fakeservice.h"
#include "model/crc32.h"
#include "update/slappupdaterclient.h"
#include "update/slfirmwareupdater.h"
#include "update/updatearchive.h"
#include "web/jobprocessor.h"
#include "web/slparamsender.h"
#include "web/slwatchbanner.h"

#include <QJsonDocument>
#include <QSqlQuery>
#include <QtTest>

// The web service against the fake service over real HTTPS: the client's requests (the fake's own
// check judges the signature of every GET and POST) and the hub's side of them, account, banner,
// registration, jobs and uploads, and both updaters; the jobs and the firmware go into the
// simulated watch.
class TstWebService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    // Another program may still hold the gadget port; the hub would not listen then.
    void init() { QVERIFY(FragmentPeer::waitForFreePort(6666) && m_service.reset()); }
    void replies_data();
    void replies();
    void overlappingRequestsKeepIsActive();
    void downloadReportsTheLink();
    void bannerFails();
    void wrongKeyAndUnknownWatchAreRefused();
    void acceptanceWithoutData_data();
    void acceptanceWithoutData();
    void serialUnfitForAHeaderStaysHome();
    void uploadsCarryTheWatchData();
    void oneStatisticsUploadAtATime();
    void nothingGoesOutWithoutTheWatchData();
    void accountAndBannerAcrossRestarts();
    void userIdTakenWhole_data();
    void userIdTakenWhole();
    void registrationSavesOnlyAMatchingKey();
    void parseJobResponse_data();
    void parseJobResponse();
    void jobsAndUploads();
    void jobStaysWithItsWatch();
    void firmwareOffer_data();
    void firmwareOffer();
    void firmwareImages();
    void updateArchive_data();
    void updateArchive();
    void appUpdate_data();
    void appUpdate();

private:
    std::unique_ptr<SlWebService> client(bool trusted = true);
    std::unique_ptr<SlAppLogic> plug(SimRunner &sim, const QStringList &extra = {});

    ProgramSandbox m_box;
    FakeService m_service;
    QString m_hostKey;                                  // hex
    const QByteArray m_serverKey = QByteArray(24, 'A'); // printable: the watch sends it as text
    const QByteArray m_deviceKey = QByteArray(24, 'D');
    const QString m_serial = QStringLiteral("TR31-WEB-0001");
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

// A zip archive of stored entries, laid out as every zip tool writes one.
QByteArray zipOf(const QList<QPair<QByteArray, QByteArray>> &entries)
{
    QByteArray out, directory;
    const auto put = [](QByteArray &to, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            to.append(char(v >> (8 * i)));
    };
    for (const auto &entry : entries) {
        const quint32 crc = crc32(entry.second), size = quint32(entry.second.size());
        const quint32 at = quint32(out.size());
        QByteArray common; // version needed, flags, method, time, date, crc, sizes, name size
        for (const quint32 v : {20u, 0u, 0u, 0u, 0u})
            put(common, v, 2);
        put(common, crc, 4), put(common, size, 4), put(common, size, 4);
        put(common, quint32(entry.first.size()), 2);
        put(out, 0x04034b50, 4);
        out += common;
        put(out, 0, 2);
        out += entry.first + entry.second;
        put(directory, 0x02014b50, 4);
        put(directory, 20, 2);
        directory += common;
        for (int i = 0; i < 4; ++i) // extra and comment sizes, disk, internal attributes
            put(directory, 0, 2);
        put(directory, 0, 4), put(directory, at, 4);
        directory += entry.first;
    }
    const quint32 start = quint32(out.size());
    out += directory;
    put(out, 0x06054b50, 4);
    put(out, 0, 2), put(out, 0, 2);
    put(out, quint32(entries.size()), 2), put(out, quint32(entries.size()), 2);
    put(out, quint32(directory.size()), 4), put(out, start, 4), put(out, 0, 2);
    return out;
}

const QByteArray kUpdateZip = zipOf({{"updater.exe", QByteArray(5000, 'u')}, {"bin/", {}}});
} // namespace

void TstWebService::initTestCase()
{
    m_box.useForThisProcess();
    m_hostKey = FakeService::hostKeyHexFor(m_box.useMachineId("00112233445566778899aabbccddeeff"));
    m_service.setHostKey(m_hostKey);
    m_service.addDevice(m_serial, m_serverKey);
    QBuffer png;
    QVERIFY(png.open(QIODevice::WriteOnly) && QImage(3, 2, QImage::Format_RGB32).save(&png, "PNG"));
    m_service.addFile(QStringLiteral("banner.png"), png.data());
    QByteArray image(5000, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    m_service.addFile(QStringLiteral("fw.bin"), image);
    m_service.addFile(QStringLiteral("update.zip"), kUpdateZip);
    m_service.addFile(QStringLiteral("plain.zip"), QByteArray(100000, 'z'));
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
    SlAppUpdaterClient::setDefaultServiceOrigin(m_service.origin());
    SlAppUpdaterClient::setDefaultSslConfiguration(m_service.sslConfiguration());
}

// A fresh client, and so a fresh network access manager, per case: a manager keeps the TLS
// settings of its first connection to a host and port.
std::unique_ptr<SlWebService> TstWebService::client(bool trusted)
{
    auto web = std::make_unique<SlWebService>();
    web->setServiceHost(m_service.origin());
    web->setHostKey(QByteArray::fromHex(m_hostKey.toLatin1()));
    web->setSerial(m_serial);
    web->setServerKey(m_serverKey);
    if (trusted)
        web->setSslConfiguration(SlWebService::configurationWithCaFile(m_service.caPath()));
    return web;
}

void TstWebService::replies_data()
{
    QTest::addColumn<bool>("firmware");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("result");
    const bool login = false, fw = true;
    QTest::newRow("login 200") << login << 200 << R"({"customer": {"name": "Ann", "id": 7}})" << 0
                               << R"({"name": "Ann", "id": 7})";
    QTest::newRow("login 201: empty") << login << 201 << R"({"customer": {"id": 7}})" << 0 << "{}";
    QTest::newRow("400: the errors")
        << login << 400 << R"({"errors": {"e": "taken"}})" << 4 << R"({"e": "taken"})";
    QTest::newRow("406 other text") << login << 406 << "Signature wrong\n" << 4 << "{}";
    QTest::newRow("500") << login << 500 << "{}" << 6 << "{}";
    QTest::newRow("404") << login << 404 << "{}" << 1 << "{}";
    QTest::newRow("a proxy's page") << login << 200 << "<html>hotel</html>" << 1 << "{}";
    QTest::newRow("customer not an object") << login << 200 << R"({"customer": 5})" << 1 << "{}";
    QTest::newRow("no firmware") << fw << 200 << R"({"firmware_versions": []})" << 0 << "{}";
    QTest::newRow("firmware: the first")
        << fw << 200 << R"({"firmware_versions": [{"version": "2"}, {"version": "1"}]})" << 0
        << R"({"version": "2"})";
}

void TstWebService::replies()
{
    QFETCH(bool, firmware);
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(int, error);
    QFETCH(QString, result);
    auto web = client();
    QVERIFY(m_service.script(
        firmware ? "GET" : "POST",
        SlWebService::requestPath(firmware ? SlWebService::FIRMWARE_VERSION : SlWebService::LOGIN),
        status, body.toUtf8()));
    QSignalSpy networkErrors(web.get(), &SlWebService::networkError);
    QVariantMap got;
    int gotError = -1;
    const auto take = [&](const QVariant &model, int e) {
        got = model.toMap(), gotError = e;
    };
    connect(web.get(), &SlWebService::userLoginRequestFinished, this, take);
    connect(web.get(), &SlWebService::lastFirmwareVersionReceived, this, take);
    if (firmware)
        web->getLastFirmwareVersion();
    else
        web->login({{"email", "a@b"}});
    QTRY_VERIFY(gotError != -1);
    QCOMPARE(gotError, error);
    QCOMPARE(web->error(), error);
    QCOMPARE(got, QJsonDocument::fromJson(result.toUtf8()).object().toVariantMap());
    QCOMPARE(networkErrors.count(), error == SlWebService::INTERNET_ERROR ? 1 : 0);
    QCOMPARE(m_service.requests().last().toObject().value("signature").toString(), "ok");
}

void TstWebService::overlappingRequestsKeepIsActive()
{
    auto web = client();
    FakeService::Reply slow;
    slow.delaySeconds = 0.3;
    QVERIFY(m_service.script("GET", "/en/api/v1/banner/", slow));
    QSignalSpy active(web.get(), &SlWebService::isActiveChanged);
    web->getBannerModel();
    web->getJobs(m_serial, m_serverKey);
    QTRY_COMPARE(active.count(), 4);
    QCOMPARE(QList<QVariantList>(active), (QList<QVariantList>{{true}, {true}, {true}, {false}}));
}

void TstWebService::downloadReportsTheLink()
{
    auto web = client();
    QList<QVariantList> files;
    connect(web.get(), &SlWebService::fileReceived, this,
            [&](QUrl url, QVariant tag, QByteArray &data, int error) {
                files.append({url, tag, data, error});
            });
    web->downloadFile(QUrl(QStringLiteral("/files/plain.zip")));
    web->downloadFile(QUrl(QStringLiteral("@other.example/x")), 5);
    web->downloadFile(QUrl(QStringLiteral("//other.example/x")), 6);
    QTRY_COMPARE(files.size(), 3);
    const QByteArray data(100000, 'z');
    QCOMPARE(files[2], (QVariantList{QUrl(QStringLiteral("/files/plain.zip")), 0, data, 0}));
    // Links to other servers never leave the program.
    for (int i : {0, 1})
        QCOMPARE(files[i][3].toInt(), int(SlWebService::REQUEST_ERROR));
    QCOMPARE(m_service.requests().size(), 1);
}

void TstWebService::bannerFails()
{
    FakeService::Reply never;
    never.never = true;
    QVERIFY(m_service.script("GET", "/en/api/v1/banner/", never));
    // A silent service times out; an untrusted certificate fails before any request is logged.
    for (const bool trusted : {true, false}) {
        auto web = client(trusted);
        web->setTransferTimeout(300);
        QSignalSpy banner(web.get(), &SlWebService::bannerModelReceived);
        web->getBannerModel();
        QVERIFY(banner.wait(5000));
        QCOMPARE(banner[0][1].toInt(), int(SlWebService::INTERNET_ERROR));
    }
    QVERIFY(m_service.requests().isEmpty());
}

// The service's own verdicts: without them, the "ok" the other cases read would prove nothing.
void TstWebService::wrongKeyAndUnknownWatchAreRefused()
{
    auto web = client();
    QSignalSpy settings(web.get(), &SlWebService::settingsSendRequestFinished);
    QSignalSpy jobs(web.get(), &SlWebService::jobReceived);
    web->sendSettings({{"a", 1}}, m_serial, QByteArray(24, 'x'), 3);
    // Signed right with the empty key an unknown watch has.
    web->getJobs(QStringLiteral("SER-2"), QByteArray());
    QTRY_VERIFY(!settings.isEmpty() && !jobs.isEmpty());
    QCOMPARE(settings[0][1].toInt(), int(SlWebService::SIGNATURE_WRONG));
    QCOMPARE(jobs[0][1].toInt(), int(SlWebService::DEVICE_SERIAL_INVALID));
}

// Uploads and job reports get nothing back: whatever a service sends with its 2xx is acceptance.
void TstWebService::acceptanceWithoutData_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("error");
    const struct
    {
        const char *name;
        int status;
        const char *body;
        int error;
    } replies[] = {{"200 empty", 200, "", 0},
                   {"200 {}", 200, "{}", 0},
                   {"200 plain text", 200, "OK", 0},
                   {"200 other keys", 200, R"({"status": "stored", "ids": [1, 2]})", 0},
                   {"200 array", 200, "[]", 0},
                   {"204", 204, "", 0},
                   {"500", 500, "{}", int(SlWebService::INTERNAL_SERVER_ERROR)},
                   {"404 text", 404, "Not Found", int(SlWebService::INTERNET_ERROR)}};
    const QList<QPair<SlWebService::RequestType, const char *>> kinds{
        {SlWebService::DEVICE_PARAMS, "parameters"},
        {SlWebService::DEVICE_STAT, "statistics"},
        {SlWebService::SET_JOB_STATE, "job report"}};
    for (const auto &kind : kinds)
        for (const auto &r : replies)
            QTest::addRow("%s, %s", kind.second, r.name)
                << int(kind.first) << r.status << QString::fromUtf8(r.body) << r.error;
}

void TstWebService::acceptanceWithoutData()
{
    QFETCH(int, kind);
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(int, error);
    auto web = client();
    const auto type = SlWebService::RequestType(kind);
    QVERIFY(m_service.script("POST", SlWebService::requestPath(type), status, body.toUtf8()));
    QList<QVariantList> results;
    const auto take = [&](const QVariant &tag, int e) {
        results.append({tag, e});
    };
    connect(web.get(), &SlWebService::settingsSendRequestFinished, this, take);
    connect(web.get(), &SlWebService::statisticsSendRequestFinished, this, take);
    connect(web.get(), &SlWebService::jobStatusSet, this, [&](int e) { take(3, e); });
    if (type == SlWebService::DEVICE_PARAMS)
        web->sendSettings({{"indicBrightness", 5}}, m_serial, m_serverKey, 3);
    else if (type == SlWebService::DEVICE_STAT)
        web->sendStatistic({{"indicWorkTime", QVariantList()}}, m_serial, m_serverKey, 3);
    else
        web->setJobStatus({{"id", kFirst}}, m_serial, m_serverKey);
    QTRY_COMPARE(results.size(), 1);
    QCOMPARE(results.first(), (QVariantList{3, error}));
    QCOMPARE(web->error(), error);
    QCOMPARE(m_service.requests().last().toObject().value("status").toInt(), status);
}

// A serial number comes from the watch; one that could end a header line never leaves.
void TstWebService::serialUnfitForAHeaderStaysHome()
{
    auto web = client();
    QList<int> errors;
    connect(web.get(), &SlWebService::statisticsSendRequestFinished, this,
            [&](const QVariant &tag, int e) { errors.append(tag.toInt() == 9 ? e : -1); });
    connect(web.get(), &SlWebService::jobReceived, this,
            [&](const QVariantMap &, int e) { errors.append(e); });
    for (const QString &serial : {QStringLiteral("TR31\r\nX-Injected: 1"), QStringLiteral("TR31\n"),
                                  QStringLiteral("TR31\x7f"), QStringLiteral("TR31-\u20ac")}) {
        web->sendStatistic({}, serial, m_serverKey, 9);
        web->getJobs(serial, m_serverKey);
    }
    QTRY_COMPARE(errors.size(), 8);
    QCOMPARE(errors, QVector<int>(8, int(SlWebService::REQUEST_ERROR)).toList());
    QVERIFY(m_service.requests().isEmpty());
}

// The simulated watch's own counters, clock and settings reach the service, each once: the
// acceptances are a plain 200 and an empty body.
void TstWebService::uploadsCarryTheWatchData()
{
    FakeService::Reply accepted;
    accepted.once = false;
    QVERIFY(m_service.script("POST", kStats, accepted) &&
            m_service.script("POST", kParams, accepted));
    SimRunner sim;
    auto logic = plug(sim, {"--clock", "2024-03-05T06:07:08", "--frozen-clock"});
    // Refused at an earlier connection, it goes first.
    const QVariantMap earlier{{"indicSwitchCount", QVariantList{QVariantMap{{"value", 5}}}}};
    SlDeviceRecord record;
    record.serial = m_serial;
    record.serverKey = m_serverKey;
    QVERIFY(logic->settings()->pushStatistics(earlier, record));
    QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kStats).size() == 2, 10000);
    QTRY_VERIFY(!m_service.requests(kParams).isEmpty());
    // Long enough for several upload ticks: nothing changed, nothing is sent again.
    QTest::qWait(2000);
    const QJsonArray stats = m_service.requests(kStats);
    QCOMPARE(stats.size(), 2);
    QCOMPARE(body(stats[0]), QJsonObject::fromVariantMap(earlier));
    const QJsonObject today = body(stats[1]);
    const auto entry = [&](const char *name) {
        return today.value(name).toArray().first().toObject();
    };
    QCOMPARE(entry("indicSwitchCount").value("value").toInt(), 1873);
    QCOMPARE(entry("indicWorkTime").value("value").toInt(), 52640);
    QCOMPARE(entry("batteryChargeCycles").value("value").toInt(), 42);
    for (const char *name : {"indicSwitchCount", "indicWorkTime", "batteryChargeCycles"})
        QVERIFY2(entry(name).value("datetime").toString().startsWith("2024-03-05T06:07:08"), name);
    const QJsonArray params = m_service.requests(kParams);
    QCOMPARE(params.size(), 1);
    const QJsonObject first = body(params[0]);
    QCOMPARE(first.size(), 45);
    QCOMPARE(first.value("indicBrightness").toInt(), 80);
    QCOMPARE(first.value("batteryVoltage").toInt(), 3987);
    QCOMPARE(first.value("startOfUseDaysAgo").toInt(), 2160);
    QVariantMap model;
    QVERIFY(!logic->settings()->peekStatistics(model, record));
}

// The watch is plugged in again while the service is slow to accept its statistics: the entry in
// flight is not sent a second time, and the new one follows once it is accepted.
void TstWebService::oneStatisticsUploadAtATime()
{
    QVERIFY(m_service.script("POST", kStats, {200, "", 3}));
    std::unique_ptr<SlAppLogic> logic;
    {
        SimRunner first;
        logic = plug(first);
        QTRY_VERIFY_WITH_TIMEOUT(logic->device() && logic->device()->isAuthorized(), 10000);
        QTest::qWait(200);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!logic->device(), 5000);
    SimRunner second;
    second.start({"--serial", m_serial, "--device-key", m_deviceKey.toHex(), "--server-key",
                  m_serverKey.toHex(), "--reconnect", "--reconnect-delay", "50"});
    QTRY_VERIFY_WITH_TIMEOUT(logic->device() && logic->device()->isAuthorized(), 10000);
    // Done when the slow acceptance has come and the queue is empty.
    QVariantMap model;
    SlDeviceRecord record;
    QTRY_VERIFY_WITH_TIMEOUT(!logic->webService()->isActive() &&
                                 !logic->settings()->peekStatistics(model, record),
                             10000);
    QCOMPARE(m_service.requests(kStats).size(), 2);
}

// A watch authorised on its identity whose settings never arrive (a fragment of them is lost)
// uploads nothing, neither while it stays nor when it leaves.
void TstWebService::nothingGoesOutWithoutTheWatchData()
{
    SimRunner sim;
    auto logic = plug(sim, {"--drop-fragment", "6"});
    QTRY_VERIFY_WITH_TIMEOUT(logic->device() && logic->device()->isAuthorized(), 10000);
    QTest::qWait(1000);
    sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!logic->device(), 5000);
    QTest::qWait(500);
    QVERIFY(m_service.requests(kStats).isEmpty());
    QVERIFY(m_service.requests(kParams).isEmpty());
}

// A hub with short waits, and the simulated watch plugged into it.
std::unique_ptr<SlAppLogic> TstWebService::plug(SimRunner &sim, const QStringList &extra)
{
    auto logic = std::make_unique<SlAppLogic>();
    logic->jobProcessor()->setWaits({50, 50, 400, 150});
    logic->paramSender()->setUploadInterval(400);
    sim.start(QStringList{"--serial", m_serial, "--device-key", m_deviceKey.toHex(), "--server-key",
                          m_serverKey.toHex()} +
              extra);
    return logic;
}

void TstWebService::accountAndBannerAcrossRestarts()
{
    QVERIFY(m_service.script("POST", "/en/api/v1/login/", 200,
                             R"({"customer": {"name": "Ann", "email": "a@b", "id": 0}})"));
    QVERIFY(m_service.script("POST", "/en/api/v1/login/", 201, R"({"detail": "none"})"));
    const QByteArray offer = R"({"banner": {"image": "/files/banner.png", "url": "https://x/"}})";
    for (int restart = 0; restart < 2; ++restart)
        QVERIFY(m_service.script("GET", "/en/api/v1/banner/", 200, offer));
    {
        SlAppLogic hub;
        SlWatchBanner banner;
        QSignalSpy images(&banner, &SlWatchBanner::imageChanged);
        banner.setAppLogic(&hub);
        hub.webService()->login({{"email", "ann@example.org"}});
        QTRY_VERIFY(hub.user()->isValid());
        QTRY_COMPARE(images.count(), 1);
        QCOMPARE(banner.image().size(), QSize(3, 2));
        QCOMPARE(banner.bannerLink(), QUrl(QStringLiteral("https://x/")));
        // A success without a customer is no account: it must not wipe the one just stored.
        hub.webService()->login({{"email", "ann@example.org"}});
        // Another owner's download through the same signal leaves the banner alone.
        hub.webService()->downloadFile(QUrl(QStringLiteral("/files/banner.png")), 2179941);
        QTRY_COMPARE(m_service.requests("/en/api/v1/login/").size(), 2);
        QTRY_COMPARE(m_service.requests("/files/banner.png").size(), 2);
        QTest::qWait(100);
        QCOMPARE(images.count(), 1);
    }
    {
        SlAppLogic hub;
        QVERIFY(hub.user()->isValid() && hub.user()->name() == "Ann");
        SlWatchBanner banner;
        QSignalSpy images(&banner, &SlWatchBanner::imageChanged);
        banner.setAppLogic(&hub);
        // The cached banner shows before any reply; the same image link is not fetched again.
        QCOMPARE(images.count(), 1);
        QTRY_COMPARE(m_service.requests("/en/api/v1/banner/").size(), 2);
        QTest::qWait(200);
        QCOMPARE(images.count(), 1);
        hub.logout();
    }
    QVERIFY(!SlAppLogic().user()->isValid());
}

// The id names the account: one out of range is refused, never cut to another user's.
void TstWebService::userIdTakenWhole_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<qint64>("taken"); // -1: no account
    QTest::newRow("number") << QByteArray("7") << qint64(7);
    QTest::newRow("text") << QByteArray(R"("42")") << qint64(42);
    QTest::newRow("beyond 32 bits") << QByteArray("4294967297") << qint64(4294967297);
    QTest::newRow("text beyond 32 bits") << QByteArray(R"("2147483648")") << qint64(2147483648);
    QTest::newRow("text beyond 64 bits") << QByteArray(R"("18446744073709551617")") << qint64(-1);
    QTest::newRow("number beyond exact") << QByteArray("1e300") << qint64(-1);
    QTest::newRow("negative") << QByteArray("-2") << qint64(-1);
    QTest::newRow("fraction") << QByteArray("1.5") << qint64(-1);
    QTest::newRow("words") << QByteArray(R"("seven")") << qint64(-1);
}

void TstWebService::userIdTakenWhole()
{
    QFETCH(QByteArray, id);
    QFETCH(qint64, taken);
    QVERIFY(m_service.script("POST", "/en/api/v1/login/", 200,
                             R"({"customer": {"name": "Ann", "email": "a@b", "id": )" + id + "}}"));
    SlAppLogic hub;
    QSignalSpy replies(hub.webService(), &SlWebService::userLoginRequestFinished);
    hub.webService()->login({{"email", "a@b"}});
    QVERIFY(replies.wait(5000));
    QCOMPARE(hub.user()->isValid(), taken >= 0);
    if (taken >= 0)
        QCOMPARE(hub.user()->id(), taken);
    hub.logout();
}

void TstWebService::registrationSavesOnlyAMatchingKey()
{
    SimRunner sim;
    auto hub = plug(sim);
    QTRY_VERIFY_WITH_TIMEOUT(hub->device() && hub->device()->isAuthorized(), 10000);
    const QString path = QStringLiteral("/en/api/v1/register_device/");
    const QString reply = R"({"device": {"device_key": "%1", "model_description": "TR-31"}})";
    QSignalSpy results(hub->webService(), &SlWebService::deviceRegistrationRequestFinished);
    // The hub authorises a watch as soon as its device key arrives, so even a matching
    // registration result finds it authorised already: it is refused and nothing is stored.
    const QList<QPair<QString, const char *>> rows{
        {SlAesEnvelope(m_serverKey, SlAesEnvelope::MODE_PLAIN).encrypt(m_deviceKey).toHex(),
         "Fail authorize device"},
        {"zz", "onDeviceRegistered: device_key is not hexadecimal"},
        {QString(32, '0') + "0000000800000000", // 8 stated, 4 there
         "onDeviceRegistered: device_key states a length beyond its text"}};
    for (const auto &row : rows) {
        QVERIFY(m_service.script("POST", path, 201, reply.arg(row.first).toUtf8()));
        QTest::ignoreMessage(QtDebugMsg, row.second);
        hub->webService()->registerDevice({});
        QVERIFY(results.wait(5000));
        QCOMPARE(m_service.requests(path).last().toObject().value("signature"), QJsonValue("ok"));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "peek");
    db.setDatabaseName(hub->settings()->path());
    QVERIFY(db.open());
    QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM Devices"), db);
    QVERIFY2(query.next() && query.value(0).toInt() == 0, "a refused registration was stored");
    sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!hub->device(), 5000);
    QVERIFY(hub->webService()->serial() == "invalid" && hub->webService()->serverKey().isEmpty());
}

void TstWebService::parseJobResponse_data()
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

void TstWebService::parseJobResponse()
{
    QFETCH(QString, reply);
    QFETCH(int, code);
    JobProcessor::Job job;
    QCOMPARE(JobProcessor::parseJobResponse(QJsonDocument::fromJson(reply.toUtf8()), &job, nullptr),
             code);
    QCOMPARE(job.valid, code == 0);
}

void TstWebService::jobsAndUploads()
{
    const QString second = QStringLiteral("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");
    const QString good = R"({"parameters": {"syncFlag": "false", "indicBrightness": "50"}})";
    const QString bad = R"({"parameters": {"nosuch": "1", "indicBrightness": "300"}})";
    QVERIFY(m_service.script("GET", kJobs, 200, kJob.arg(kFirst, "PENDING", kTime, good).toUtf8()));
    QVERIFY(m_service.script("GET", kJobs, 200, kJob.arg(second, "PENDING", kTime, bad).toUtf8()));
    const QString third = QStringLiteral("0f0e0d0c-0b0a-0908-0706-050403020100");
    QVERIFY(m_service.script("GET", kJobs, 200, kJob.arg(third, "DONE", kTime, "{}").toUtf8()));
    QVERIFY(m_service.script("POST", kReport, 200, "{}") &&
            m_service.script("POST", kReport, 500, "{}"));
    QVERIFY(m_service.script("POST", kParams, 500, "{}") &&
            m_service.script("POST", kStats, 500, "{}"));
    {
        SimRunner sim;
        auto logic = plug(sim);
        // The good job is written in key order; nothing of the faulty one, whose report, refused
        // once, goes again unchanged; a malformed job is reported under its own id.
        QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kReport).size() >= 4, 10000);
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
        QCOMPARE(
            QJsonArray({body(reports[0]), body(reports[1]), body(reports[2]), body(reports[3])}),
            QJsonArray({report(kFirst, "SUCCESS", 0, ""), report(second, "FAILED", 7, why),
                        report(second, "FAILED", 7, why),
                        report(third, "FAILED", 6, "Job state invalid value: DONE")}));
        QCOMPARE(m_service.requests(kStats).size(), 1);
        // No more jobs: polls, no reports; and the watch is quiet.
        QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kJobs).size() >= 4, 5000);
        QTest::qWait(1000);
        const int settled = m_service.requests(kParams).size();
        QTest::qWait(900);
        QCOMPARE(m_service.requests(kParams).size(), settled);
        QCOMPARE(m_service.requests(kReport).size(), 4);
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

// The user swaps watches while the job for the first is on its way: the second never gets it.
void TstWebService::jobStaysWithItsWatch()
{
    const QString job = R"({"parameters": {"indicBrightness": "33"}})";
    QVERIFY(m_service.script("GET", kJobs,
                             {200, kJob.arg(kFirst, "PENDING", kTime, job).toUtf8(), 2.5}));
    std::unique_ptr<SlAppLogic> logic;
    {
        SimRunner first;
        logic = plug(first);
        QTRY_VERIFY_WITH_TIMEOUT(logic->device() && logic->device()->isAuthorized(), 10000);
        QTest::qWait(300); // the job request is out
    }
    QTRY_VERIFY_WITH_TIMEOUT(!logic->device(), 5000);
    SimRunner second;
    second.start({"--serial", "TR31-WEB-0002", "--reconnect", "--reconnect-delay", "50"});
    QTRY_VERIFY_WITH_TIMEOUT(logic->device() && logic->device()->isAuthorized(), 10000);
    // The job's reply arrives, and the second watch's own request follows it.
    QTRY_VERIFY_WITH_TIMEOUT(m_service.requests(kJobs).size() >= 2, 10000);
    QCOMPARE(m_service.requests(kJobs)[1].toObject()["headers"].toObject().value("Serial-Number"),
             QJsonValue("TR31-WEB-0002"));
    QCOMPARE(second.count("write "), 0);
    QVERIFY(m_service.requests(kReport).isEmpty());
}

void TstWebService::firmwareOffer_data()
{
    // The firmware offered, the app version it needs, an option for the simulated watch.
    QTest::addColumn<QString>("offer");
    QTest::addColumn<bool>("download");
    QTest::newRow("the same date") << QString("20200315 1.3.9") << false;
    QTest::newRow("older, larger month") << QString("20190401 1.3.9") << false;
    QTest::newRow("needs a newer app") << QString("20200316 1.3.10") << false;
    QTest::newRow("no version") << QString() << false;
    QTest::newRow("a day newer: taken") << QString("20200316 1.3.9") << true;
    QTest::newRow("two-part app version counts as none; cut by the watch")
        << QString("20200316 1.4 --disconnect-in-firmware") << true;
}

void TstWebService::firmwareOffer()
{
    QFETCH(QString, offer);
    QFETCH(bool, download);
    SlAppLogic hub;
    SlFirmwareUpdater updater;
    updater.setAppLogic(&hub);
    SimRunner sim;
    sim.start(QStringList{"--serial", m_serial, "--server-key", m_serverKey.toHex(),
                          "--firmware-version", "20200315"} +
              offer.section(' ', 2).split(' ', Qt::SkipEmptyParts));
    QTRY_COMPARE_WITH_TIMEOUT(m_service.requests("/en/api/v1/firmware_version/").size(), 1, 10000);
    const QStringList part = offer.split(' ') << QString() << QString();
    QVariantMap model{{"version", part[0]}, {"url", "/files/fw.bin"}};
    model.insert("min_app_version", QVariantMap{{"version", part[1]}});
    QMetaObject::invokeMethod(&updater, "firmwareVersionReceived", Q_ARG(QVariant, model),
                              Q_ARG(int, 0));
    QTRY_COMPARE(updater.isUpdateAvailable(), download);
    QTest::qWait(100);
    QCOMPARE(m_service.requests(QStringLiteral("/files/fw.bin")).size(), download ? 1 : 0);
    if (!download)
        return;
    hub.device()->setWriteDelay(0);
    const bool cut = offer.contains("--disconnect");
    if (cut)
        QTest::ignoreMessage(QtDebugMsg, "updateProcess: the watch did not take the image");
    updater.startUpdate();
    QVERIFY(sim.waitFor(cut ? "disconnected reason=firmware" : "firmware ok size=5000", 1, 20000));
    if (!cut) {
        // 5004 bytes are 218 fragments: the last one reports 217 × 100 / 218.
        QTRY_COMPARE(updater.progress(), 217.0f * 100.0f / 218.0f);
        QVERIFY(updater.isUpdateAvailable()); // taken only once the watch stays after the pause
    }
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isUpdating(), 10000);
    // The worker queues its verdict before it lowers the flag: one pass delivers it.
    QCoreApplication::processEvents();
    QTRY_VERIFY(!updater.isUpdateAvailable());
}

void TstWebService::firmwareImages()
{
    SlFirmwareUpdater updater;
    const auto receive = [&](QByteArray data, int error, int tag) {
        QMetaObject::invokeMethod(&updater, "firmwareReceived", Q_ARG(QUrl, QUrl()),
                                  Q_ARG(QVariant, QVariant(tag)), Q_ARG(QByteArray &, data),
                                  Q_ARG(int, error));
    };
    receive("<html>not found</html>", int(SlWebService::INTERNET_ERROR), 2179941);
    receive(QByteArray(), 0, 2179941);
    receive("abc", 0, 7);
    QVERIFY(!updater.isUpdateAvailable());
    receive("xyz", 0, 2179941);
    receive("abc", 0, 2179941);
    QCOMPARE(updater.firmware(), QByteArray("abc\xC2\x41\x24\x35", 7));
}

void TstWebService::updateArchive_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<bool>("safe");
    const QByteArray one = zipOf({{"a.txt", "abc"}});
    QTest::newRow("the update") << kUpdateZip << true;
    QTest::newRow("a name with two dots in it") << zipOf({{"a/..b/c..", "x"}}) << true;
    QTest::newRow("cut by a byte") << kUpdateZip.chopped(1) << false;
    QTest::newRow("cut in its data") << kUpdateZip.left(3000) << false;
    QTest::newRow("bytes after its end") << kUpdateZip + "xx" << false;
    QTest::newRow("no archive") << QByteArray(100000, 'z') << false;
    QTest::newRow("no entries") << zipOf({}) << false;
    QTest::newRow("up and out") << zipOf({{"a.txt", "1"}, {"../a.txt", "2"}}) << false;
    QTest::newRow("up and out, deeper") << zipOf({{"bin/../../a", "x"}}) << false;
    QTest::newRow("up and out, Windows") << zipOf({{"bin\\..\\..\\a", "x"}}) << false;
    QTest::newRow("absolute") << zipOf({{"/etc/a", "x"}}) << false;
    QTest::newRow("another drive") << zipOf({{"C:/a", "x"}}) << false;
    QByteArray moved = one;
    moved[one.size() - 6] = char(one.at(one.size() - 6) + 1); // directory offset off by one
    QTest::newRow("directory not where the end says") << moved << false;
    QByteArray renamed = one;
    renamed[30] = 'b'; // the local header names another file
    QTest::newRow("local name differs") << renamed << false;
}

void TstWebService::updateArchive()
{
    QFETCH(QByteArray, archive);
    QFETCH(bool, safe);
    QString why;
    QCOMPARE(isSafeUpdateArchive(archive, &why), safe);
    QCOMPARE(why.isEmpty(), safe);
}

void TstWebService::appUpdate_data()
{
    QTest::addColumn<QString>("offer");
    QTest::newRow("1.3.9: ours") << QString("1.3.9");
    QTest::newRow("1.4: not three parts") << QString("1.4");
    QTest::newRow("the updater starts") << QString("1.3.10");
    QTest::newRow("a folder where the archive goes") << QString("1.3.10 blocked");
    QTest::newRow("no updater beside us, none from PATH") << QString("1.3.10 no-updater");
    QTest::newRow("not an archive") << QString("1.3.10 /files/plain.zip");
    QTest::newRow("no link") << QString("1.3.10 -");
    QTest::newRow("another server's link") << QString("1.3.10 https://example.org/update.zip");
    QTest::newRow("the same host, another port")
        << QString("1.3.10 //127.0.0.1:1/files/update.zip");
}

void TstWebService::appUpdate()
{
    using S = SlAppUpdaterClient;
    QFETCH(QString, offer);
    const QByteArray offered = offer.section(' ', 0, 0).toLatin1();
    const bool blocked = offer.endsWith("blocked"), program = !offer.endsWith("no-updater");
    QString link = offer.section(' ', 1, 1);
    if (!link.contains('/') && link != "-")
        link = QStringLiteral("/files/update.zip");
    const QByteArray member =
        link == "-" ? QByteArray() : R"(, "windows_url": ")" + link.toUtf8() + '"';
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    for (int i = 0; i < 2; ++i) // the second for the check after the discard
        QVERIFY(m_service.script("GET", "/en/api/v1/app_version/", 200,
                                 R"({"app_versions": [{"version": ")" + offered + '"' + member +
                                     "}]}"));
    S updater;
    updater.userAction(S::RequestUpdate);
    QCOMPARE(updater.state(), S::Checking);
    QTRY_VERIFY(updater.state() != S::Checking);
    QCOMPARE(m_service.requests("/en/api/v1/app_version/")[0].toObject().value("signature"),
             QJsonValue(QStringLiteral("none")));
    QCOMPARE(updater.state(), offered == "1.3.10" ? S::UpdateAvailable : S::Idle);
    if (offered != "1.3.10")
        return;
    QCOMPARE(updater.version(), QString::fromLatin1(offered));
    updater.userAction(S::DiscardUpdate);
    QCOMPARE(updater.checkInterval(), 86400);
    QCOMPARE(updater.state(), S::Idle);
    // A stand-in for the updater program that records how it was started.
    const QString record = m_box.path(QStringLiteral("updater-args"));
    QFile file(m_box.path(QStringLiteral("updater")));
    QVERIFY(file.open(QIODevice::WriteOnly) &&
            file.write("#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + record.toUtf8() + "'\n"));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    file.close();
    updater.setUpdaterProgram(program ? file.fileName() : m_box.path(QStringLiteral("none")));
    QFile::remove(updater.archivePath());
    QVERIFY(!blocked || QDir().mkpath(updater.archivePath()));
    updater.userAction(S::RequestUpdate);
    QTRY_COMPARE(updater.state(), S::UpdateAvailable);
    updater.userAction(S::ApplyUpdate);
    QTRY_VERIFY(updater.state() != S::Downloading);
    if (link != "/files/update.zip") {
        // Shown as an error; nothing was fetched but the service's own file, nothing stored.
        QCOMPARE(qMakePair(updater.state(), updater.error()),
                 qMakePair(S::Error, S::DownloadError));
        QCOMPARE(m_service.requests().size(), link.startsWith("/files/") ? 3 : 2);
        QVERIFY(!QFile::exists(updater.archivePath()));
        return;
    }
    if (blocked) {
        QCOMPARE(qMakePair(updater.state(), updater.error()), qMakePair(S::Error, S::WriteError));
        QVERIFY(QDir().rmdir(updater.archivePath()));
        updater.reset();
        QCOMPARE(qMakePair(updater.state(), updater.error()), qMakePair(S::Idle, S::Successful));
        return;
    }
    QCOMPARE(updater.state(), S::DownloadFinished);
    QCOMPARE(updater.progress(), 100.0f);
    QCOMPARE(contents(updater.archivePath()), kUpdateZip);
    QCOMPARE(QFileInfo(QFileInfo(updater.archivePath()).path()).permissions() & 0x0077, 0);
    // The user's own file of the name a probe might take stays as it was, and no probe remains.
    QFile mine(QDir::current().filePath(QStringLiteral("test")));
    QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
    mine.close();
    const QStringList before = QDir::current().entryList(QDir::Files);
    updater.userAction(S::Update);
    QCOMPARE(contents(mine.fileName()), QByteArray("mine"));
    QCOMPARE(QDir::current().entryList(QDir::Files), before);
    QVERIFY(mine.remove());
    QCOMPARE(updater.error(), program ? S::Successful : S::StartUpdaterError);
    QCOMPARE(updater.state(), program ? S::ClosingApp : S::Error);
    if (program)
        QTRY_COMPARE(QString::fromUtf8(contents(record)),
                     file.fileName() + "\n-f\n" + updater.archivePath() + '\n');
}

QTEST_MAIN(TstWebService)
#include "tst_webservice.moc"
