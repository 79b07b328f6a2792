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
    // Another program may still hold the gadget port; the hub would not listen then.
    void init() { QVERIFY(FragmentPeer::waitForFreePort(6666) && m_service.reset()); }
    void firmwareOffer_data();
    void firmwareOffer();
    void firmwareImages();
    void appUpdate_data();
    void appUpdate();

private:
    ProgramSandbox m_box;
    FakeService m_service;
    const QByteArray m_serverKey = QByteArray(24, 'K');
    const QString m_serial = QStringLiteral("TR31-UPD-0001");
};

void TstUpdaters::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    m_box.useForThisProcess();
    m_service.addDevice(m_serial, m_serverKey);
    QByteArray image(5000, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    m_service.addFile(QStringLiteral("fw.bin"), image);
    m_service.addFile(QStringLiteral("update.zip"), QByteArray(100000, 'z'));
    QVERIFY(m_service.start());
    qputenv("CORVANE_SERVICE_ORIGIN", m_service.origin().toLatin1());
    qputenv("CORVANE_SERVICE_CA", m_service.caPath().toLocal8Bit());
    SlAppUpdaterClient::setDefaultServiceOrigin(m_service.origin());
    SlAppUpdaterClient::setDefaultSslConfiguration(m_service.sslConfiguration());
}

void TstUpdaters::firmwareOffer_data()
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

void TstUpdaters::firmwareOffer()
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
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isWriting(), 10000);
    // The worker queues its verdict before it lowers the flag: one pass delivers it.
    QCoreApplication::processEvents();
    QTRY_VERIFY(!updater.isUpdateAvailable());
}

void TstUpdaters::firmwareImages()
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

void TstUpdaters::appUpdate_data()
{
    QTest::addColumn<QString>("offer");
    QTest::newRow("1.3.9: ours") << QString("1.3.9");
    QTest::newRow("1.4: not three parts") << QString("1.4");
    QTest::newRow("the updater starts") << QString("1.3.10");
    QTest::newRow("a folder where the archive goes") << QString("1.3.10 blocked");
    QTest::newRow("no updater beside us, none from PATH") << QString("1.3.10 no-updater");
}

void TstUpdaters::appUpdate()
{
    using S = SlAppUpdaterClient;
    QFETCH(QString, offer);
    const QByteArray offered = offer.section(' ', 0, 0).toLatin1();
    const bool blocked = offer.endsWith("blocked"), program = !offer.endsWith("no-updater");
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    for (int i = 0; i < 2; ++i) // the second for the check after the discard
        QVERIFY(m_service.script("GET", "/en/api/v1/app_version/", 200,
                                 R"({"app_versions": [{"version": ")" + offered +
                                     R"(", "windows_url": "/files/update.zip"}]})"));
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
    if (blocked) {
        QCOMPARE(qMakePair(updater.state(), updater.error()), qMakePair(S::Error, S::WriteError));
        QVERIFY(QDir().rmdir(updater.archivePath()));
        updater.reset();
        QCOMPARE(qMakePair(updater.state(), updater.error()), qMakePair(S::Idle, S::Successful));
        return;
    }
    QCOMPARE(updater.state(), S::DownloadFinished);
    QCOMPARE(updater.progress(), 100.0f);
    QCOMPARE(contents(updater.archivePath()), QByteArray(100000, 'z'));
    QCOMPARE(QFileInfo(QFileInfo(updater.archivePath()).path()).permissions() & 0x0077, 0);
    updater.userAction(S::Update);
    QCOMPARE(updater.error(), program ? S::Successful : S::StartUpdaterError);
    QCOMPARE(updater.state(), program ? S::ClosingApp : S::Error);
    if (program)
        QTRY_COMPARE(QString::fromUtf8(contents(record)),
                     file.fileName() + "\n-f\n" + updater.archivePath() + '\n');
}

QTEST_MAIN(TstUpdaters)
#include "tst_updaters.moc"
