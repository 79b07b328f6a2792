#include "slfirmwarever.h"

#include <QDate>

#include <tuple>

SlFirmwareVer::SlFirmwareVer(int year, int month, int day)
    : year(year)
    , month(month)
    , day(day)
{}

SlFirmwareVer SlFirmwareVer::fromText(const QString &text)
{
    const QDate date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
    if (!date.isValid())
        return SlFirmwareVer();
    return SlFirmwareVer(date.year(), date.month(), date.day());
}

SlFirmwareVer SlFirmwareVer::fromNumber(quint32 number)
{
    return fromText(QString::number(number));
}

bool SlFirmwareVer::operator<(const SlFirmwareVer &other) const
{
    return std::tie(year, month, day) < std::tie(other.year, other.month, other.day);
}

bool SlFirmwareVer::operator==(const SlFirmwareVer &other) const
{
    return year == other.year && month == other.month && day == other.day;
}
