#include "fakeservice.h"
#include "web/slwebservice.h"

#include <QCryptographicHash>
#include <QtTest>

// The client against the fake service over real HTTPS: the fake's own signature check judges
// every request, and scripted replies drive the classification.
class TstSlWebService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void signatureTexts_data();
    void signatureTexts();
    void replies_data();
    void replies();
    void overlappingRequestsKeepIsActive();
    void downloadReportsTheLink();
    void silentServiceTimesOut();
    void untrustedCertificateFails();

private:
    std::unique_ptr<SlWebService> client(bool trusted = true);

    FakeService m_service;
    const QByteArray m_hostKey = QByteArray::fromHex("0123456789abcdef0123456789abcdef01234567");
    const QByteArray m_serverKey = QByteArray(24, 'b');
};

void TstSlWebService::initTestCase()
{
    m_service.setHostKey(QString::fromLatin1(m_hostKey.toHex()));
    m_service.addDevice(QStringLiteral("SER-1"), m_serverKey);
    m_service.addFile(QStringLiteral("fw.bin"), QByteArray("\x01\x02\x03", 3));
    QVERIFY(m_service.start());
}

void TstSlWebService::init()
{
    QVERIFY(m_service.reset());
}

// A fresh client, and so a fresh network access manager, per case: a manager keeps the TLS
// settings of its first connection to a host and port.
std::unique_ptr<SlWebService> TstSlWebService::client(bool trusted)
{
    auto web = std::make_unique<SlWebService>();
    web->setServiceHost(m_service.origin());
    web->setHostKey(m_hostKey);
    web->setSerial(QStringLiteral("SER-1"));
    web->setServerKey(m_serverKey);
    if (trusted)
        web->setSslConfiguration(SlWebService::configurationWithCaFile(m_service.caPath()));
    return web;
}

void TstSlWebService::signatureTexts_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("POST, no serial, no key")
        << true << QString() << QByteArray() << QByteArray(":Host-Key:ab:Serial-Number::");
    QTest::newRow("POST") << true << "abc" << QByteArray("k")
                          << QByteArray(":Host-Key:ab:Serial-Number:abc:");
    QTest::newRow("GET has no leading colon")
        << false << "abc" << QByteArray("k") << QByteArray("Host-Key:ab:Serial-Number:abc:");
}

void TstSlWebService::signatureTexts()
{
    QFETCH(bool, post);
    QFETCH(QString, serial);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, text);
    const QByteArray body("{\n}\n");
    QCOMPARE(SlWebService::signatureText(post, "ab", serial), text);
    const QByteArray digested = (post ? body : QByteArray()) + text + key;
    QCOMPARE(SlWebService::signature(post, body, "ab", serial, key),
             QCryptographicHash::hash(digested, QCryptographicHash::Md5).toHex());
}

void TstSlWebService::replies_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<QVariantMap>("result");

    const QVariantMap customer{{"name", "Ann"}, {"id", 7}};
    QTest::newRow("login 200") << int(SlWebService::LOGIN) << 200
                               << QByteArray(R"({"customer": {"name": "Ann", "id": 7}})") << 0
                               << customer;
    QTest::newRow("login 201: empty map")
        << int(SlWebService::LOGIN) << 201 << QByteArray(R"({"customer": {"name": "Ann"}})") << 0
        << QVariantMap();
    QTest::newRow("signup 400: the errors")
        << int(SlWebService::SIGNUP) << 400 << QByteArray(R"({"errors": {"email": "taken"}})") << 4
        << QVariantMap{{"email", "taken"}};
    QTest::newRow("406 signature")
        << int(SlWebService::LOGIN) << 406 << QByteArray("Signature wrong") << 8 << QVariantMap();
    QTest::newRow("406 serial") << int(SlWebService::LOGIN) << 406
                                << QByteArray("Serial-Number wrong") << 7 << QVariantMap();
    QTest::newRow("406 other text")
        << int(SlWebService::LOGIN) << 406 << QByteArray("Signature wrong\n") << 4 << QVariantMap();
    QTest::newRow("500") << int(SlWebService::LOGIN) << 500 << QByteArray("{}") << 6
                         << QVariantMap();
    QTest::newRow("404") << int(SlWebService::LOGIN) << 404 << QByteArray("{}") << 1
                         << QVariantMap();
    QTest::newRow("a proxy's page")
        << int(SlWebService::LOGIN) << 200 << QByteArray("<html>sign in to the hotel</html>") << 1
        << QVariantMap();
    QTest::newRow("customer of the wrong type")
        << int(SlWebService::LOGIN) << 200 << QByteArray(R"({"customer": 5})") << 1
        << QVariantMap();
    QTest::newRow("no firmware") << int(SlWebService::FIRMWARE_VERSION) << 200
                                 << QByteArray(R"({"firmware_versions": []})") << 0
                                 << QVariantMap();
    QTest::newRow("firmware")
        << int(SlWebService::FIRMWARE_VERSION) << 200
        << QByteArray(R"({"firmware_versions": [{"version": "20200316"}, {"version": "1"}]})") << 0
        << QVariantMap{{"version", "20200316"}};
}

void TstSlWebService::replies()
{
    QFETCH(int, type);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(QVariantMap, result);

    auto web = client();
    const bool post = type != SlWebService::FIRMWARE_VERSION;
    QVERIFY(m_service.script(post ? QStringLiteral("POST") : QStringLiteral("GET"),
                             SlWebService::requestPath(SlWebService::RequestType(type)), status,
                             body));
    QSignalSpy networkErrors(web.get(), &SlWebService::networkError);
    QVariantMap got;
    int gotError = -1;
    const auto take = [&](const QVariant &model, int e) {
        got = model.toMap();
        gotError = e;
    };
    connect(web.get(), &SlWebService::userLoginRequestFinished, this, take);
    connect(web.get(), &SlWebService::userRegisterRequestFinished, this, take);
    connect(web.get(), &SlWebService::lastFirmwareVersionReceived, this, take);
    if (type == SlWebService::LOGIN)
        web->login({{"email", "a@b"}});
    else if (type == SlWebService::SIGNUP)
        web->registration({{"email", "a@b"}});
    else
        web->getLastFirmwareVersion();
    QTRY_VERIFY(gotError != -1);
    QCOMPARE(gotError, error);
    QCOMPARE(web->error(), error);
    QCOMPARE(got, result);
    QCOMPARE(networkErrors.count(), error == SlWebService::INTERNET_ERROR ? 1 : 0);
    QCOMPARE(m_service.requests().last().toObject().value("signature").toString(),
             QStringLiteral("ok"));
}

void TstSlWebService::overlappingRequestsKeepIsActive()
{
    auto web = client();
    FakeService::Reply slow;
    slow.delaySeconds = 0.3;
    QVERIFY(m_service.script(QStringLiteral("GET"), QStringLiteral("/en/api/v1/banner/"), slow));
    QSignalSpy active(web.get(), &SlWebService::isActiveChanged);
    web->getBannerModel();
    web->getJobs(QStringLiteral("SER-1"), m_serverKey);
    QVERIFY(web->isActive());
    QTRY_COMPARE(active.count(), 4);
    const QList<bool> seen{active[0][0].toBool(), active[1][0].toBool(), active[2][0].toBool(),
                           active[3][0].toBool()};
    QCOMPARE(seen, (QList<bool>{true, true, true, false}));
}

void TstSlWebService::downloadReportsTheLink()
{
    auto web = client();
    QList<QVariantList> files;
    connect(web.get(), &SlWebService::fileReceived, this,
            [&](QUrl url, QVariant tag, QByteArray &data, int error) {
                files.append({url, tag, data, error});
            });
    web->downloadFile(QUrl(QStringLiteral("/files/fw.bin")));
    web->downloadFile(QUrl(QStringLiteral("@other.example/x")), 5);
    web->downloadFile(QUrl(QStringLiteral("//other.example/x")), 6);
    QTRY_COMPARE(files.size(), 3);
    const QVariantList fetched = files.last();
    QCOMPARE(fetched[0].toUrl(), QUrl(QStringLiteral("/files/fw.bin")));
    QCOMPARE(fetched[1], QVariant(int(0)));
    QCOMPARE(fetched[2].toByteArray(), QByteArray("\x01\x02\x03", 3));
    QCOMPARE(fetched[3].toInt(), 0);
    // Links to other servers never leave the program.
    QCOMPARE(files[0][3].toInt(), int(SlWebService::REQUEST_ERROR));
    QCOMPARE(files[1][3].toInt(), int(SlWebService::REQUEST_ERROR));
    QCOMPARE(m_service.requests().size(), 1);
}

void TstSlWebService::silentServiceTimesOut()
{
    auto web = client();
    web->setTransferTimeout(300);
    FakeService::Reply never;
    never.never = true;
    QVERIFY(m_service.script(QStringLiteral("GET"), QStringLiteral("/en/api/v1/banner/"), never));
    QSignalSpy banner(web.get(), &SlWebService::bannerModelReceived);
    web->getBannerModel();
    QVERIFY(banner.wait(5000));
    QCOMPARE(banner[0][1].toInt(), int(SlWebService::INTERNET_ERROR));
    QVERIFY(!web->isActive());
}

void TstSlWebService::untrustedCertificateFails()
{
    auto web = client(false);
    QSignalSpy banner(web.get(), &SlWebService::bannerModelReceived);
    web->getBannerModel();
    QVERIFY(banner.wait(5000));
    QCOMPARE(banner[0][1].toInt(), int(SlWebService::INTERNET_ERROR));
    QVERIFY(m_service.requests().isEmpty());
}

QTEST_GUILESS_MAIN(TstSlWebService)
#include "tst_slwebservice.moc"
