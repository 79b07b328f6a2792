#include "endpoints.h"

#include <QUrl>

namespace {
const char kDefaultOrigin[] = "https://cloud.corvane.com";

QString fromEnvironment(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}
} // namespace

namespace Endpoints {

QString serviceOrigin()
{
    QString origin = fromEnvironment("CORVANE_SERVICE_ORIGIN", QString::fromLatin1(kDefaultOrigin));
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin;
}

QString serviceHostName()
{
    return QUrl(serviceOrigin()).host();
}

QString serviceCaFile()
{
    return qEnvironmentVariable("CORVANE_SERVICE_CA");
}

QString defaultNtpHost()
{
    return fromEnvironment("CORVANE_NTP_HOST", serviceHostName());
}

} // namespace Endpoints
