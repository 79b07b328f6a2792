#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"
#include "app/slapplogic.h"
#include "crypto/slaesenvelope.h"
#include "fakeservice.h"
#include "web/slwatchbanner.h"

#include <QSqlQuery>
#include <QtTest>

// The hub's side of the web service against the fake service: account, banner, registration.
class TstHubWeb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    // Another program may still hold the gadget port; the hub would not listen then.
    void init() { QVERIFY(FragmentPeer::waitForFreePort(6666) && m_service.reset()); }
    void accountAndBannerAcrossRestarts();
    void registrationSavesOnlyAMatchingKey();

private:
    ProgramSandbox m_box;
    FakeService m_service;
    const QByteArray m_serverKey = QByteArray(24, 'A'); // printable: the watch sends it as text
    const QString m_serial = QStringLiteral("TR31-WEB-0001");
};

void TstHubWeb::initTestCase()
{
    m_box.useForThisProcess();
    m_service.setHostKey(
        FakeService::hostKeyHexFor(m_box.useMachineId("00112233445566778899aabbccddeeff")));
    m_service.addDevice(m_serial, m_serverKey);
    QBuffer png;
    QVERIFY(png.open(QIODevice::WriteOnly) && QImage(3, 2, QImage::Format_RGB32).save(&png, "PNG"));
    m_service.addFile(QStringLiteral("banner.png"), png.data());
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
}

void TstHubWeb::accountAndBannerAcrossRestarts()
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

void TstHubWeb::registrationSavesOnlyAMatchingKey()
{
    SlAppLogic hub;
    SimRunner sim;
    const QByteArray deviceKey(24, 'D');
    sim.start({"--serial", m_serial, "--device-key", deviceKey.toHex(), "--server-key",
               m_serverKey.toHex()});
    QTRY_VERIFY_WITH_TIMEOUT(hub.device() && hub.device()->isAuthorized(), 10000);
    const QString path = QStringLiteral("/en/api/v1/register_device/");
    const QString reply = R"({"device": {"device_key": "%1", "model_description": "TR-31"}})";
    QSignalSpy results(hub.webService(), &SlWebService::deviceRegistrationRequestFinished);
    // The hub authorises a watch as soon as its device key arrives, so even a matching
    // registration result finds it authorised already: it is refused and nothing is stored.
    const QList<QPair<QString, const char *>> rows{
        {SlAesEnvelope(m_serverKey, SlAesEnvelope::MODE_PLAIN).encrypt(deviceKey).toHex(),
         "Fail authorize device"},
        {"zz", "onDeviceRegistered: device_key is not hexadecimal"},
        {QString(32, '0') + "0000000800000000", // 8 stated, 4 there
         "onDeviceRegistered: device_key states a length beyond its text"}};
    for (const auto &row : rows) {
        QVERIFY(m_service.script("POST", path, 201, reply.arg(row.first).toUtf8()));
        QTest::ignoreMessage(QtDebugMsg, row.second);
        hub.webService()->registerDevice({});
        QVERIFY(results.wait(5000));
        QCOMPARE(m_service.requests(path).last().toObject().value("signature"), QJsonValue("ok"));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "peek");
    db.setDatabaseName(hub.settings()->path());
    QVERIFY(db.open());
    QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM Devices"), db);
    QVERIFY2(query.next() && query.value(0).toInt() == 0, "a refused registration was stored");
    sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!hub.device(), 5000);
    QVERIFY(hub.webService()->serial() == "invalid" && hub.webService()->serverKey().isEmpty());
}

QTEST_MAIN(TstHubWeb)
#include "tst_hubweb.moc"
