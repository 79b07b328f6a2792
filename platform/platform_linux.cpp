#include "platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char kEntryFileName[] = "com.corvane.watch.desktop";

QString autostartDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

// Desktop entry values escape backslashes; the path is quoted so that blanks in
// it survive the launcher's word splitting.
QString quotedExec(const QString &path)
{
    QString escaped = path;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    escaped.replace(QLatin1Char('`'), QStringLiteral("\\`"));
    escaped.replace(QLatin1Char('$'), QStringLiteral("\\$"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}
} // namespace

namespace Platform {

QByteArray hostKeyFromMachineIdFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray id = file.read(512);
    while (id.endsWith('\n') || id.endsWith('\r'))
        id.chop(1);
    if (id.isEmpty())
        return {};
    // The Windows registry read counts the string's terminator; hashing it here
    // too keeps the key's derivation identical on both systems.
    id.append('\0');
    return QCryptographicHash::hash(id, QCryptographicHash::Sha1);
}

QByteArray hostKey()
{
    const QString overridePath = qEnvironmentVariable("CORVANE_MACHINE_ID_FILE");
    if (!overridePath.isEmpty())
        return hostKeyFromMachineIdFile(overridePath);
    QByteArray key = hostKeyFromMachineIdFile(QStringLiteral("/etc/machine-id"));
    if (key.isEmpty())
        key = hostKeyFromMachineIdFile(QStringLiteral("/var/lib/dbus/machine-id"));
    return key;
}

QString autostartLocation()
{
    return autostartDir() + QLatin1Char('/') + QLatin1String(kEntryFileName);
}

bool isAutorun()
{
    return QFileInfo::exists(autostartLocation());
}

bool setAutorun(bool on)
{
    const QString path = autostartLocation();
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);

    if (!QDir().mkpath(autostartDir()))
        return false;
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Corvane\n"
                                         "Comment=Companion for the TR-31 watch\n"
                                         "Exec=%1 --hidden\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quotedExec(program));
    file.write(entry.toUtf8());
    return file.commit();
}

} // namespace Platform

namespace {
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
}
} // namespace

namespace Platform {

void quitOnTerminationRequest()
{
    if (g_signalPipe[0] >= 0 || !QCoreApplication::instance())
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier =
        new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool startDetachedElevated(const QString &program, const QStringList &arguments,
                           const QString &workingDirectory)
{
    // Only the system's own pkexec, never one found first on a user-controlled PATH.
    const QString pkexec = QStringLiteral("/usr/bin/pkexec");
    if (!QFileInfo(pkexec).isExecutable())
        return false;
    return QProcess::startDetached(pkexec, QStringList{program} + arguments, workingDirectory);
}

} // namespace Platform
