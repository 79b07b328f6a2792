#include "app/appinfo.h"
#include "crypto/slaesenvelope.h"
#include "storage/sldevicerecord.h"
#include "storage/slwatchsettings.h"
#include "web/sluser.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QByteArray KEY = QByteArray::fromHex("3f2a9c0b7d41e6a85b0c1d2e3f405162738495a6b7c8d9ea");
const QByteArray OTHER_KEY =
    QByteArray::fromHex("a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718");

// The statements as SQLite keeps them: it drops the schema qualifier and
// folds the blanks between the first two keywords, and leaves the rest.
const QStringList STORED_SCHEMA = {
    "CREATE TABLE \"Settings\"   (\"name\" VARCHAR UNIQUE , \"data\" BLOB)",
    "CREATE TABLE \"Devices\"    (\"serial\" CHAR(16), \"data\" BLOB)",
    "CREATE TABLE \"Statistics\" (\"device\" BLOB, \"data\" BLOB)",
    "CREATE TABLE \"Params\" (\"device_id\" CHAR(16), \"device\" BLOB, \"flag\" BOOL, \"data\" "
    "BLOB)",
};

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

QByteArray storedBlob(const QString &path, const QString &table, const QString &where)
{
    return QByteArray::fromHex(
        sqlite3(path, QStringLiteral("SELECT hex(data) FROM %1 WHERE %2").arg(table, where))
            .toLatin1());
}

SlDeviceRecord record(const QString &serial, const QString &pin)
{
    SlDeviceRecord r;
    r.serial = serial;
    r.deviceKey = QByteArray::fromHex("00ff10ee20dd30cc");
    r.serverKey = QByteArray(24, '\x42');
    r.pin = pin;
    r.description = QStringLiteral("TR-31");
    r.userId = 77;
    r.produced = QDateTime(QDate(2020, 3, 15), QTime(10, 0), Qt::UTC);
    r.activated = QDateTime(QDate(2021, 1, 2), QTime(8, 30, 5), Qt::UTC);
    return r;
}

SlWatchSettings::Version makeVersion(int major, int minor = 0, int patch = 0)
{
    SlWatchSettings::Version v;
    v.major = major;
    v.minor = minor;
    v.patch = patch;
    return v;
}

QVariantMap model(int n)
{
    return QVariantMap{{"steps", n}, {"label", QStringLiteral("day %1").arg(n)}};
}

QByteArray pngBytes()
{
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

} // namespace

class TestSlWatchSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void schemaAsReadBySqlite3();
    void firstRun();
    void valuesOfAnySize_data();
    void valuesOfAnySize();
    void rewriteKeepsOneRow();
    void typedSettings();
    void versionStoredForm();
    void tamperedValueIsNotFound();
    void foreignValuesGiveDefaults();
    void saveDeviceSameSerialTwice();
    void deviceRecordStoredForm();
    void statisticsQueueAcrossRestart();
    void unreadableEntryDoesNotBlock_data();
    void unreadableEntryDoesNotBlock();
    void popRemovesThePeekedEntry();
    void legacyFileIsMoved();
    void legacyFileDoesNotReplaceCurrent();
    void unusableDatabase_data();
    void unusableDatabase();
    void lockedByAnotherProcess();
    void withoutStorageKey();
    void defaultConstruction();

private:
    std::unique_ptr<SlWatchSettings> open(const QByteArray &key = KEY)
    {
        return std::make_unique<SlWatchSettings>(m_dir->path(), QString(), key);
    }
    QString dbPath() const { return m_dir->filePath(QStringLiteral("settings.sqlite")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSlWatchSettings::initTestCase()
{
    // The store logs every failure; here they are provoked on purpose.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty(),
             "the sqlite3 command-line tool is needed");
}

void TestSlWatchSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSlWatchSettings::cleanup()
{
    m_dir.reset();
}

void TestSlWatchSettings::schemaAsReadBySqlite3()
{
    {
        auto settings = open();
        QVERIFY(settings->isOpen());
        QCOMPARE(settings->path(), dbPath());
    }
    QVERIFY(QFile::exists(dbPath()));
    const QString schema =
        sqlite3(dbPath(),
                QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' ORDER BY rowid"));
    QCOMPARE(schema.split('\n'), STORED_SCHEMA);

    // Opening an existing file does not try to create the tables again.
    auto again = open();
    QVERIFY(again->writeSetting("k", "v"));
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM sqlite_master WHERE type='table'"),
             QStringLiteral("4"));
}

void TestSlWatchSettings::firstRun()
{
    {
        auto settings = open();
        QVERIFY(settings->isFirstRun());
        QVERIFY(settings->setFirstRun(false));
        QVERIFY(!settings->isFirstRun());
    }
    auto restarted = open();
    QVERIFY(!restarted->isFirstRun());
    const QByteArray blob = storedBlob(dbPath(), "Settings", "name='isFirstRunFlag'");
    QCOMPARE(blob.size(), 52);
    bool ok = false;
    QCOMPARE(SlAesEnvelope(KEY, 1).decrypt(blob, &ok), QByteArray(1, '\0'));
    QVERIFY(ok);

    QVERIFY(restarted->setFirstRun(true));
    QVERIFY(restarted->isFirstRun());
    // An empty flag counts as a first run as well.
    QVERIFY(restarted->writeSetting("isFirstRunFlag", QByteArray()));
    QVERIFY(restarted->isFirstRun());
}

void TestSlWatchSettings::valuesOfAnySize_data()
{
    QTest::addColumn<int>("size");
    for (int size : {0, 1, 15, 16, 17, 4096, 3 * 1024 * 1024 + 5})
        QTest::addRow("%d bytes", size) << size;
}

void TestSlWatchSettings::valuesOfAnySize()
{
    QFETCH(int, size);
    QByteArray value(size, '\0');
    for (int i = 0; i < size; ++i)
        value[i] = char((i * 131) >> 3);
    {
        auto settings = open();
        QVERIFY(settings->writeSetting("blob", value));
    }
    auto settings = open();
    bool found = false;
    const QByteArray back = settings->readSetting("blob", &found);
    QVERIFY(found);
    QCOMPARE(back.size(), size);
    QVERIFY(back == value);

    found = true;
    QVERIFY(settings->readSetting("missing", &found).isEmpty());
    QVERIFY(!found);
}

void TestSlWatchSettings::rewriteKeepsOneRow()
{
    auto settings = open();
    QVERIFY(settings->writeSetting("k", "first"));
    const QByteArray firstBlob = storedBlob(dbPath(), "Settings", "name='k'");
    QVERIFY(settings->writeSetting("k", "first"));
    const QByteArray sameValueBlob = storedBlob(dbPath(), "Settings", "name='k'");
    QVERIFY(settings->writeSetting("k", "second"));

    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Settings WHERE name='k'"),
             QStringLiteral("1"));
    bool found = false;
    QCOMPARE(settings->readSetting("k", &found), QByteArray("second"));
    QVERIFY(found);
    // The same value written twice is not recognisable from the stored bytes.
    QCOMPARE(firstBlob.size(), sameValueBlob.size());
    QVERIFY(firstBlob != sameValueBlob);
}

void TestSlWatchSettings::typedSettings()
{
    const QUrl imageLink(QStringLiteral("https://example.org/banner/a b.png?x=1&y=\u00e9"));
    const QUrl link(QStringLiteral("https://example.org/shop#top"));
    {
        auto settings = open();
        bool found = true;
        QCOMPARE(settings->version(&found), SlWatchSettings::Version());
        QVERIFY(!found);
        QVERIFY(settings->bannerImage(&found).isNull());
        QVERIFY(!found);
        QVERIFY(settings->bannerLink(&found).isEmpty());
        QVERIFY(!found);

        QVERIFY(settings->setVersion(makeVersion(1, 3, 9)));
        SlUser user;
        user.assign("Ann", "a@b", 0, true);
        QVERIFY(settings->saveUser(&user));
        QVERIFY(settings->setBannerImage(pngBytes()));
        QVERIFY(settings->setBannerImageLink(imageLink));
        QVERIFY(settings->setBannerLink(link));
    }
    auto settings = open();
    bool found = false;
    const SlWatchSettings::Version v = settings->version(&found);
    QVERIFY(found);
    QCOMPARE(v.major, 1);
    QCOMPARE(v.minor, 3);
    QCOMPARE(v.patch, 9);

    SlUser user;
    QSignalSpy names(&user, &SlUser::nameChanged);
    QVERIFY(settings->loadUser(&user));
    QCOMPARE(names.count(), 1);
    QCOMPARE(user.name(), QStringLiteral("Ann"));
    QCOMPARE(user.email(), QStringLiteral("a@b"));
    QCOMPARE(user.id(), 0);
    QVERIFY(user.isActive());

    const QImage image = settings->bannerImage(&found);
    QVERIFY(found);
    QCOMPARE(image.size(), QSize(3, 2));
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::red));
    QCOMPARE(settings->bannerImageLink(&found), imageLink);
    QVERIFY(found);
    QCOMPARE(settings->bannerLink(&found), link);
    QCOMPARE(storedBlob(dbPath(), "Settings", "name='banner_link'").size(), 36 + 32);
}

void TestSlWatchSettings::versionStoredForm()
{
    auto settings = open();
    QVERIFY(settings->setVersion(makeVersion(1, 3, 9)));
    bool ok = false;
    const QByteArray plain =
        SlAesEnvelope(KEY, 1).decrypt(storedBlob(dbPath(), "Settings", "name='version'"), &ok);
    QVERIFY(ok);
    QCOMPARE(plain.toHex(), QByteArray("000000010000000300000009"));
}

void TestSlWatchSettings::tamperedValueIsNotFound()
{
    auto settings = open();
    QVERIFY(settings->setVersion(makeVersion(2)));
    const QByteArray blob = storedBlob(dbPath(), "Settings", "name='version'");
    QCOMPARE(blob.size(), 52);

    auto store = [&](const QByteArray &bytes) {
        return sqlite3(dbPath(), QStringLiteral("UPDATE Settings SET data=x'%1' WHERE "
                                                "name='version'")
                                     .arg(QString::fromLatin1(bytes.toHex())));
    };
    for (int pos = 0; pos < blob.size(); ++pos) {
        QByteArray changed = blob;
        changed[pos] = char(changed.at(pos) ^ 0x20);
        QCOMPARE(store(changed), QString());
        bool found = true;
        QCOMPARE(settings->version(&found), SlWatchSettings::Version());
        QVERIFY2(!found, qPrintable(QStringLiteral("byte %1 changed").arg(pos)));
    }
    for (const QByteArray &cut : {blob.left(51), blob.left(36), QByteArray("x")}) {
        QCOMPARE(store(cut), QString());
        bool found = true;
        settings->readSetting("version", &found);
        QVERIFY(!found);
    }
    QCOMPARE(store(blob), QString());
    QCOMPARE(settings->version().major, 2);
}

void TestSlWatchSettings::foreignValuesGiveDefaults()
{
    {
        // The same file written on another computer.
        auto foreign = open(OTHER_KEY);
        QVERIFY(foreign->setVersion(makeVersion(9)));
        QVERIFY(foreign->setFirstRun(false));
        SlUser user;
        user.assign("Eve", "e@x", 5, true);
        QVERIFY(foreign->saveUser(&user));
        QVERIFY(foreign->setBannerImage(pngBytes()));
        QVERIFY(foreign->setBannerImageLink(QUrl("https://x.org/i.png")));
        QVERIFY(foreign->setBannerLink(QUrl("https://x.org/")));
    }
    auto settings = open();
    bool found = true;
    QCOMPARE(settings->version(&found), SlWatchSettings::Version());
    QVERIFY(!found);
    QVERIFY(settings->isFirstRun());
    SlUser user;
    user.assign("Keep", "k@k", 1, false);
    QSignalSpy names(&user, &SlUser::nameChanged);
    QVERIFY(!settings->loadUser(&user));
    QCOMPARE(names.count(), 0);
    QCOMPARE(user.name(), QStringLiteral("Keep"));
    QVERIFY(settings->bannerImage(&found).isNull());
    QVERIFY(!found);
    QVERIFY(settings->bannerImageLink().isEmpty());
    QVERIFY(settings->bannerLink().isEmpty());
}

void TestSlWatchSettings::saveDeviceSameSerialTwice()
{
    auto settings = open();
    QVERIFY(settings->saveDevice(record("SN-0001", "1111")));
    QVERIFY(settings->saveDevice(record("SN-0001", "2222")));
    const QString md5 = QString::fromLatin1(
        QCryptographicHash::hash("SN-0001", QCryptographicHash::Md5).toHex().toUpper());
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*), hex(serial), typeof(serial) FROM Devices"),
             QStringLiteral("1|%1|blob").arg(md5));

    bool ok = false;
    const QByteArray plain = SlAesEnvelope(KEY, 1).decrypt(
        storedBlob(dbPath(), "Devices", QStringLiteral("serial=x'%1'").arg(md5)), &ok);
    QVERIFY(ok);
    SlDeviceRecord back;
    QVERIFY(SlDeviceRecord::fromStoredForm(plain, &back));
    QCOMPARE(back.pin, QStringLiteral("2222"));
    QVERIFY(back == record("SN-0001", "2222"));

    QVERIFY(settings->saveDevice(record("SN-0002", "3333")));
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Devices"), QStringLiteral("2"));
}

void TestSlWatchSettings::deviceRecordStoredForm()
{
    const SlDeviceRecord r = record("SN-9", "0042");
    QByteArray expected;
    QDataStream stream(&expected, QIODevice::WriteOnly);
    stream << r.deviceKey << r.serverKey << r.serial << r.pin << r.description << qint64(77)
           << r.produced << r.activated;
    QCOMPARE(r.toStoredForm().toHex(), expected.toHex());
    // Begins with the device key, not the serial.
    QCOMPARE(r.toStoredForm().left(12).toHex(), QByteArray("0000000800ff10ee20dd30cc"));

    SlDeviceRecord back;
    QVERIFY(SlDeviceRecord::fromStoredForm(expected, &back));
    QVERIFY(back == r);
    QVERIFY(!SlDeviceRecord::fromStoredForm(expected.left(expected.size() - 1), &back));
}

void TestSlWatchSettings::statisticsQueueAcrossRestart()
{
    {
        auto settings = open();
        QVERIFY(settings->pushStatistics(model(1), record("SN-A", "1")));
        QVERIFY(settings->pushStatistics(model(2), record("SN-B", "2")));
    }
    auto settings = open();
    bool ok = false;
    const QByteArray json = SlAesEnvelope(KEY, 1).decrypt(
        storedBlob(dbPath(), "Statistics", "rowid=(SELECT MIN(rowid) FROM Statistics)"), &ok);
    QVERIFY(ok);
    QCOMPARE(json, QJsonDocument(QJsonObject::fromVariantMap(model(1))).toJson());

    QVariantMap m;
    SlDeviceRecord r;
    QVERIFY(settings->peekStatistics(m, r));
    QCOMPARE(m, model(1));
    QVERIFY(r == record("SN-A", "1"));
    // Peeking does not consume.
    QVERIFY(settings->peekStatistics(m, r));
    QCOMPARE(m, model(1));
    QVERIFY(settings->popStatistics());

    QVERIFY(settings->peekStatistics(m, r));
    QCOMPARE(m, model(2));
    QVERIFY(r == record("SN-B", "2"));
    QVERIFY(settings->popStatistics());

    m.clear();
    QVERIFY(!settings->peekStatistics(m, r));
    QVERIFY(m.isEmpty());
    QVERIFY(!settings->popStatistics());
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Statistics"), QStringLiteral("0"));
}

void TestSlWatchSettings::unreadableEntryDoesNotBlock_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("position");
    QTest::newRow("head from another computer") << "foreign" << 0;
    QTest::newRow("head with tampered data") << "data" << 0;
    QTest::newRow("head with tampered record") << "device" << 0;
    QTest::newRow("middle entry from another computer") << "foreign" << 1;
    QTest::newRow("middle entry with tampered data") << "data" << 1;
}

void TestSlWatchSettings::unreadableEntryDoesNotBlock()
{
    QFETCH(QString, damage);
    QFETCH(int, position);

    auto settings = open();
    auto foreign = open(OTHER_KEY);
    QList<int> readable;
    for (int i = 0; i < 3; ++i) {
        if (i == position && damage == "foreign") {
            QVERIFY(foreign->pushStatistics(model(i), record("SN-F", "9")));
            continue;
        }
        QVERIFY(settings->pushStatistics(model(i), record("SN-X", "1")));
        if (i == position) {
            const QString row = QStringLiteral("(SELECT MAX(rowid) FROM Statistics)");
            QCOMPARE(sqlite3(dbPath(), QStringLiteral("UPDATE Statistics SET %1="
                                                      "substr(%1,1,40)||x'00'||substr(%1,42) "
                                                      "WHERE rowid=%2")
                                           .arg(damage, row)),
                     QString());
            continue;
        }
        readable << i;
    }

    QVariantMap m;
    SlDeviceRecord r;
    for (int expected : readable) {
        QVERIFY(settings->peekStatistics(m, r));
        QCOMPARE(m, model(expected));
        QVERIFY(settings->popStatistics());
    }
    QVERIFY(!settings->peekStatistics(m, r));
    QVERIFY(!settings->popStatistics());
    // The unreadable entry was skipped, not dropped.
    QCOMPARE(sqlite3(dbPath(), "SELECT count(*) FROM Statistics"), QStringLiteral("1"));
    if (damage == "foreign") {
        QVERIFY(foreign->peekStatistics(m, r));
        QCOMPARE(m, model(position));
        QCOMPARE(r.serial, QStringLiteral("SN-F"));
    }
}

void TestSlWatchSettings::popRemovesThePeekedEntry()
{
    auto settings = open();
    QVERIFY(settings->pushStatistics(model(1), record("SN-A", "1")));
    QVariantMap m;
    SlDeviceRecord r;
    QVERIFY(settings->peekStatistics(m, r));
    QVERIFY(settings->pushStatistics(model(2), record("SN-A", "1")));
    QVERIFY(settings->popStatistics());
    QVERIFY(settings->peekStatistics(m, r));
    QCOMPARE(m, model(2));

    // The peeked entry vanished meanwhile (another instance took it): pop
    // must not take the next one in its place.
    auto other = open();
    QVERIFY(other->popStatistics());
    QVERIFY(!settings->popStatistics());
    QVERIFY(settings->pushStatistics(model(3), record("SN-A", "1")));
    QVERIFY(settings->popStatistics());
    QVERIFY(!settings->peekStatistics(m, r));
}

void TestSlWatchSettings::legacyFileIsMoved()
{
    QTemporaryDir program;
    const QString legacy = program.filePath("settings.sqlite");
    {
        SlWatchSettings old(program.path(), QString(), KEY);
        QVERIFY(old.writeSetting("k", "kept"));
        QVERIFY(old.pushStatistics(model(1), record("SN", "1")));
    }
    QVERIFY(QFile::exists(legacy));
    const QString config = m_dir->filePath("nested/config");

    SlWatchSettings settings(config, program.path(), KEY);
    QCOMPARE(settings.path(), config + "/settings.sqlite");
    QVERIFY(!QFile::exists(legacy));
    QVERIFY(QFile::exists(settings.path()));
    bool found = false;
    QCOMPARE(settings.readSetting("k", &found), QByteArray("kept"));
    QVERIFY(found);
    QVariantMap m;
    SlDeviceRecord r;
    QVERIFY(settings.peekStatistics(m, r));
    QCOMPARE(sqlite3(settings.path(), "SELECT count(*) FROM sqlite_master WHERE type='table'"),
             QStringLiteral("4"));
}

void TestSlWatchSettings::legacyFileDoesNotReplaceCurrent()
{
    QTemporaryDir program;
    {
        SlWatchSettings old(program.path(), QString(), KEY);
        QVERIFY(old.writeSetting("k", "old"));
    }
    {
        auto current = open();
        QVERIFY(current->writeSetting("k", "current"));
    }
    SlWatchSettings settings(m_dir->path(), program.path(), KEY);
    QCOMPARE(settings.readSetting("k"), QByteArray("current"));
    QVERIFY(QFile::exists(program.filePath("settings.sqlite")));
}

void TestSlWatchSettings::unusableDatabase_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder cannot be created") << "blocked";
    QTest::newRow("corrupt file") << "corrupt";
    QTest::newRow("empty file") << "empty";
}

void TestSlWatchSettings::unusableDatabase()
{
    QFETCH(QString, kind);

    QString folder = m_dir->path();
    QByteArray garbage;
    if (kind == "blocked") {
        // Running as root ignores permissions, so block the path with a file.
        QFile blocker(m_dir->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        folder = blocker.fileName() + "/config";
    } else {
        garbage = kind == "corrupt" ? QByteArray(4096, '\x5a') : QByteArray();
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }

    SlWatchSettings settings(folder, QString(), KEY);
    if (kind == "empty") {
        // An empty file is a database without tables: they are created.
        QVERIFY(settings.writeSetting("k", "v"));
        QCOMPARE(settings.readSetting("k"), QByteArray("v"));
        return;
    }
    bool found = true;
    QVERIFY(!settings.writeSetting("k", "v"));
    QVERIFY(settings.readSetting("k", &found).isEmpty());
    QVERIFY(!found);
    QVERIFY(settings.isFirstRun());
    QVERIFY(!settings.setFirstRun(false));
    QVERIFY(!settings.saveDevice(record("SN", "1")));
    QVERIFY(!settings.pushStatistics(model(1), record("SN", "1")));
    QVariantMap m;
    SlDeviceRecord r;
    QVERIFY(!settings.peekStatistics(m, r));
    QVERIFY(!settings.popStatistics());
    SlUser user;
    QVERIFY(!settings.saveUser(&user));
    QVERIFY(!settings.loadUser(&user));
    if (kind == "corrupt") {
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);
    }
}

void TestSlWatchSettings::lockedByAnotherProcess()
{
    auto settings = open();
    QVERIFY(settings->writeSetting("k", "before"));

    QProcess holder;
    // Interactive mode flushes each answer, so the lock can be awaited.
    holder.start(QStringLiteral("sqlite3"), {QStringLiteral("-interactive"), dbPath()});
    QVERIFY(holder.waitForStarted());
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
    QByteArray answer;
    QTRY_VERIFY((answer += holder.readAllStandardOutput()).contains("locked"));

    bool found = true;
    QVERIFY(!settings->writeSetting("k", "during"));
    settings->readSetting("k", &found);
    QVERIFY(!found);
    QVERIFY(!settings->pushStatistics(model(1), record("SN", "1")));

    holder.write("COMMIT;\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));

    QCOMPARE(settings->readSetting("k", &found), QByteArray("before"));
    QVERIFY(found);
    QVERIFY(settings->writeSetting("k", "after"));
    QCOMPARE(settings->readSetting("k"), QByteArray("after"));
}

void TestSlWatchSettings::withoutStorageKey()
{
    {
        auto settings = open();
        QVERIFY(settings->writeSetting("k", "v"));
    }
    QVERIFY(SlWatchSettings::storageKeyFor(QByteArray()).isEmpty());
    QVERIFY(SlWatchSettings::storageKeyFor(QByteArray(19, 'h')).isEmpty());
    const QByteArray key = SlWatchSettings::storageKeyFor(QByteArray(20, 'h'));
    QCOMPARE(key.size(), 24);
    QVERIFY(key.startsWith(QByteArray(20, 'h')));
    QCOMPARE(SlWatchSettings::storageKeyFor(QByteArray(20, 'g')).mid(20), key.mid(20));

    auto settings = open(QByteArray());
    bool found = true;
    QVERIFY(settings->readSetting("k", &found).isEmpty());
    QVERIFY(!found);
    QVERIFY(!settings->writeSetting("k", "w"));
}

void TestSlWatchSettings::defaultConstruction()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("Corvane");
    QCoreApplication::setApplicationName("Corvane");
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir(config).removeRecursively();

    // The program's folder is the working directory; a database there moves.
    QTemporaryDir program;
    {
        SlWatchSettings old(program.path(), QString(),
                            SlWatchSettings::storageKeyFor(AppInfo::hostKey()));
        old.writeSetting("k", "legacy");
    }
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(program.path()));
    {
        SlWatchSettings settings(AppInfo::hostKey());
        QDir::setCurrent(previous);
        QCOMPARE(settings.path(), config + "/settings.sqlite");
        QVERIFY(settings.isOpen());
        QVERIFY(QFile::exists(settings.path()));
        QVERIFY(!QFile::exists(program.filePath("settings.sqlite")));
        if (AppInfo::hostKey().size() == 20) {
            QCOMPARE(settings.readSetting("k"), QByteArray("legacy"));
            QVERIFY(settings.writeSetting("k", "v"));
            bool found = false;
            QCOMPARE(settings.readSetting("k", &found), QByteArray("v"));
            QVERIFY(found);
        } else {
            QVERIFY(!settings.writeSetting("k", "v"));
        }
    }
    QDir(config).removeRecursively();
}

QTEST_GUILESS_MAIN(TestSlWatchSettings)
#include "tst_slwatchsettings.moc"
