#include "appinfo.h"

#include "platform/platform.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
bool g_serviceMode = false;
// Guards the log file name: the log handler reads it from any thread that logs.
QMutex g_nameMutex;
QString g_logFileName;

constexpr int kMajor = 1;
constexpr int kMinor = 3;
constexpr int kPatch = 9;
} // namespace

namespace AppInfo {

bool isServiceMode()
{
    return g_serviceMode;
}

void setServiceMode(bool on)
{
    g_serviceMode = on;
}

QString logFileName()
{
    QMutexLocker lock(&g_nameMutex);
    return g_logFileName;
}

void setLogFileName(const QString &name)
{
    QMutexLocker lock(&g_nameMutex);
    g_logFileName = name;
}

QByteArray hostKey()
{
    return Platform::hostKey();
}

QString hostKeyHex()
{
    return QString::fromLatin1(hostKey().toHex());
}

QString currentVersionText()
{
    return QStringLiteral("%1.%2.%3").arg(kMajor).arg(kMinor).arg(kPatch);
}

int currentVersionMajor()
{
    return kMajor;
}

int currentVersionMinor()
{
    return kMinor;
}

int currentVersionPatch()
{
    return kPatch;
}

} // namespace AppInfo
