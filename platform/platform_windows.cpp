#include "platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

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

QString userHostIdLocation()
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

QString privateRuntimeFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return !folder.isEmpty() && QDir().mkpath(folder) ? folder : QString();
}

QString userLocalServerName(const QString &name)
{
    // Pipe names are shared by the whole machine.
    return name + QLatin1Char('-') + qEnvironmentVariable("USERNAME");
}

qintptr lockFile(const QString &path, bool *busy, QString *error)
{
    if (busy)
        *busy = false;
    // No sharing: a second opener is refused until this handle closes, which the system does
    // when the process ends.
    const HANDLE handle = CreateFileW(
        reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()),
        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        if (failure == ERROR_SHARING_VIOLATION) {
            if (busy)
                *busy = true;
        } else if (error) {
            *error = QStringLiteral("error %1").arg(failure);
        }
        return -1;
    }
    return reinterpret_cast<qintptr>(handle);
}

void unlockFile(qintptr handle)
{
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
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

QString autostartEntry(const QString &program)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(program) + QStringLiteral("\" --hidden");
}

bool setAutorun(bool on)
{
    QSettings settings(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    if (on) {
        settings.setValue(QString::fromLatin1(kValueName),
                          autostartEntry(QCoreApplication::applicationFilePath()));
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
