#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/slqtapponeinstance.h"
#include "app/taskbarutility.h"
#include "platform/platform.h"
#include "storage/slwatchsettings.h"
#include "web/sluser.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

static const char kEntry[] = "/autostart/com.corvane.watch.desktop";

// The hub's use of the settings store (the stored version, the user and logout), the small
// helpers the hub and the interface call, and what it takes from the platform: the host key and
// the autostart entry.
class TstHubSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void storedVersion_data();
    void storedVersion();
    void userIsLoadedAndLogoutStoresTheEmptyAccount();
    void helpers();
    void hostKey_data();
    void hostKey();
    void autostartEntryLifeCycle();
    void autostartEntryFollowsDesktopRules_data();
    void autostartEntryFollowsDesktopRules();
    void hiddenAutostartEntryIsOff();

private:
    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QString configFolder() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    }
    SlWatchSettings *settings()
    {
        m_settings.emplace(configFolder(), QString(),
                           SlWatchSettings::storageKeyFor(Platform::hostKey()));
        return &*m_settings;
    }
    QByteArray storeBytes() const
    {
        QFile file(configFolder() + QStringLiteral("/settings.sqlite"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir m_dir;
    std::optional<SlWatchSettings> m_settings;
};

void TstHubSettings::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    const QString idFile = m_dir.filePath(QStringLiteral("machine-id"));
    writeFile(idFile, "00112233445566778899aabbccddeeff\n");
    qputenv("CORVANE_MACHINE_ID_FILE", idFile.toUtf8());
    QVERIFY(!Platform::hostKey().isEmpty());
    // Keeps the hub's legacy-file lookup away from the build tree.
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TstHubSettings::init()
{
    m_settings.reset();
    const QString config = m_dir.filePath(QStringLiteral("config"));
    QDir(config).removeRecursively();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    QVERIFY(QDir().mkpath(configFolder()));
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
    if (hasEntry)
        QVERIFY(settings()->setVersion({major, minor, patch}));
    m_settings.reset();
    const QByteArray before = storeBytes();
    {
        SlAppLogic hub;
        QCOMPARE(hub.isUpdated(), updated);
        QCOMPARE(hub.currentAppVer(), QStringLiteral("1.3.9"));
    }
    bool found = false;
    const SlWatchSettings::Version now = settings()->version(&found);
    QVERIFY(found);
    QCOMPARE(now.major, 1);
    QCOMPARE(now.minor, 3);
    QCOMPARE(now.patch, 9);
    // Nothing is written when the stored version is the current one.
    if (hasEntry && !updated)
        QCOMPARE(storeBytes(), before);
}

// What assign() and the store do with a user is the user's and the store's tests'; the hub
// loads the stored one and stores the empty account on logout.
void TstHubSettings::userIsLoadedAndLogoutStoresTheEmptyAccount()
{
    SlUser user;
    user.assign(QStringLiteral("Ada"), QStringLiteral("ada@example.org"), 42, true);
    QVERIFY(settings()->saveUser(&user));
    m_settings.reset();
    {
        SlAppLogic hub;
        QCOMPARE(hub.property("user").value<SlUser *>(), hub.user());
        QCOMPARE(hub.user()->name(), QStringLiteral("Ada"));
        QCOMPARE(hub.user()->id(), 42);
        hub.logout();
        QCOMPARE(hub.user()->id(), -1);
        QVERIFY(!hub.user()->isActive());
    }
    QVERIFY(settings()->loadUser(&user));
    QCOMPARE(user.name(), QString());
    QCOMPARE(user.email(), QString());
    QCOMPARE(user.id(), -1);
    QVERIFY(!user.isActive());
}

void TstHubSettings::helpers()
{
    // Digests from sha1sum over the key's and the salt's bytes.
    const QString key = QStringLiteral("5b0c7e2a-9f41-4d8e-a3c6-1e7f20b94d5c");
    QCOMPARE(SlQtAppOneInstance::keyHash(key, "_memLockKey"),
             QStringLiteral("20e919da6b075b36574a158f9146bf3c26905e56"));
    QCOMPARE(SlQtAppOneInstance::keyHash(key, "_sharedmemKey"),
             QStringLiteral("705d13adf1c2300ae2f2b791fb1a49b16f9bb0e2"));
    QCOMPARE(SlAppLogic::languageOf("de_CH"), QStringLiteral("de"));
    QCOMPARE(SlAppLogic::languageOf("sr_Latn_RS"), QStringLiteral("sr"));
    QCOMPARE(SlAppLogic::languageOf("C"), QStringLiteral("C"));

    SlHelper helper;
    const QVariant scaled = helper.fontSizeScale(16);
    QCOMPARE(int(scaled.type()), int(QMetaType::Float));
    QCOMPARE(scaled.toFloat(), 16.0f);
    QCOMPARE(helper.fontSizeScale(QStringLiteral("12.5")).toFloat(), 12.5f);
    QVERIFY(helper.isDateValid(QDateTime(QDate(2026, 2, 28), QTime(12, 0))));
    QVERIFY(!helper.isDateValid(QDateTime()));
    QVERIFY(!helper.isDateValid(QDateTime(QDate(2026, 2, 30), QTime(12, 0))));
    // Purely textual: a sign is grouped like a digit.
    const QList<QPair<QVariant, QString>> splits = {
        {1234567, "1.234.567"}, {999, "999"},           {1000, "1.000"},
        {QVariant(), ""},       {-123456, "-.123.456"}, {"abcdefg", "a.bcd.efg"}};
    for (const auto &split : splits)
        QCOMPARE(helper.digitSplitThousand(split.first).toString(), split.second);
}

void TstHubSettings::hostKey_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expectedHex");
    // Digests from sha1sum over the identifier followed by one zero byte.
    const QString id32 = "ad7e14eb37fa48cb44aba9753cd8ee24d8fa871e";
    QTest::newRow("newline") << QByteArray("0123456789abcdef0123456789abcdef\n") << id32;
    QTest::newRow("no newline") << QByteArray("0123456789abcdef0123456789abcdef") << id32;
    QTest::newRow("36 characters") << QByteArray("3f2504e0-4f89-11d3-9a0c-0305e82c3301\n")
                                   << "34be0684faf6fdcb186fb818be2f94dcbb6c73be";
    // Without a readable identifier the user's own random one serves, never the system's.
    QTest::newRow("only a newline") << QByteArray("\n") << QString("per-user");
    QTest::newRow("absent") << QByteArray() << QString("per-user");
}

void TstHubSettings::hostKey()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedHex);
    const QString path = m_dir.filePath(QTest::currentDataTag());
    if (!content.isNull())
        writeFile(path, content);
    qputenv("CORVANE_MACHINE_ID_FILE", path.toUtf8());
    if (expectedHex != "per-user") {
        QCOMPARE(SlAppLogic().host_key(), expectedHex);
        return;
    }
    const QString own = Platform::userHostIdLocation();
    QVERIFY(!QFile::exists(own));
    const QString made = SlAppLogic().host_key();
    QCOMPARE(QFile::permissions(own) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(made, QString::fromLatin1(Platform::hostKeyFromMachineIdFile(own).toHex()));
    QCOMPARE(made.size(), 40);
    QCOMPARE(SlAppLogic().host_key(), made);
}

void TstHubSettings::autostartEntryLifeCycle()
{
    // init() pointed XDG_CONFIG_HOME here.
    const QString config = m_dir.filePath("config");
    const auto entryBytes = [] {
        QFile file(Platform::autostartLocation());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    SlAppLogic hub;
    QSignalSpy spy(&hub, &SlAppLogic::autorunChanged);
    hub.setAutorun(true);
    QCOMPARE(spy.count(), 1);
    QSettings entry(config + kEntry, QSettings::IniFormat);
    QCOMPARE(entry.value("Desktop Entry/Type").toString(), QStringLiteral("Application"));
    QVERIFY(!entry.value("Desktop Entry/Name").toString().isEmpty());
    const QByteArray exec =
        "\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" --hidden\n";
    QVERIFY2(entryBytes().contains(exec), entryBytes().constData());

    // The hub leaves an entry that is already there alone; the utility always rewrites it.
    writeFile(config + kEntry, "kept");
    hub.setAutorun(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(entryBytes(), QByteArray("kept"));
    TaskBarUtility::setAutorun(true);
    QVERIFY(entryBytes().contains(exec));

    hub.setAutorun(false);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!QFile::exists(config + kEntry));
    QVERIFY(Platform::setAutorun(false));

    // Without XDG_CONFIG_HOME the entry goes below the home folder, made when missing.
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", m_dir.filePath("home").toUtf8());
    QVERIFY(Platform::setAutorun(true));
    QVERIFY(QFile::exists(m_dir.filePath("home/.config") + kEntry));
}

// The Exec value read back as a launcher does: the string escapes first, then the quoting, then
// the field codes.
static QStringList execArguments(const QByteArray &entry)
{
    const int start = entry.indexOf("\nExec=") + 6;
    const QString raw = QString::fromUtf8(entry.mid(start, entry.indexOf('\n', start) - start));
    QString value;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            value += raw[i];
            continue;
        }
        const QChar next = raw[++i];
        value += next == 's'   ? QChar(' ')
                 : next == 'n' ? QChar('\n')
                 : next == 't' ? QChar('\t')
                 : next == 'r' ? QChar('\r')
                               : next;
    }
    QStringList arguments;
    QString current;
    bool quoted = false, any = false;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (quoted && c == '\\' && i + 1 < value.size() && QString("\"`$\\").contains(value[i + 1]))
            current += value[++i];
        else if (c == '"')
            quoted = !quoted, any = true;
        else if (c == ' ' && !quoted) {
            if (any || !current.isEmpty())
                arguments.append(current);
            current.clear();
            any = false;
        } else
            current += c;
    }
    if (any || !current.isEmpty())
        arguments.append(current);
    for (QString &argument : arguments)
        argument.replace("%%", "%");
    return arguments;
}

void TstHubSettings::autostartEntryFollowsDesktopRules_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("plain") << "/usr/bin/corvane";
    QTest::newRow("blanks") << "/opt/my apps/corvane";
    QTest::newRow("double quote") << "/opt/a\"b/corvane";
    QTest::newRow("backslash") << "/opt/a\\b/corvane";
    QTest::newRow("percent") << "/opt/100%u/corvane";
    QTest::newRow("dollar and backtick") << "/opt/$HOME`id`/corvane";
}

// The written entry passes the desktop's own checker, and a launcher that reads it starts the
// program at that path with --hidden.
void TstHubSettings::autostartEntryFollowsDesktopRules()
{
    QFETCH(QString, program);
    const QByteArray entry = Platform::autostartEntry(program).toUtf8();
    const QString file = m_dir.filePath("corvane.desktop");
    writeFile(file, entry);
    QProcess validate;
    validate.start("desktop-file-validate", {file});
    QVERIFY2(validate.waitForFinished(10000), "desktop-file-validate (desktop-file-utils) missing");
    const QByteArray said = validate.readAllStandardOutput() + validate.readAllStandardError();
    QVERIFY2(validate.exitCode() == 0 && said.isEmpty(), (said + entry).constData());
    QCOMPARE(execArguments(entry), QStringList({program, "--hidden"}));
}

// The desktop's way to switch a log-on entry off without deleting it.
void TstHubSettings::hiddenAutostartEntryIsOff()
{
    const QByteArray entry = Platform::autostartEntry("/usr/bin/corvane").toUtf8();
    QVERIFY(QDir().mkpath(QFileInfo(Platform::autostartLocation()).path()));
    const QList<QPair<QByteArray, bool>> rows = {{"Hidden=true\n", false},
                                                 {"Hidden = true\n", false},
                                                 {"Hidden=false\n", true},
                                                 {"[Other Group]\nHidden=true\n", true}};
    for (const auto &row : rows) {
        writeFile(Platform::autostartLocation(), entry + row.first);
        QVERIFY2(Platform::isAutorun() == row.second, row.first.constData());
    }
}

QTEST_GUILESS_MAIN(TstHubSettings)
#include "tst_hubsettings.moc"
