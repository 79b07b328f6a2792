#include "app/slapplogic.h"
#include "platform/platform.h"
#include "storage/slwatchsettings.h"
#include "web/sluser.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The hub's use of the settings store: the stored version, the user and logout.
class TstHubSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void storedVersion_data();
    void storedVersion();
    void userIsLoadedAndLogoutStoresTheEmptyAccount();

private:
    SlWatchSettings::Version storedVersion(bool *found);
    QString configFolder() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    }
    QByteArray storageKey() const { return SlWatchSettings::storageKeyFor(Platform::hostKey()); }
    QTemporaryDir m_dir;
};

void TstHubSettings::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    const QString idFile = m_dir.filePath(QStringLiteral("machine-id"));
    QFile id(idFile);
    QVERIFY(id.open(QIODevice::WriteOnly));
    id.write("00112233445566778899aabbccddeeff\n");
    id.close();
    qputenv("CORVANE_MACHINE_ID_FILE", idFile.toUtf8());
    QVERIFY(!Platform::hostKey().isEmpty());
    // Keeps the hub's legacy-file lookup away from the build tree.
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TstHubSettings::init()
{
    const QString config = m_dir.filePath(QStringLiteral("config"));
    QDir(config).removeRecursively();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    QVERIFY(QDir().mkpath(configFolder()));
}

SlWatchSettings::Version TstHubSettings::storedVersion(bool *found)
{
    SlWatchSettings settings(configFolder(), QString(), storageKey());
    return settings.version(found);
}

void TstHubSettings::storedVersion_data()
{
    QTest::addColumn<bool>("hasEntry");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<bool>("updated");
    QTest::newRow("first installation") << false << 0 << 0 << 0 << false;
    QTest::newRow("older patch") << true << 1 << 3 << 8 << true;
    QTest::newRow("newer minor") << true << 1 << 4 << 0 << true;
    QTest::newRow("same version") << true << 1 << 3 << 9 << false;
}

void TstHubSettings::storedVersion()
{
    QFETCH(bool, hasEntry);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(bool, updated);
    if (hasEntry) {
        SlWatchSettings settings(configFolder(), QString(), storageKey());
        QVERIFY(settings.setVersion({major, minor, patch}));
    }
    QByteArray before;
    {
        QFile file(configFolder() + QStringLiteral("/settings.sqlite"));
        if (file.open(QIODevice::ReadOnly))
            before = file.readAll();
    }
    {
        SlAppLogic hub;
        QCOMPARE(hub.isUpdated(), updated);
    }
    bool found = false;
    const SlWatchSettings::Version now = storedVersion(&found);
    QVERIFY(found);
    QCOMPARE(now.major, 1);
    QCOMPARE(now.minor, 3);
    QCOMPARE(now.patch, 9);
    if (hasEntry && !updated) {
        // Nothing is written when the stored version is the current one.
        QFile file(configFolder() + QStringLiteral("/settings.sqlite"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

void TstHubSettings::userIsLoadedAndLogoutStoresTheEmptyAccount()
{
    {
        SlWatchSettings settings(configFolder(), QString(), storageKey());
        SlUser user;
        user.assign(QStringLiteral("Ada"), QStringLiteral("ada@example.org"), 42, true);
        QVERIFY(settings.saveUser(&user));
    }
    {
        SlAppLogic hub;
        QVERIFY(hub.user());
        QCOMPARE(hub.user()->name(), QStringLiteral("Ada"));
        QCOMPARE(hub.user()->email(), QStringLiteral("ada@example.org"));
        QCOMPARE(hub.user()->id(), 42);
        QVERIFY(hub.user()->isActive());
        QCOMPARE(hub.property("user").value<SlUser *>(), hub.user());

        QSignalSpy names(hub.user(), &SlUser::nameChanged);
        hub.logout();
        QCOMPARE(names.count(), 1);
        QCOMPARE(hub.user()->id(), -1);
        QVERIFY(!hub.user()->isActive());
    }
    SlWatchSettings settings(configFolder(), QString(), storageKey());
    SlUser stored;
    stored.assign(QStringLiteral("x"), QStringLiteral("y"), 7, true);
    QVERIFY(settings.loadUser(&stored));
    QCOMPARE(stored.name(), QString());
    QCOMPARE(stored.email(), QString());
    QCOMPARE(stored.id(), -1);
    QVERIFY(!stored.isActive());
}

QTEST_GUILESS_MAIN(TstHubSettings)
#include "tst_hubsettings.moc"
