#include "appinfo.h"

#include "model/slproperty.h"
#include "platform/platform.h"

#include <QUrl>

namespace {
// Both written once while start-up parses the options, read-only afterwards.
bool g_serviceMode = false;
QString g_logFileName;

// From the project's one version number, which the package carries too.
constexpr int kMajor = CORVANE_VERSION_MAJOR;
constexpr int kMinor = CORVANE_VERSION_MINOR;
constexpr int kPatch = CORVANE_VERSION_PATCH;
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
    return g_logFileName;
}

void setLogFileName(const QString &name)
{
    g_logFileName = name;
}

QString userFilePath(const QString &name)
{
    // The same rule as for the property files.
    return name.isEmpty() ? name : SlProperty::localPath(QUrl::fromLocalFile(name));
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
