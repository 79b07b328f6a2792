#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QImage>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include "storage/sldevicerecord.h"

// The program's persistent store: one SQLite file per user holding named
// settings, the registered gadgets and the queue of statistics waiting for
// upload. Every stored value is encrypted with a key bound to this computer.
//
// Writes return whether the value reached the database; reads report "not
// found" for anything missing, unreadable or written with another key.
class SlWatchSettings : public QObject
{
    Q_OBJECT

public:
    // The application version as stored under "version".
    struct Version
    {
        int major = 0;
        int minor = 0;
        int patch = 0;
        bool operator==(const Version &o) const
        {
            return major == o.major && minor == o.minor && patch == o.patch;
        }
        bool operator!=(const Version &o) const { return !(*this == o); }
    };

    static const char FILE_NAME[];

    // The per-user configuration location, the working directory as the
    // legacy location, and the storage key built from this machine's host key.
    explicit SlWatchSettings(const QByteArray &hostKey, QObject *parent = nullptr);
    // Opens "settings.sqlite" in configFolder, first moving one found in
    // legacyFolder (if not empty) there, and encrypts with storageKey.
    SlWatchSettings(const QString &configFolder, const QString &legacyFolder,
                    const QByteArray &storageKey, QObject *parent = nullptr);
    ~SlWatchSettings() override;

    // The 24-byte AES key: the 20-byte host key followed by the program's
    // fixed constant. Empty when hostKey is not 20 bytes long.
    static QByteArray storageKeyFor(const QByteArray &hostKey);

    QString path() const { return m_path; }
    bool isOpen() const;

    QByteArray readSetting(const QString &name, bool *found = nullptr);
    bool writeSetting(const QString &name, const QByteArray &value);

    // The user keeps its own stored form (its QDataStream operators); storage
    // only keeps the bytes.
    template <class User> bool loadUser(User *user)
    {
        QByteArray data;
        if (!user || !loadUserData(&data))
            return false;
        QDataStream stream(data);
        stream >> *user;
        return true;
    }
    template <class User> bool saveUser(const User *user)
    {
        if (!user)
            return false;
        QByteArray data;
        QDataStream stream(&data, QIODevice::WriteOnly);
        stream << *user;
        return saveUserData(data);
    }
    bool loadUserData(QByteArray *data);
    bool saveUserData(const QByteArray &data);

    Version version(bool *found = nullptr);
    bool setVersion(const Version &version);

    bool isFirstRun();
    bool setFirstRun(bool flag);

    QImage bannerImage(bool *found = nullptr);
    bool setBannerImage(const QByteArray &data);
    QUrl bannerImageLink(bool *found = nullptr);
    bool setBannerImageLink(const QUrl &url);
    QUrl bannerLink(bool *found = nullptr);
    bool setBannerLink(const QUrl &url);

    bool saveDevice(const SlDeviceRecord &record);

    // The statistics queue. peek returns the oldest entry this computer can
    // read; entries it cannot read stay in the table but never block the
    // ones behind them. pop removes the entry the last peek returned (or,
    // without a peek, the oldest readable one).
    bool pushStatistics(const QVariantMap &model, const SlDeviceRecord &record);
    bool peekStatistics(QVariantMap &model, SlDeviceRecord &record);
    bool popStatistics();

private:
    void open(const QString &configFolder, const QString &legacyFolder);
    static void keepPrivate(const QString &folder, const QString &path);
    bool createSchema();
    QByteArray encrypt(const QByteArray &plain, bool *ok) const;
    QByteArray decrypt(const QByteArray &stored, bool *ok) const;
    qint64 findReadableStatistics(QVariantMap *model, SlDeviceRecord *record, QByteArray *stored);

    QString m_path;
    QSqlDatabase m_db;
    QString m_connectionName;
    QByteArray m_storageKey;
    qint64 m_peekedRow = -1;
    // The stored (encrypted) data of the peeked entry: SQLite hands a freed rowid to the next
    // entry once the table was empty, so the row number alone could name a newer entry.
    QByteArray m_peekedData;
};
