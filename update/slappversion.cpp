#include "slappversion.h"

#include <QStringList>

#include <tuple>

SlAppVersion::SlAppVersion(int major, int minor, int patch)
    : major(quint8(major))
    , minor(quint8(minor))
    , patch(quint8(patch))
{}

SlAppVersion SlAppVersion::fromText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return SlAppVersion();
    int numbers[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        numbers[i] = parts.at(i).toInt(&ok, 10);
        if (!ok)
            return SlAppVersion();
    }
    // Each part is kept in one byte, as the service's numbers are.
    return SlAppVersion(numbers[0] & 0xff, numbers[1] & 0xff, numbers[2] & 0xff);
}

SlAppVersion SlAppVersion::current()
{
    return fromText(QStringLiteral(CORVANE_VERSION_STRING));
}

QString SlAppVersion::toText() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

bool SlAppVersion::operator<(const SlAppVersion &other) const
{
    return std::tie(major, minor, patch) < std::tie(other.major, other.minor, other.patch);
}

bool SlAppVersion::operator==(const SlAppVersion &other) const
{
    return major == other.major && minor == other.minor && patch == other.patch;
}
