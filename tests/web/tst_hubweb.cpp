#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"
#include "app/slapplogic.h"
#include "crypto/slaesenvelope.h"
#include "fakeservice.h"
#include "web/slwatchbanner.h"

#include <QSqlQuery>
#include <QtTest>

// The hub's side of the web service, against the fake service: the account after sign-in,
// after logout and across restarts, the registration result, and the banner's cache.
class TstHubWeb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void accountSurvivesRestartsAndLogout();
    void registrationSavesOnlyAMatchingKey();
    void bannerIsCachedAndNotFetchedTwice();

private:
    int storedDevices(SlAppLogic &hub);

    ProgramSandbox m_box;
    FakeService m_service;
    // Printable keys: the watch hands them over as text.
    const QByteArray m_serverKey = QByteArray(24, 'A');
    const QString m_serial = QStringLiteral("TR31-WEB-0001");
};

void TstHubWeb::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    m_box.useForThisProcess();
    const QString idFile = m_box.useMachineId("00112233445566778899aabbccddeeff");
    m_service.setHostKey(FakeService::hostKeyHexFor(idFile));
    m_service.addDevice(m_serial, m_serverKey);
    m_service.addFile(QStringLiteral("banner.png"), [] {
        QImage image(3, 2, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return png;
    }());
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
}

void TstHubWeb::init()
{
    // Another program may still hold the gadget port; the hub would not listen then.
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    QVERIFY(m_service.reset());
}

int TstHubWeb::storedDevices(SlAppLogic &hub)
{
    Q_UNUSED(hub)
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
    db.setDatabaseName(hub.settings()->path());
    int rows = -1;
    if (db.open()) {
        QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM Devices"), db);
        if (query.next())
            rows = query.value(0).toInt();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return rows;
}

void TstHubWeb::accountSurvivesRestartsAndLogout()
{
    const QString login = QStringLiteral("/en/api/v1/login/");
    QVERIFY(m_service.script(QStringLiteral("POST"), login, 200,
                             R"({"customer": {"name": "Ann", "email": "ann@example.org",
                                 "id": 0, "is_active": true}})"));
    QVERIFY(m_service.script(QStringLiteral("POST"), login, 201, R"({"detail": "none"})"));
    {
        SlAppLogic hub;
        QSignalSpy valid(hub.user(), &SlUser::isValidChanged);
        hub.webService()->login({{"email", "ann@example.org"}});
        QVERIFY(valid.wait(5000));
        // A success without a customer is no account: it must not wipe the one just stored.
        QSignalSpy done(hub.webService(), &SlWebService::userLoginRequestFinished);
        hub.webService()->login({{"email", "ann@example.org"}});
        QVERIFY(done.wait(5000));
        QCOMPARE(done[0][1].toInt(), 0);
    }
    {
        SlAppLogic hub;
        QCOMPARE(hub.user()->name(), QStringLiteral("Ann"));
        QVERIFY(hub.user()->isValid());
        hub.logout();
    }
    SlAppLogic hub;
    QCOMPARE(hub.user()->id(), -1);
    QVERIFY(!hub.user()->isValid());
    QCOMPARE(m_service.requests(login).size(), 2);
}

void TstHubWeb::registrationSavesOnlyAMatchingKey()
{
    SlAppLogic hub;
    SimRunner sim;
    const QByteArray deviceKey(24, 'D');
    sim.start({QStringLiteral("--serial"), m_serial, QStringLiteral("--device-key"),
               QString::fromLatin1(deviceKey.toHex()), QStringLiteral("--server-key"),
               QString::fromLatin1(m_serverKey.toHex())});
    QTRY_VERIFY_WITH_TIMEOUT(hub.device() && hub.device()->isAuthorized(), 10000);
    QCOMPARE(hub.webService()->serverKey(), m_serverKey);
    QCOMPARE(hub.webService()->serial(), m_serial);

    const auto reply = [&](const QByteArray &plainKey) {
        const QByteArray envelope =
            SlAesEnvelope(m_serverKey, SlAesEnvelope::MODE_PLAIN).encrypt(plainKey);
        return QStringLiteral(R"({"device": {"device_key": "%1", "pin": "1234",
                                  "model_description": "TR-31 Nixie watch"}})")
            .arg(QString::fromLatin1(envelope.toHex()))
            .toUtf8();
    };
    const QString path = QStringLiteral("/en/api/v1/register_device/");
    QSignalSpy results(hub.webService(), &SlWebService::deviceRegistrationRequestFinished);
    // The hub authorises a watch as soon as its device key arrives, so a registration result,
    // matching or not, finds it authorised already: it is refused and nothing is stored.
    const QList<QPair<QByteArray, const char *>> rows{
        {reply("another key"), "Fail authorize device"},
        {reply(deviceKey), "Fail authorize device"},
        {R"({"device": {"device_key": "zz"}})",
         "onDeviceRegistered: device_key is not hexadecimal"},
        {R"({"device": {"device_key": "00112233445566778899aabbccddeeffffffffff"}})",
         "onDeviceRegistered: device_key states a length beyond its text"}};
    for (const auto &row : rows) {
        QVERIFY(m_service.script(QStringLiteral("POST"), path, 201, row.first));
        QTest::ignoreMessage(QtDebugMsg, row.second);
        hub.webService()->registerDevice({});
        QVERIFY(results.wait(5000));
    }
    QCOMPARE(storedDevices(hub), 0);
    QCOMPARE(hub.device()->description(), QString());
    for (const QJsonValue &request : m_service.requests(path))
        QCOMPARE(request.toObject().value("signature").toString(), QStringLiteral("ok"));

    sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!hub.device(), 5000);
    QCOMPARE(hub.webService()->serial(), QStringLiteral("invalid"));
    QVERIFY(hub.webService()->serverKey().isEmpty());
}

void TstHubWeb::bannerIsCachedAndNotFetchedTwice()
{
    const QString bannerPath = QStringLiteral("/en/api/v1/banner/");
    const QByteArray banner =
        R"({"banner": {"image": "/files/banner.png", "url": "https://example.org/"}})";
    FakeService::Reply always;
    always.body = banner;
    always.once = false;
    QVERIFY(m_service.script(QStringLiteral("GET"), bannerPath, always));
    {
        SlAppLogic hub;
        SlWatchBanner first;
        QSignalSpy images(&first, &SlWatchBanner::imageChanged);
        first.setAppLogic(&hub);
        QCOMPARE(images.count(), 0);
        QVERIFY(images.wait(5000));
        QCOMPARE(first.image().size(), QSize(3, 2));
        QCOMPARE(first.bannerLink(), QUrl(QStringLiteral("https://example.org/")));
        // Another owner's download through the same signal leaves the banner alone.
        hub.webService()->downloadFile(QUrl(QStringLiteral("/files/banner.png")), 2179941);
        QTRY_COMPARE(m_service.requests(QStringLiteral("/files/banner.png")).size(), 2);
        QTest::qWait(100);
        QCOMPARE(images.count(), 1);
    }
    SlAppLogic hub;
    SlWatchBanner second;
    QSignalSpy images(&second, &SlWatchBanner::imageChanged);
    second.setAppLogic(&hub);
    // The cached banner shows before any reply; the same image link is not fetched again.
    QCOMPARE(images.count(), 1);
    QCOMPARE(second.imageLink(), QUrl(QStringLiteral("/files/banner.png")));
    QTRY_COMPARE(m_service.requests(bannerPath).size(), 2);
    QTest::qWait(200);
    QCOMPARE(m_service.requests(QStringLiteral("/files/banner.png")).size(), 2);
    QCOMPARE(images.count(), 1);
}

QTEST_MAIN(TstHubWeb)
#include "tst_hubweb.moc"
