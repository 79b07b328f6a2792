#include "platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QSettings>

#include <shellapi.h>
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

bool startDetachedElevated(const QString &program, const QStringList &arguments,
                           const QString &workingDirectory)
{
    const QString parameters = arguments.join(QLatin1Char(' '));
    const HINSTANCE result = ShellExecuteW(
        nullptr, L"runas", reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(program).utf16()),
        reinterpret_cast<LPCWSTR>(parameters.utf16()),
        reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(workingDirectory).utf16()), 0);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace Platform
