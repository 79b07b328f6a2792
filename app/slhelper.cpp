#include "slhelper.h"

SlHelper::SlHelper(QObject *parent)
    : QObject(parent)
{}

QVariant SlHelper::digitSplitThousand(QVariant value)
{
    // Purely textual: signs and decimal points are grouped like digits.
    const QString text = value.toString();
    const int n = text.size();
    QString result;
    result.reserve(n + n / 3);
    for (int i = 0; i < n; ++i) {
        const int k = n - 1 - i;
        result.append(text.at(i));
        if (k != 0 && k % 3 == 0)
            result.append(QLatin1Char('.'));
    }
    return result;
}

QVariant SlHelper::fontSizeScale(QVariant value)
{
    return value.toFloat();
}

bool SlHelper::isDateValid(QDateTime datetime)
{
    return datetime.isValid();
}
