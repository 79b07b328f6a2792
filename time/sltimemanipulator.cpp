#include "sltimemanipulator.h"

namespace {
enum Field { Second, Minute, Hour, Day, Month, Year };

// One decimal digit step without carry; the tens digit wraps from 0 to 9 on the
// way down, which only the year's range can take.
int stepDigit(int value, int operation)
{
    switch (operation) {
    case 1: // units up
        return value % 10 < 9 ? value + 1 : value;
    case 2: // units down
        return value % 10 > 0 ? value - 1 : value;
    case 3: // tens up
        return value % 100 < 90 ? value + 10 : value;
    default: // tens down
        return (value % 100) / 10 > 0 ? value - 10 : value + 90;
    }
}

// The date with the day lowered to the month's last when it does not exist.
QDate clampedDate(int year, int month, int day)
{
    const int last = QDate(year, month, 1).daysInMonth();
    return QDate(year, month, qMin(day, last));
}
} // namespace

SlTimeManipulator::SlTimeManipulator(QObject *parent)
    : QObject(parent)
{}

QDateTime SlTimeManipulator::dateTime() const
{
    return m_dateTime;
}

void SlTimeManipulator::manipulate(int action)
{
    if (action < INCREMENT_SECOND_UNITS || action > DECREMENT_YEAR_TENS)
        return;
    // An unset date-time has no digits to step.
    if (!m_dateTime.isValid())
        return;

    const auto field = Field((action - 1) / 4);
    const int operation = action % 4 == 0 ? 4 : action % 4;
    const QDate date = m_dateTime.date();
    const QTime time = m_dateTime.time();

    QDateTime result = m_dateTime;
    switch (field) {
    case Second: {
        const int v = stepDigit(time.second(), operation);
        if (v < 0 || v > 59)
            return;
        result.setTime(QTime(time.hour(), time.minute(), v, time.msec()));
        break;
    }
    case Minute: {
        const int v = stepDigit(time.minute(), operation);
        if (v < 0 || v > 59)
            return;
        result.setTime(QTime(time.hour(), v, time.second(), time.msec()));
        break;
    }
    case Hour: {
        const int v = stepDigit(time.hour(), operation);
        if (v < 0 || v > 23)
            return;
        result.setTime(QTime(v, time.minute(), time.second(), time.msec()));
        break;
    }
    case Day: {
        const int v = stepDigit(date.day(), operation);
        if (v < 1 || v > date.daysInMonth())
            return;
        result.setDate(QDate(date.year(), date.month(), v));
        break;
    }
    case Month: {
        const int v = stepDigit(date.month(), operation);
        if (v < 1 || v > 12)
            return;
        result.setDate(clampedDate(date.year(), v, date.day()));
        break;
    }
    case Year: {
        const int v = stepDigit(date.year(), operation);
        if (v < 2000 || v > 2099)
            return;
        // 29 February into a common year becomes the 28th, as a month step does.
        result.setDate(clampedDate(v, date.month(), date.day()));
        break;
    }
    }
    if (!result.isValid())
        return;
    m_dateTime = result;
    emit dateTimeUpdated(m_dateTime);
}

bool SlTimeManipulator::isDateTimeValid(const QDateTime &dateTime) const
{
    return dateTime.isValid();
}

void SlTimeManipulator::setDateTime(const QDateTime &dateTime)
{
    if (dateTime == m_dateTime)
        return;
    m_dateTime = dateTime;
    emit dateTimeChanged(dateTime);
}
