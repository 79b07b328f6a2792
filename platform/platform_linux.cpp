#include "platform.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// An Exec argument in double quotes: inside the quotes ", `, $ and \ take a backslash; the
// value as a whole then follows the string escapes, which double every backslash again, and a
// literal % is written %%.
QString quotedExec(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    QString value;
    for (const QChar c : quoted) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else if (c == QLatin1Char('%'))
            value += QStringLiteral("%%");
        else
            value += c;
    }
    return value;
}

// Whether the entry's main group says Hidden=true: the entry then counts as deleted.
bool entryIsHidden(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const int equals = line.indexOf('=');
        if (inMainGroup && equals > 0 && line.left(equals).trimmed() == "Hidden")
            return line.mid(equals + 1).trimmed() == "true";
    }
    return false;
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

QString userHostIdLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/host-id");
}

QByteArray hostKey()
{
    QByteArray key;
    const QString overridePath = qEnvironmentVariable("CORVANE_MACHINE_ID_FILE");
    if (!overridePath.isEmpty()) {
        key = hostKeyFromMachineIdFile(overridePath);
    } else {
        key = hostKeyFromMachineIdFile(QStringLiteral("/etc/machine-id"));
        if (key.isEmpty())
            key = hostKeyFromMachineIdFile(QStringLiteral("/var/lib/dbus/machine-id"));
    }
    if (!key.isEmpty())
        return key;

    // Without a machine id nothing could be stored. A random id of this user's own, readable
    // only by the user, serves instead; values stored with it are this user's alone anyway.
    const QString path = userHostIdLocation();
    const QByteArray native = QFile::encodeName(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        QByteArray id = QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                        QByteArray::number(QRandomGenerator::system()->generate64(), 16);
        id = id.rightJustified(32, '0') + '\n';
        const bool written = ::write(fd, id.constData(), size_t(id.size())) == id.size();
        ::close(fd);
        if (!written)
            QFile::remove(path);
    }
    key = hostKeyFromMachineIdFile(path);
    static QAtomicInt said;
    if (said.testAndSetRelaxed(0, 1))
        qDebug().noquote() << (key.isEmpty() ? "hostKey: no machine id and no per-user id in"
                                             : "hostKey: no machine id, using the per-user id in")
                           << path;
    return key;
}

QString privateRuntimeFolder()
{
    // Qt checks that the folder belongs to this user and forces 0700 on it.
    const QString standard = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!standard.isEmpty())
        return standard;
    // Refused (someone else made the folder of that name): a name with the user id in the
    // temporary folder, trusted only when it is this user's own and closed to everyone else.
    const QString folder = QDir::tempPath() + QStringLiteral("/corvane-%1").arg(::geteuid());
    const QByteArray native = QFile::encodeName(folder);
    ::mkdir(native.constData(), 0700);
    struct stat info = {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        return {};
    return folder;
}

QString userLocalServerName(const QString &name)
{
    const QString folder = privateRuntimeFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
}

qintptr lockFile(const QString &path, bool *busy, QString *error)
{
    if (busy)
        *busy = false;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // A lock of the open file, not of the process: a second holder inside the same process is
    // refused too, and closing the descriptor (or dying) is what frees it.
    if (::fcntl(fd, F_OFD_SETLK, &lock) == -1) {
        const int failure = errno;
        ::close(fd);
        if (failure == EAGAIN || failure == EACCES) {
            if (busy)
                *busy = true;
        } else if (error) {
            *error = QString::fromLocal8Bit(std::strerror(failure));
        }
        return -1;
    }
    return fd;
}

void unlockFile(qintptr handle)
{
    if (handle >= 0)
        ::close(int(handle));
}

QString autostartLocation()
{
    return autostartDir() + QLatin1Char('/') + QLatin1String(kEntryFileName);
}

bool isAutorun()
{
    const QString path = autostartLocation();
    return QFileInfo::exists(path) && !entryIsHidden(path);
}

QString autostartEntry(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Corvane\n"
                          "Comment=Companion for the TR-31 watch\n"
                          "Exec=%1 --hidden\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quotedExec(program));
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
    file.write(autostartEntry(program).toUtf8());
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
