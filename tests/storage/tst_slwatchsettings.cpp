#include "crypto/slaesenvelope.h"
#include "storage/sldevicerecord.h"
#include "storage/slwatchsettings.h"
#include "web/sluser.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

const QByteArray KEY = QByteArray::fromHex("3f2a9c0b7d41e6a85b0c1d2e3f405162738495a6b7c8d9ea");
const QByteArray OTHER_KEY =
    QByteArray::fromHex("a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718");

// Runs one statement through the sqlite3 command-line tool: an independent
// reader and writer of the file.
QString sqlite3(const QString &path, const QString &statement)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {path, statement});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("<sqlite3 failed: %1>")
            .arg(QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// One stored value, decrypted independently of the store.
QByteArray storedPlain(const QString &path, const QString &table, const QString &where)
{
    const QString hex =
        sqlite3(path, QStringLiteral("SELECT hex(data) FROM %1 WHERE %2").arg(table, where));
    return SlAesEnvelope(KEY, SlAesEnvelope::MODE_DIGEST)
        .decrypt(QByteArray::fromHex(hex.toLatin1()));
}

SlDeviceRecord record(const QString &serial, const QString &pin = QStringLiteral("1"))
{
    const QDateTime t(QDate(2020, 3, 15), QTime(10, 0), Qt::UTC);
    return {serial, "\1\2\3", QByteArray(24, 'k'), pin, "TR-31", 77, t, t.addDays(300)};
}

QVariantMap model(int n)
{
    return QVariantMap{{"steps", n}, {"label", QStringLiteral("day %1").arg(n)}};
}

// Appends every signal of the user to events, in emission order.
void trace(SlUser &user, QString &events)
{
    auto on = [&](auto signal, const char *name) {
        QObject::connect(&user, signal, [&events, name](const QVariant &v) {
            events += QStringLiteral("%1=%2;").arg(name, v.toString());
        });
    };
    on(&SlUser::nameChanged, "name");
    on(&SlUser::emailChanged, "email");
    on(&SlUser::idChanged, "id");
    on(&SlUser::isActiveChanged, "isActive");
    on(&SlUser::isValidChanged, "isValid");
}

QByteArray stored(const SlUser &user)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << user;
    return data;
}

} // namespace

class TestSlWatchSettings : public QObject
{
    Q_OBJECT

private slots:
    // The store logs every failure; here they are provoked on purpose.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void valuesOfAnySize_data();
    void valuesOfAnySize();
    void typedSettings_data();
    void typedSettings();
    void saveDevice();
    void statisticsQueue_data();
    void statisticsQueue();
    void unusableDatabase_data();
    void unusableDatabase();
    void defaultConstructionAndLegacyFile();
    void filesStayPrivate_data();
    void filesStayPrivate();
    void userStoredForm();
    void userSignalsAndValidity();

private:
    std::unique_ptr<SlWatchSettings> open(const QByteArray &key = KEY)
    {
        return std::make_unique<SlWatchSettings>(m_dir->path(), QString(), key);
    }
    QString dbPath() const { return m_dir->filePath(QStringLiteral("settings.sqlite")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSlWatchSettings::valuesOfAnySize_data()
{
    QTest::addColumn<int>("size");
    for (int size : {0, 1, 16, 17, 3 * 1024 * 1024 + 5})
        QTest::addRow("%d bytes", size) << size;
}

void TestSlWatchSettings::valuesOfAnySize()
{
    QFETCH(int, size);
    const QByteArray value =
        QByteArray("\0\x01\x80\xff", 4).repeated(size / 4) + QByteArray(size % 4, 'x');
    // A file left empty by an interrupted first run gets its tables, as SQLite
    // keeps them (no schema qualifier, the first blanks folded).
    QVERIFY(QFile(dbPath()).open(QIODevice::WriteOnly));
    auto settings = open();
    const QStringList schema = {
        "CREATE TABLE \"Settings\"   (\"name\" VARCHAR UNIQUE , \"data\" BLOB)",
        "CREATE TABLE \"Devices\"    (\"serial\" CHAR(16), \"data\" BLOB)",
        "CREATE TABLE \"Statistics\" (\"device\" BLOB, \"data\" BLOB)",
        "CREATE TABLE \"Params\" (\"device_id\" CHAR(16), \"device\" BLOB, \"flag\" BOOL, "
        "\"data\" BLOB)"};
    QCOMPARE(sqlite3(dbPath(), "SELECT sql FROM sqlite_master WHERE type='table'").split('\n'),
             schema);

    // A second write replaces the first one's row.
    QVERIFY(settings->writeSetting("blob", "first"));
    QVERIFY(settings->writeSetting("blob", value));
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Settings"), QStringLiteral("1"));
    bool found = false;
    QVERIFY(settings->readSetting("blob", &found) == value);
    QVERIFY(found);
}

void TestSlWatchSettings::typedSettings_data()
{
    QTest::addColumn<QByteArray>("readerKey");
    QTest::newRow("this computer") << KEY;
    QTest::newRow("file from another computer") << OTHER_KEY;
    QTest::newRow("no storage key") << QByteArray();
}

void TestSlWatchSettings::typedSettings()
{
    QFETCH(QByteArray, readerKey);
    const bool readable = readerKey == KEY;
    const SlWatchSettings::Version version{1, 3, 9};
    const QUrl imageLink(QStringLiteral("https://example.org/banner/a b.png?x=1&y=\u00e9"));
    const QUrl link(QStringLiteral("https://example.org/shop#top"));
    {
        auto writer = open();
        SlUser user;
        user.assign("Ann", "a@b", 0, true);
        QVERIFY(writer->setFirstRun(false) && writer->setVersion(version) &&
                writer->saveUser(&user));
        // A 3x2 grey map.
        QVERIFY(writer->setBannerImage("P2 3 2 9 1 2 3 4 5 6 ") &&
                writer->setBannerImageLink(imageLink) && writer->setBannerLink(link));
    }
    // The forms older versions of the program read as well.
    QCOMPARE(storedPlain(dbPath(), "Settings", "name='isFirstRunFlag'"), QByteArray(1, '\0'));
    QCOMPARE(storedPlain(dbPath(), "Settings", "name='version'").toHex(),
             QByteArray("000000010000000300000009"));

    auto settings = open(readerKey);
    bool found = !readable;
    QCOMPARE(settings->version(&found), readable ? version : SlWatchSettings::Version());
    QCOMPARE(found, readable);
    QCOMPARE(settings->isFirstRun(), !readable);
    SlUser user;
    user.assign("Keep", "k@k", 1, false);
    QCOMPARE(settings->loadUser(&user), readable);
    QCOMPARE(user.name(), QString(readable ? "Ann" : "Keep"));
    QCOMPARE(settings->bannerImage().size(), readable ? QSize(3, 2) : QSize(0, 0));
    QCOMPARE(settings->bannerImageLink(), readable ? imageLink : QUrl());
    QCOMPARE(settings->bannerLink(), readable ? link : QUrl());

    // Only a key can write; an empty flag counts as a first run as well.
    QCOMPARE(settings->writeSetting("isFirstRunFlag", QByteArray()), !readerKey.isEmpty());
    QVERIFY(settings->isFirstRun());
    QCOMPARE(settings->setFirstRun(true), !readerKey.isEmpty());
    QVERIFY(settings->isFirstRun());
}

void TestSlWatchSettings::saveDevice()
{
    auto settings = open();
    QVERIFY(settings->saveDevice(record("SN-0001", "1111")));
    QVERIFY(settings->saveDevice(record("SN-0001", "2222")));
    const QString md5 = QString::fromLatin1(
        QCryptographicHash::hash("SN-0001", QCryptographicHash::Md5).toHex().toUpper());
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*), hex(serial), typeof(serial) FROM Devices"),
             QStringLiteral("1|%1|blob").arg(md5));

    const SlDeviceRecord r = record("SN-0001", "2222");
    QByteArray expected;
    QDataStream stream(&expected, QIODevice::WriteOnly);
    stream << r.deviceKey << r.serverKey << r.serial << r.pin << r.description << qint64(77)
           << r.produced << r.activated;
    QCOMPARE(storedPlain(dbPath(), "Devices", "serial=x'" + md5 + "'").toHex(), expected.toHex());
    QVERIFY(!SlDeviceRecord::fromStoredForm(expected.chopped(1), nullptr));

    QVERIFY(settings->saveDevice(record("SN-0002", "3333")));
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Devices"), QStringLiteral("2"));
}

void TestSlWatchSettings::statisticsQueue_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("position");
    QTest::newRow("all readable") << "" << -1;
    QTest::newRow("head with tampered data") << "data" << 0;
    QTest::newRow("head with tampered record") << "device" << 0;
    QTest::newRow("middle entry with tampered data") << "data" << 1;
}

void TestSlWatchSettings::statisticsQueue()
{
    QFETCH(QString, damage);
    QFETCH(int, position);
    {
        auto writer = open();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(writer->pushStatistics(model(i), record(QStringLiteral("SN-%1").arg(i))));
            if (i == position)
                QCOMPARE(sqlite3(dbPath(), QStringLiteral("UPDATE Statistics SET %1=substr(%1,1,40)"
                                                          "||x'00'||substr(%1,42) WHERE rowid=%2")
                                               .arg(damage)
                                               .arg(i + 1)),
                         QString());
        }
    }
    if (position != 0)
        QCOMPARE(storedPlain(dbPath(), "Statistics", "rowid=1"),
                 QJsonDocument(QJsonObject::fromVariantMap(model(0))).toJson());

    // Read after a restart, oldest first.
    auto settings = open();
    QVariantMap m;
    SlDeviceRecord r;
    for (int expected = 0; expected < 3; ++expected) {
        if (expected == position)
            continue;
        QVERIFY(settings->peekStatistics(m, r));
        QCOMPARE(m, model(expected));
        QVERIFY(r == record(QStringLiteral("SN-%1").arg(expected)));
        QVERIFY(settings->popStatistics());
    }
    QVERIFY(!settings->peekStatistics(m, r));
    QVERIFY(!settings->popStatistics());
    // An unreadable entry is skipped, not dropped.
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Statistics"),
             QString::number(position < 0 ? 0 : 1));

    // Another instance took the peeked entry meanwhile: pop must not take
    // the next one in its place, and a pop without a peek takes the oldest.
    QVERIFY(settings->pushStatistics(model(1), record("SN-A")));
    QVERIFY(settings->pushStatistics(model(2), record("SN-A")));
    QVERIFY(settings->peekStatistics(m, r));
    QVERIFY(open()->popStatistics());
    QVERIFY(!settings->popStatistics());
    QVERIFY(settings->popStatistics());
    QVERIFY(!settings->peekStatistics(m, r));

    // The same, with the queue emptied meanwhile: SQLite gives the freed row number to the next
    // entry, which our pop must not take for the one it peeked.
    if (position >= 0)
        return; // an unreadable entry keeps the table from emptying
    QVERIFY(settings->pushStatistics(model(1), record("SN-B")));
    QVERIFY(settings->peekStatistics(m, r));
    QVERIFY(open()->popStatistics());
    QVERIFY(settings->pushStatistics(model(2), record("SN-C")));
    QVERIFY(!settings->popStatistics());
    QVERIFY(settings->peekStatistics(m, r));
    QCOMPARE(m, model(2));
}

void TestSlWatchSettings::unusableDatabase_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder cannot be created") << "blocked";
    QTest::newRow("corrupt file") << "corrupt";
    QTest::newRow("locked by another process") << "locked";
}

void TestSlWatchSettings::unusableDatabase()
{
    QFETCH(QString, kind);
    // Running as root ignores permissions, so a file blocks the folder's path.
    const QByteArray garbage = kind == "corrupt" ? QByteArray(4096, '\x5a') : QByteArray();
    QFile file(kind == "blocked" ? m_dir->filePath("blocker") : dbPath());
    if (kind != "locked") {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
        file.close();
    }
    SlWatchSettings settings(kind == "blocked" ? file.fileName() + "/config" : m_dir->path(),
                             QString(), KEY);
    QProcess holder;
    if (kind == "locked") {
        QVERIFY(settings.writeSetting("k", "before"));
        // Interactive mode flushes each answer, so the lock can be awaited.
        holder.start(QStringLiteral("sqlite3"), {QStringLiteral("-interactive"), dbPath()});
        QVERIFY(holder.waitForStarted());
        holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
        QByteArray answer;
        QTRY_VERIFY((answer += holder.readAllStandardOutput()).contains("locked"));
    }
    bool found = true;
    QVERIFY(!settings.writeSetting("k", "v"));
    QVERIFY(settings.readSetting("k", &found).isEmpty());
    QVERIFY(!found);
    QVERIFY(!settings.saveDevice(record("SN")) && !settings.pushStatistics(model(1), record("SN")));
    QVariantMap m;
    SlDeviceRecord r;
    QVERIFY(!settings.peekStatistics(m, r) && !settings.popStatistics());
    if (kind == "locked") {
        holder.closeWriteChannel(); // ends the transaction
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(settings.readSetting("k"), QByteArray("before"));
        QVERIFY(settings.writeSetting("k", "after"));
        return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
}

void TestSlWatchSettings::defaultConstructionAndLegacyFile()
{
    // The storage key is the 20-byte host key and a constant that every
    // stored value depends on.
    const QByteArray hostKey(20, 'h');
    QCOMPARE(SlWatchSettings::storageKeyFor(hostKey), hostKey + "\x5c\x1e\xa7\x3d");
    QVERIFY(SlWatchSettings::storageKeyFor(QByteArray(19, 'h')).isEmpty());

    // The configuration folder does not exist yet, nor its parent.
    qputenv("XDG_CONFIG_HOME", m_dir->filePath("nested/config").toLocal8Bit());
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);

    // The program's folder is the working directory; a database there moves,
    // but one left behind later does not replace the moved one.
    QTemporaryDir program;
    const auto writeLegacy = [&](const QByteArray &value) {
        return SlWatchSettings(program.path(), QString(), SlWatchSettings::storageKeyFor(hostKey))
            .writeSetting("k", value);
    };
    const QString previous = QDir::currentPath();
    QVERIFY(writeLegacy("kept") && QDir::setCurrent(program.path()));
    for (const QByteArray &leftBehind : {QByteArray(), QByteArray("old")}) {
        QVERIFY(leftBehind.isEmpty() || writeLegacy(leftBehind));
        SlWatchSettings settings(hostKey);
        QCOMPARE(settings.path(), config + "/settings.sqlite");
        QCOMPARE(settings.readSetting("k"), QByteArray("kept"));
        QCOMPARE(QFile::exists(program.filePath("settings.sqlite")), !leftBehind.isEmpty());
    }
    QVERIFY(QDir::setCurrent(previous));
    qunsetenv("XDG_CONFIG_HOME");
}

void TestSlWatchSettings::filesStayPrivate_data()
{
    QTest::addColumn<bool>("earlier");
    QTest::newRow("new store") << false;
    QTest::newRow("open store of an earlier version") << true;
}

// Other local users can work out the storage key, so they must not read the files.
void TestSlWatchSettings::filesStayPrivate()
{
    QFETCH(bool, earlier);
    const QString folder = m_dir->filePath("config");
    const QString db = folder + "/settings.sqlite";
    const auto mode = [](const QString &path) {
        struct stat info = {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777
                                                                       : 01000u;
    };
    // Nothing here may rest on the user's umask.
    const mode_t previous = ::umask(0);
    if (earlier) {
        QVERIFY(SlWatchSettings(folder, QString(), KEY).writeSetting("k", "v"));
        QFile journal(db + "-journal");
        QVERIFY(journal.open(QIODevice::WriteOnly));
        journal.close();
        for (const QString &path : {folder, db, db + "-journal"})
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), path == folder ? 0755 : 0644), 0);
    }
    SlWatchSettings settings(folder, QString(), KEY);
    const uint journalMode = mode(db + "-journal");
    const bool written = settings.writeSetting("k", "w");
    ::umask(previous);
    QVERIFY(written);
    QCOMPARE(mode(folder), 0700u);
    QCOMPARE(mode(db), 0600u);
    if (earlier)
        QCOMPARE(journalMode, 0600u);
}

void TestSlWatchSettings::userStoredForm()
{
    // UTF-16 strings with a 32-bit length, a 64-bit id and a one-byte flag; a
    // null string is marked by an all-ones length, an empty one by zero.
    SlUser ann, nobody;
    ann.assign("Ann", "a@b", 7, true);
    nobody.assign(QString(), QString(""), -1, false);
    const std::pair<const SlUser *, const char *> forms[] = {
        {&ann, "000000060041006e006e00000006006100400062000000000000000701"},
        {&nobody, "ffffffff00000000ffffffffffffffff00"}};
    for (const auto &form : forms) {
        QCOMPARE(stored(*form.first).toHex(), QByteArray(form.second));
        SlUser back;
        back.assign("Old", "old@x", 1, !form.first->isActive());
        QDataStream stream(QByteArray::fromHex(form.second));
        stream >> back;
        QCOMPARE(stream.status(), QDataStream::Ok);
        QCOMPARE(stored(back).toHex(), QByteArray(form.second));
    }
    // Bytes cut off the end (in the e-mail address, in the id, the flag) and the fields taken:
    // those behind the damage must not be blanked.
    const std::pair<int, const char *> cuts[] = {
        {13, "name=Ann;"}, {3, "name=Ann;email=a@b;"}, {1, "name=Ann;email=a@b;id=7;"}};
    for (const auto &cut : cuts) {
        SlUser user;
        QString events;
        trace(user, events);
        QDataStream stream(stored(ann).chopped(cut.first));
        stream >> user;
        QCOMPARE(events, cut.second);
    }
}

void TestSlWatchSettings::userSignalsAndValidity()
{
    SlUser user;
    QString events;
    trace(user, events);
    // Even an unchanged value is announced again.
    const QString once = "name=Ann;email=a@b;id=0;isActive=1;isValid=true;";
    user.assign("Ann", "a@b", 0, true);
    user.assign("Ann", "a@b", 0, true);
    QCOMPARE(std::exchange(events, QString()), once + once);

    // The slots announce their own field only, even when validity changes.
    user.setEmail(QString());
    user.setId(0);
    user.setIsActive(false);
    user.setName("Ann");
    QVERIFY(!user.isValid());
    QCOMPARE(std::exchange(events, QString()), "email=;id=0;isActive=0;name=Ann;");

    // Nor is an account without a name or with a negative id.
    user.assign("", "a@b", 5, false);
    user.assign("Ann", "a@b", -1, false);
    QCOMPARE(events.count("isValid=false"), 2);
}

QTEST_GUILESS_MAIN(TestSlWatchSettings)
#include "tst_slwatchsettings.moc"
