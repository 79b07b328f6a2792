#include "../app/processfixture.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"
#include "app/slapplogic.h"
#include "fakeservice.h"
#include "update/slappupdaterclient.h"
#include "update/slfirmwareupdater.h"

#include <QtTest>

// Both updaters against the fake service; the firmware goes into the simulated watch.
class TstUpdaters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void firmwareOffer_data();
    void firmwareOffer();
    void firmwareImages();
    void firmwareReachesTheWatch();
    void transferCutByTheWatch();
    void appVersionOffered_data();
    void appVersionOffered();
    void appDownloadStartsTheUpdater();
    void appFailures();

private:
    void plug(SimRunner &sim, const QStringList &extra = {});
    void offerFirmware();
    void offerApp(const QByteArray &version, const QByteArray &url = "/files/update.zip");

    ProgramSandbox m_box;
    FakeService m_service;
    const QByteArray m_serverKey = QByteArray(24, 'K');
    const QString m_serial = QStringLiteral("TR31-UPD-0001");
    const QByteArray m_image = [] {
        QByteArray image(5000, Qt::Uninitialized);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7);
        return image;
    }();
};

void TstUpdaters::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    m_box.useForThisProcess();
    m_service.addDevice(m_serial, m_serverKey);
    m_service.addFile(QStringLiteral("fw.bin"), m_image);
    m_service.addFile(QStringLiteral("update.zip"), QByteArray(100000, 'z'));
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
    SlAppUpdaterClient::setDefaultServiceOrigin(m_service.origin());
    SlAppUpdaterClient::setDefaultSslConfiguration(m_service.sslConfiguration());
}

void TstUpdaters::init()
{
    // Another program may still hold the gadget port; the hub would not listen then.
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    QVERIFY(m_service.reset());
}

void TstUpdaters::plug(SimRunner &sim, const QStringList &extra)
{
    sim.start(QStringList{QStringLiteral("--serial"), m_serial, QStringLiteral("--server-key"),
                          QString::fromLatin1(m_serverKey.toHex()),
                          QStringLiteral("--firmware-version"), QStringLiteral("20200315")} +
              extra);
}

void TstUpdaters::firmwareOffer_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("requiredApp");
    QTest::addColumn<bool>("download");
    QTest::newRow("a day newer") << "20200316"
                                 << "1.3.9" << true;
    QTest::newRow("the same date") << "20200315"
                                   << "1.3.9" << false;
    QTest::newRow("older, larger month") << "20190401"
                                         << "1.3.9" << false;
    QTest::newRow("needs a newer app") << "20200316"
                                       << "1.3.10" << false;
    QTest::newRow("two-part app version counts as none") << "20200316"
                                                         << "1.4" << true;
    QTest::newRow("no version: failed request") << ""
                                                << "" << false;
}

void TstUpdaters::firmwareOffer()
{
    QFETCH(QString, offered);
    QFETCH(QString, requiredApp);
    QFETCH(bool, download);
    SlAppLogic hub;
    SlFirmwareUpdater updater;
    updater.setAppLogic(&hub);
    SimRunner sim;
    plug(sim);
    QTRY_VERIFY_WITH_TIMEOUT(hub.device() && hub.device()->isAuthorized(), 10000);
    QTRY_COMPARE(m_service.requests(QStringLiteral("/en/api/v1/firmware_version/")).size(), 1);
    QCOMPARE(SlFirmwareUpdater::gadgetVersion(hub.device()), SlFirmwareVer(2020, 3, 15));
    QVERIFY(!hub.webService()->isActive());

    QVariantMap model;
    if (!offered.isEmpty())
        model = {{"version", offered},
                 {"url", "/files/fw.bin"},
                 {"min_app_version", QVariantMap{{"version", requiredApp}}}};
    QMetaObject::invokeMethod(&updater, "firmwareVersionReceived", Q_ARG(QVariant, model),
                              Q_ARG(int, 0));
    QTRY_COMPARE(updater.isUpdateAvailable(), download);
    QTest::qWait(100);
    QCOMPARE(m_service.requests(QStringLiteral("/files/fw.bin")).size(), download ? 1 : 0);
}

void TstUpdaters::firmwareImages()
{
    SlFirmwareUpdater updater;
    QByteArray image("abc");
    const auto receive = [&](const QByteArray &data, int error, int tag) {
        image = data;
        QMetaObject::invokeMethod(&updater, "firmwareReceived", Q_ARG(QUrl, QUrl()),
                                  Q_ARG(QVariant, QVariant(tag)), Q_ARG(QByteArray &, image),
                                  Q_ARG(int, error));
    };
    receive("<html>not found</html>", int(SlWebService::INTERNET_ERROR), 2179941);
    receive(QByteArray(), 0, 2179941);
    receive("abc", 0, 7);
    QVERIFY(!updater.isUpdateAvailable());
    receive("xyz", 0, 2179941);
    receive("abc", 0, 2179941);
    QVERIFY(updater.isUpdateAvailable());
    QCOMPARE(updater.firmware(), QByteArray("abc\xC2\x41\x24\x35", 7));
}

void TstUpdaters::firmwareReachesTheWatch()
{
    offerFirmware();
    SlAppLogic hub;
    SlFirmwareUpdater updater;
    updater.setAppLogic(&hub);
    SimRunner sim;
    plug(sim);
    QTRY_VERIFY_WITH_TIMEOUT(updater.isUpdateAvailable(), 10000);
    hub.device()->setWriteDelay(0);
    QSignalSpy progress(&updater, &SlFirmwareUpdater::progressChanged);
    updater.startUpdate();
    QVERIFY(sim.waitFor(QStringLiteral("firmware ok size=5000"), 1, 20000));
    // 5004 bytes are 218 fragments: the last one reports 217 × 100 / 218.
    QTRY_COMPARE(updater.progress(), 217.0f * 100.0f / 218.0f);
    QVERIFY(updater.isUpdateAvailable());
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isUpdateAvailable(), 5000);
    QVERIFY(progress.count() > 100);
}

void TstUpdaters::transferCutByTheWatch()
{
    offerFirmware();
    SlAppLogic hub;
    SlFirmwareUpdater updater;
    updater.setAppLogic(&hub);
    SimRunner sim;
    plug(sim, {QStringLiteral("--disconnect-in-firmware")});
    QTRY_VERIFY_WITH_TIMEOUT(updater.isUpdateAvailable(), 10000);
    QTest::ignoreMessage(QtDebugMsg, "updateProcess: the watch did not take the image");
    updater.startUpdate();
    QVERIFY(sim.waitFor(QStringLiteral("disconnected reason=firmware"), 1, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isWriting(), 10000);
    QTRY_VERIFY(!hub.device());
    QVERIFY(sim.count(QStringLiteral("firmware ok")) == 0);
}

void TstUpdaters::offerFirmware()
{
    QVERIFY(
        m_service.script("GET", "/en/api/v1/firmware_version/", 200,
                         R"({"firmware_versions": [{"version": "20990101", "url": "/files/fw.bin",
            "min_app_version": {"version": "1.3.9"}}]})"));
}

void TstUpdaters::offerApp(const QByteArray &version, const QByteArray &url)
{
    QVERIFY(m_service.script("GET", "/en/api/v1/app_version/", 200,
                             R"({"app_versions": [{"version": ")" + version +
                                 R"(", "windows_url": ")" + url + R"("}]})"));
}

void TstUpdaters::appVersionOffered_data()
{
    QTest::addColumn<QByteArray>("offered");
    QTest::addColumn<int>("state");
    QTest::newRow("1.3.9: ours") << QByteArray("1.3.9") << int(SlAppUpdaterClient::Idle);
    QTest::newRow("1.3.10") << QByteArray("1.3.10") << int(SlAppUpdaterClient::UpdateAvailable);
    QTest::newRow("1.4: not three parts") << QByteArray("1.4") << int(SlAppUpdaterClient::Idle);
}

void TstUpdaters::appVersionOffered()
{
    QFETCH(QByteArray, offered);
    QFETCH(int, state);
    offerApp(offered);
    SlAppUpdaterClient updater;
    updater.userAction(SlAppUpdaterClient::RequestUpdate);
    QCOMPARE(updater.state(), SlAppUpdaterClient::Checking);
    QTRY_VERIFY(updater.state() != SlAppUpdaterClient::Checking);
    QCOMPARE(int(updater.state()), state);
    if (state == SlAppUpdaterClient::UpdateAvailable) {
        QCOMPARE(updater.version(), QString::fromLatin1(offered));
        updater.userAction(SlAppUpdaterClient::DiscardUpdate);
        QCOMPARE(updater.checkInterval(), 86400);
        QCOMPARE(updater.state(), SlAppUpdaterClient::Idle);
    }
    QCOMPARE(m_service.requests("/en/api/v1/app_version/").first().toObject().value("signature"),
             QJsonValue(QStringLiteral("none")));
}

void TstUpdaters::appDownloadStartsTheUpdater()
{
    offerApp("1.3.10");
    SlAppUpdaterClient updater;
    // A stand-in for the updater program that records how it was started.
    const QString script = m_box.path(QStringLiteral("updater"));
    const QString record = m_box.path(QStringLiteral("updater-args"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '%1'\n").arg(record).toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    updater.setUpdaterProgram(script);

    updater.userAction(SlAppUpdaterClient::RequestUpdate);
    QTRY_COMPARE(updater.state(), SlAppUpdaterClient::UpdateAvailable);
    QSignalSpy progress(&updater, &SlAppUpdaterClient::progressChanged);
    updater.userAction(SlAppUpdaterClient::ApplyUpdate);
    QTRY_COMPARE(updater.state(), SlAppUpdaterClient::DownloadFinished);
    QCOMPARE(updater.progress(), 100.0f);
    QFile archive(updater.archivePath());
    QVERIFY(archive.open(QIODevice::ReadOnly));
    QCOMPARE(archive.readAll(), QByteArray(100000, 'z'));
    QCOMPARE(QFileInfo(QFileInfo(updater.archivePath()).path()).permissions() & 0x0077, 0);

    updater.userAction(SlAppUpdaterClient::Update);
    QCOMPARE(updater.state(), SlAppUpdaterClient::ClosingApp);
    QTRY_VERIFY(QFileInfo(record).size() > 0);
    QFile args(record);
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(args.readAll()),
             script + QStringLiteral("\n-f\n") + updater.archivePath() + QLatin1Char('\n'));
}

void TstUpdaters::appFailures()
{
    // A check that never gets an answer is ended by reset().
    FakeService::Reply never;
    never.never = true;
    QVERIFY(m_service.script("GET", "/en/api/v1/app_version/", never));
    {
        SlAppUpdaterClient updater;
        updater.userAction(SlAppUpdaterClient::RequestUpdate);
        QCOMPARE(updater.state(), SlAppUpdaterClient::Checking);
        QTest::qWait(300);
        updater.reset();
        QCOMPARE(updater.state(), SlAppUpdaterClient::Idle);
        QTest::qWait(200);
        QCOMPARE(updater.state(), SlAppUpdaterClient::Idle);
    }
    QVERIFY(m_service.reset());
    // The archive cannot be written: a folder stands where it should go.
    offerApp("1.3.10");
    SlAppUpdaterClient updater;
    QFile::remove(updater.archivePath());
    QVERIFY(QDir().mkpath(updater.archivePath()));
    updater.userAction(SlAppUpdaterClient::RequestUpdate);
    QTRY_COMPARE(updater.state(), SlAppUpdaterClient::UpdateAvailable);
    updater.userAction(SlAppUpdaterClient::ApplyUpdate);
    QTRY_COMPARE(updater.state(), SlAppUpdaterClient::Error);
    QCOMPARE(updater.error(), SlAppUpdaterClient::WriteError);
    QDir().rmdir(updater.archivePath());

    // No updater program beside the program: an error, never a search on PATH.
    offerApp("1.3.10");
    updater.reset();
    updater.setUpdaterProgram(m_box.path(QStringLiteral("no-such-updater")));
    updater.userAction(SlAppUpdaterClient::RequestUpdate);
    QTRY_COMPARE(updater.state(), SlAppUpdaterClient::UpdateAvailable);
    updater.userAction(SlAppUpdaterClient::ApplyUpdate);
    QTRY_COMPARE(updater.state(), SlAppUpdaterClient::DownloadFinished);
    updater.userAction(SlAppUpdaterClient::Update);
    QCOMPARE(updater.state(), SlAppUpdaterClient::Error);
    QCOMPARE(updater.error(), SlAppUpdaterClient::StartUpdaterError);
}

QTEST_MAIN(TstUpdaters)
#include "tst_updaters.moc"
