#include "slwatchsettings.h"

#include "crypto/slaesenvelope.h"

#include <QAtomicInt>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

const char SlWatchSettings::FILE_NAME[] = "settings.sqlite";

namespace {

// Completes the host key to an AES-192 key. It must never change: every value
// stored so far was encrypted with it.
const char STORAGE_KEY_CONSTANT[4] = {'\x5c', '\x1e', '\xa7', '\x3d'};
constexpr int HOST_KEY_SIZE = 20;

// Waiting this long for another process's lock keeps the program responsive
// while still riding out a short write by someone else.
const char CONNECT_OPTIONS[] = "QSQLITE_BUSY_TIMEOUT=1000";

const char *const SCHEMA[] = {
    "CREATE  TABLE \"main\".\"Settings\"   (\"name\" VARCHAR UNIQUE , \"data\" BLOB)",
    "CREATE  TABLE \"main\".\"Devices\"    (\"serial\" CHAR(16), \"data\" BLOB)",
    "CREATE  TABLE \"main\".\"Statistics\" (\"device\" BLOB, \"data\" BLOB)",
    "CREATE  TABLE \"main\".\"Params\" (\"device_id\" CHAR(16), \"device\" BLOB, \"flag\" BOOL, "
    "\"data\" BLOB)",
};

QAtomicInt g_connectionCounter;

bool prepare(QSqlQuery &query, const QString &statement, const char *operation)
{
    if (!query.driver() || !query.driver()->isOpen()) {
        qDebug() << operation << "failed: the database is not open";
        return false;
    }
    if (query.prepare(statement))
        return true;
    qDebug() << operation << "prepare failed:" << query.lastError().text();
    return false;
}

bool execute(QSqlQuery &query, const char *operation)
{
    if (query.exec())
        return true;
    qDebug() << operation << "failed:" << query.lastError().text();
    return false;
}

} // namespace

SlWatchSettings::SlWatchSettings(const QByteArray &hostKey, QObject *parent)
    : SlWatchSettings(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation),
                      QDir::currentPath(), storageKeyFor(hostKey), parent)
{}

SlWatchSettings::SlWatchSettings(const QString &configFolder, const QString &legacyFolder,
                                 const QByteArray &storageKey, QObject *parent)
    : QObject(parent)
    , m_connectionName(
          QStringLiteral("corvane-settings-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1)))
    , m_storageKey(storageKey)
{
    if (m_storageKey.isEmpty())
        qDebug() << "SlWatchSettings: no storage key, values can be neither stored nor read";
    open(configFolder, legacyFolder);
}

SlWatchSettings::~SlWatchSettings()
{
    if (m_db.isOpen())
        m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

QByteArray SlWatchSettings::storageKeyFor(const QByteArray &hostKey)
{
    if (hostKey.size() != HOST_KEY_SIZE)
        return QByteArray();
    return hostKey + QByteArray(STORAGE_KEY_CONSTANT, sizeof(STORAGE_KEY_CONSTANT));
}

bool SlWatchSettings::isOpen() const
{
    return m_db.isOpen();
}

void SlWatchSettings::open(const QString &configFolder, const QString &legacyFolder)
{
    QDir folder(configFolder);
    if (!folder.exists() && !folder.mkpath(QStringLiteral(".")))
        qDebug() << "SlWatchSettings: cannot create" << configFolder;
    m_path = folder.absoluteFilePath(QString::fromLatin1(FILE_NAME));

    if (!legacyFolder.isEmpty()) {
        const QString legacy = QDir(legacyFolder).absoluteFilePath(QString::fromLatin1(FILE_NAME));
        if (QFileInfo(legacy).absoluteFilePath() != QFileInfo(m_path).absoluteFilePath() &&
            QFile::exists(legacy) && !QFile::rename(legacy, m_path)) {
            qDebug() << "SlWatchSettings: cannot move" << legacy << "to" << m_path;
        }
    }

    const bool existed = QFile::exists(m_path);
    keepPrivate(folder.absolutePath(), m_path);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(QString::fromLatin1(CONNECT_OPTIONS));
    const bool opened = m_db.open();
    qDebug() << "SlWatchSettings: open" << m_path << opened;
    if (!opened) {
        qDebug() << "SlWatchSettings:" << m_db.lastError().text();
        return;
    }
    // A file left empty by an interrupted first run has no tables either.
    if (!existed || m_db.tables().isEmpty())
        createSchema();
}

void SlWatchSettings::keepPrivate(const QString &folder, const QString &path)
{
    // The values are encrypted with a key other local users could work out, so the files
    // themselves must stay closed to them. The folder goes first: once it is closed, nobody else
    // can open a file inside it, even one that is not yet tightened.
    const QFileDevice::Permissions folderOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                                QFileDevice::WriteUser | QFileDevice::ExeUser;
    const QFileDevice::Permissions fileOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ReadUser | QFileDevice::WriteUser;
    if (!QFile::setPermissions(folder, folderOnly))
        qDebug() << "SlWatchSettings: cannot restrict" << folder;
    if (!QFile::exists(path)) {
        // SQLite would make it readable by all; an empty file is an empty database to it.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            qDebug() << "SlWatchSettings: cannot create" << path;
    }
    // SQLite gives its journal the database's permissions, but one left by an earlier version
    // keeps its own.
    for (const char *suffix : {"", "-journal", "-wal", "-shm"}) {
        const QString file = path + QLatin1String(suffix);
        if (QFile::exists(file) && !QFile::setPermissions(file, fileOnly))
            qDebug() << "SlWatchSettings: cannot restrict" << file;
    }
}

bool SlWatchSettings::createSchema()
{
    if (!m_db.transaction()) {
        qDebug() << "SlWatchSettings: cannot create the tables:" << m_db.lastError().text();
        return false;
    }
    for (const char *statement : SCHEMA) {
        QSqlQuery query(m_db);
        if (!query.exec(QString::fromLatin1(statement))) {
            qDebug() << "SlWatchSettings: cannot create the tables:" << query.lastError().text();
            m_db.rollback();
            return false;
        }
    }
    if (!m_db.commit()) {
        qDebug() << "SlWatchSettings: cannot create the tables:" << m_db.lastError().text();
        m_db.rollback();
        return false;
    }
    return true;
}

QByteArray SlWatchSettings::encrypt(const QByteArray &plain, bool *ok) const
{
    if (m_storageKey.isEmpty()) {
        *ok = false;
        return QByteArray();
    }
    return SlAesEnvelope(m_storageKey, SlAesEnvelope::MODE_DIGEST).encrypt(plain, ok);
}

QByteArray SlWatchSettings::decrypt(const QByteArray &stored, bool *ok) const
{
    if (m_storageKey.isEmpty()) {
        *ok = false;
        return QByteArray();
    }
    return SlAesEnvelope(m_storageKey, SlAesEnvelope::MODE_DIGEST).decrypt(stored, ok);
}

QByteArray SlWatchSettings::readSetting(const QString &name, bool *found)
{
    if (found)
        *found = false;
    QSqlQuery query(m_db);
    if (!prepare(query, QStringLiteral("SELECT data FROM Settings WHERE name=(?)"),
                 "SlWatchSettings::readSetting"))
        return QByteArray();
    query.addBindValue(name);
    if (!execute(query, "SlWatchSettings::readSetting") || !query.next())
        return QByteArray();
    bool ok = false;
    const QByteArray value = decrypt(query.value(0).toByteArray(), &ok);
    if (!ok) {
        qDebug() << "SlWatchSettings::readSetting: cannot decrypt" << name;
        return QByteArray();
    }
    if (found)
        *found = true;
    return value;
}

bool SlWatchSettings::writeSetting(const QString &name, const QByteArray &value)
{
    bool encrypted = false;
    const QByteArray blob = encrypt(value, &encrypted);
    if (!encrypted) {
        qDebug() << "SlWatchSettings::writeSetting:" << name << "cannot be encrypted";
        return false;
    }
    // A write usually replaces a value, so it is one UPDATE; only a name not
    // stored yet takes a second statement to insert it.
    QSqlQuery update(m_db);
    if (!prepare(update, QStringLiteral("UPDATE Settings SET data=(?) WHERE name=(?)"),
                 "SlWatchSettings::writeSetting"))
        return false;
    update.addBindValue(blob);
    update.addBindValue(name);
    bool written = execute(update, "SlWatchSettings::writeSetting");
    if (written && update.numRowsAffected() == 0) {
        QSqlQuery insert(m_db);
        if (!prepare(insert, QStringLiteral("INSERT INTO Settings (name, data) VALUES(?, ?)"),
                     "SlWatchSettings::writeSetting"))
            return false;
        insert.addBindValue(name);
        insert.addBindValue(blob);
        written = execute(insert, "SlWatchSettings::writeSetting");
    }
    qDebug() << "SlWatchSettings::writeSetting" << name << written;
    return written;
}

bool SlWatchSettings::loadUserData(QByteArray *data)
{
    bool found = false;
    const QByteArray stored = readSetting(QStringLiteral("user"), &found);
    if (!found || !data)
        return false;
    *data = stored;
    return true;
}

bool SlWatchSettings::saveUserData(const QByteArray &data)
{
    return writeSetting(QStringLiteral("user"), data);
}

SlWatchSettings::Version SlWatchSettings::version(bool *found)
{
    if (found)
        *found = false;
    bool stored = false;
    const QByteArray data = readSetting(QStringLiteral("version"), &stored);
    if (!stored)
        return Version();
    QDataStream stream(data);
    qint32 major = 0;
    qint32 minor = 0;
    qint32 patch = 0;
    stream >> major >> minor >> patch;
    if (stream.status() != QDataStream::Ok) {
        qDebug() << "SlWatchSettings::version: stored version is incomplete";
        return Version();
    }
    if (found)
        *found = true;
    Version v;
    v.major = major;
    v.minor = minor;
    v.patch = patch;
    return v;
}

bool SlWatchSettings::setVersion(const Version &version)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << qint32(version.major) << qint32(version.minor) << qint32(version.patch);
    return writeSetting(QStringLiteral("version"), data);
}

bool SlWatchSettings::isFirstRun()
{
    bool found = false;
    const QByteArray data = readSetting(QStringLiteral("isFirstRunFlag"), &found);
    if (!found || data.isEmpty())
        return true;
    return data.at(0) != 0;
}

bool SlWatchSettings::setFirstRun(bool flag)
{
    return writeSetting(QStringLiteral("isFirstRunFlag"), QByteArray(1, flag ? '\1' : '\0'));
}

QImage SlWatchSettings::bannerImage(bool *found)
{
    return QImage::fromData(readSetting(QStringLiteral("banner_image"), found));
}

bool SlWatchSettings::setBannerImage(const QByteArray &data)
{
    return writeSetting(QStringLiteral("banner_image"), data);
}

QUrl SlWatchSettings::bannerImageLink(bool *found)
{
    return QUrl::fromEncoded(readSetting(QStringLiteral("banner_image_link"), found));
}

bool SlWatchSettings::setBannerImageLink(const QUrl &url)
{
    return writeSetting(QStringLiteral("banner_image_link"), url.toEncoded(QUrl::FullyEncoded));
}

QUrl SlWatchSettings::bannerLink(bool *found)
{
    return QUrl::fromEncoded(readSetting(QStringLiteral("banner_link"), found));
}

bool SlWatchSettings::setBannerLink(const QUrl &url)
{
    return writeSetting(QStringLiteral("banner_link"), url.toEncoded(QUrl::FullyEncoded));
}

bool SlWatchSettings::saveDevice(const SlDeviceRecord &record)
{
    const QByteArray key =
        QCryptographicHash::hash(record.serial.toLatin1(), QCryptographicHash::Md5);
    bool encrypted = false;
    const QByteArray blob = encrypt(record.toStoredForm(), &encrypted);
    if (!encrypted) {
        qDebug() << "SlWatchSettings::saveDevice: record cannot be encrypted";
        return false;
    }

    QSqlQuery select(m_db);
    if (!prepare(select, QStringLiteral("SELECT rowid,data FROM Devices WHERE serial=(?)"),
                 "SlWatchSettings::saveDevice"))
        return false;
    select.addBindValue(key);
    if (!execute(select, "SlWatchSettings::saveDevice"))
        return false;
    const bool exists = select.next();
    const qint64 row = exists ? select.value(QStringLiteral("rowid")).toLongLong() : -1;
    select.finish();

    QSqlQuery write(m_db);
    if (exists) {
        if (!prepare(write, QStringLiteral("UPDATE Devices set data=(?) WHERE rowid=(?)"),
                     "SlWatchSettings::saveDevice"))
            return false;
        write.addBindValue(blob);
        write.addBindValue(row);
    } else {
        if (!prepare(write, QStringLiteral("INSERT INTO Devices (serial,data) VALUES (?,?)"),
                     "SlWatchSettings::saveDevice"))
            return false;
        write.addBindValue(key);
        write.addBindValue(blob);
    }
    return execute(write, "SlWatchSettings::saveDevice");
}

bool SlWatchSettings::pushStatistics(const QVariantMap &model, const SlDeviceRecord &record)
{
    bool deviceOk = false;
    bool dataOk = false;
    const QByteArray device = encrypt(record.toStoredForm(), &deviceOk);
    const QByteArray data =
        encrypt(QJsonDocument(QJsonObject::fromVariantMap(model)).toJson(), &dataOk);
    if (!deviceOk || !dataOk) {
        qDebug() << "SlWatchSettings::pushStatistics: entry cannot be encrypted";
        return false;
    }
    QSqlQuery query(m_db);
    if (!prepare(query, QStringLiteral("INSERT INTO Statistics (device, data) VALUES (?,?)"),
                 "SlWatchSettings::pushStatistics"))
        return false;
    query.addBindValue(device);
    query.addBindValue(data);
    return execute(query, "SlWatchSettings::pushStatistics");
}

qint64 SlWatchSettings::findReadableStatistics(QVariantMap *model, SlDeviceRecord *record,
                                               QByteArray *stored)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!prepare(query,
                 QStringLiteral("SELECT rowid, device, data FROM Statistics ORDER BY rowid ASC"),
                 "SlWatchSettings::peekStatistics") ||
        !execute(query, "SlWatchSettings::peekStatistics"))
        return -1;
    while (query.next()) {
        const qint64 row = query.value(0).toLongLong();
        bool deviceOk = false;
        bool dataOk = false;
        const QByteArray device = decrypt(query.value(1).toByteArray(), &deviceOk);
        const QByteArray data = decrypt(query.value(2).toByteArray(), &dataOk);
        SlDeviceRecord readRecord;
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(data, &error);
        if (!deviceOk || !dataOk || !SlDeviceRecord::fromStoredForm(device, &readRecord) ||
            error.error != QJsonParseError::NoError || !json.isObject()) {
            // Left in place: it may become readable again (the same key) and
            // must not hold up the entries queued behind it.
            qDebug() << "SlWatchSettings::peekStatistics: skipping unreadable entry" << row;
            continue;
        }
        if (model)
            *model = json.object().toVariantMap();
        if (record)
            *record = readRecord;
        if (stored)
            *stored = query.value(2).toByteArray();
        return row;
    }
    return -1;
}

bool SlWatchSettings::peekStatistics(QVariantMap &model, SlDeviceRecord &record)
{
    m_peekedRow = findReadableStatistics(&model, &record, &m_peekedData);
    return m_peekedRow >= 0;
}

bool SlWatchSettings::popStatistics()
{
    QByteArray stored = m_peekedData;
    const qint64 row =
        m_peekedRow >= 0 ? m_peekedRow : findReadableStatistics(nullptr, nullptr, &stored);
    m_peekedRow = -1;
    m_peekedData.clear();
    if (row < 0)
        return false;
    QSqlQuery query(m_db);
    if (!prepare(query, QStringLiteral("DELETE FROM Statistics WHERE rowid = (?) AND data = (?)"),
                 "SlWatchSettings::popStatistics"))
        return false;
    query.addBindValue(row);
    query.addBindValue(stored);
    if (!execute(query, "SlWatchSettings::popStatistics"))
        return false;
    return query.numRowsAffected() == 1;
}
