#include "fakeservice.h"
#include "web/slwebservice.h"

#include <QtTest>

// The client against the fake service over real HTTPS: the fake's own check judges the signature
// of every GET and POST, and scripted replies drive the classification.
class TstSlWebService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(m_service.reset()); }
    void replies_data();
    void replies();
    void overlappingRequestsKeepIsActive();
    void downloadReportsTheLink();
    void bannerFails();
    void wrongKeyAndUnknownWatchAreRefused();

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

void TstSlWebService::replies_data()
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

void TstSlWebService::replies()
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

void TstSlWebService::overlappingRequestsKeepIsActive()
{
    auto web = client();
    FakeService::Reply slow;
    slow.delaySeconds = 0.3;
    QVERIFY(m_service.script("GET", "/en/api/v1/banner/", slow));
    QSignalSpy active(web.get(), &SlWebService::isActiveChanged);
    web->getBannerModel();
    web->getJobs(QStringLiteral("SER-1"), m_serverKey);
    QTRY_COMPARE(active.count(), 4);
    QCOMPARE(QList<QVariantList>(active), (QList<QVariantList>{{true}, {true}, {true}, {false}}));
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
    const QByteArray data("\x01\x02\x03", 3);
    QCOMPARE(files[2], (QVariantList{QUrl(QStringLiteral("/files/fw.bin")), 0, data, 0}));
    // Links to other servers never leave the program.
    for (int i : {0, 1})
        QCOMPARE(files[i][3].toInt(), int(SlWebService::REQUEST_ERROR));
    QCOMPARE(m_service.requests().size(), 1);
}

void TstSlWebService::bannerFails()
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
void TstSlWebService::wrongKeyAndUnknownWatchAreRefused()
{
    auto web = client();
    QSignalSpy settings(web.get(), &SlWebService::settingsSendRequestFinished);
    QSignalSpy jobs(web.get(), &SlWebService::jobReceived);
    web->sendSettings({{"a", 1}}, QStringLiteral("SER-1"), QByteArray(24, 'x'), 3);
    // Signed right with the empty key an unknown watch has.
    web->getJobs(QStringLiteral("SER-2"), QByteArray());
    QTRY_VERIFY(!settings.isEmpty() && !jobs.isEmpty());
    QCOMPARE(settings[0][1].toInt(), int(SlWebService::SIGNATURE_WRONG));
    QCOMPARE(jobs[0][1].toInt(), int(SlWebService::DEVICE_SERIAL_INVALID));
}

QTEST_GUILESS_MAIN(TstSlWebService)
#include "tst_slwebservice.moc"
