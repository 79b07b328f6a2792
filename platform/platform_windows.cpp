#include "platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QSettings>

#include <windows.h>

namespace {
const char kRunKey[] = "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kValueName[] = "com.corvane.watch";
} // namespace

namespace Platform {

QByteArray hostKeyFromMachineIdFile(const QString &)
{
    return {};
}

QByteArray hostKey()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Cryptography", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return {};
    char buffer[512] = {};
    DWORD size = sizeof(buffer);
    const LONG rc = RegQueryValueExA(key, "MachineGuid", nullptr, nullptr,
                                     reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return {};
    // The byte count includes the string's terminating zero, and so does the hash.
    return QCryptographicHash::hash(QByteArray(buffer, int(size)), QCryptographicHash::Sha1);
}

QString autostartLocation()
{
    return QString::fromLatin1(kRunKey);
}

bool isAutorun()
{
    QSettings settings(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    return settings.contains(QString::fromLatin1(kValueName));
}

bool setAutorun(bool on)
{
    QSettings settings(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    if (on) {
        const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
        settings.setValue(QString::fromLatin1(kValueName),
                          QLatin1Char('"') + program + QStringLiteral("\" --hidden"));
    } else if (settings.contains(QString::fromLatin1(kValueName))) {
        settings.remove(QString::fromLatin1(kValueName));
    }
    settings.sync();
    return settings.contains(QString::fromLatin1(kValueName)) == on;
}

} // namespace Platform

namespace Platform {

void quitOnTerminationRequest()
{
    // Windows ends a session through window messages, which Qt already turns
    // into a quit of the application.
}

} // namespace Platform
