#include "simclock.h"

SimClock::SimClock(const QDateTime &start, bool frozen)
    : base(start)
    , frozen(frozen)
{
    sinceBase.start();
}

QDateTime SimClock::now() const
{
    return frozen ? base : base.addMSecs(sinceBase.elapsed());
}

void SimClock::set(const QDateTime &dt)
{
    base = dt;
    sinceBase.restart();
}

SimClock::StepResult SimClock::step(int action)
{
    QDateTime dt = now();
    const StepResult result = stepDigit(dt, action);
    if (result == StepApplied)
        set(dt);
    return result;
}

SimClock::StepResult SimClock::stepDigit(QDateTime &dt, int action)
{
    if (action < 1 || action > 24 || !dt.isValid())
        return StepInvalid;
    enum { Second, Minute, Hour, Day, Month, Year };
    const int fieldIndex = (action - 1) / 4;
    const int op = action % 4;
    QDate date = dt.date();
    QTime time = dt.time();
    const int values[] = {time.second(), time.minute(), time.hour(),
                          date.day(),    date.month(),  date.year()};
    const int v = values[fieldIndex];
    int c = v;
    switch (op) {
    case 1:
        c = (v % 10 < 9) ? v + 1 : v;
        break;
    case 2:
        c = (v % 10 > 0) ? v - 1 : v;
        break;
    case 3:
        c = (v % 100 < 90) ? v + 10 : v;
        break;
    default:
        c = ((v % 100) / 10 > 0) ? v - 10 : v + 90;
        break;
    }

    switch (fieldIndex) {
    case Second:
        if (c < 0 || c > 59)
            return StepRefused;
        time = QTime(time.hour(), time.minute(), c, time.msec());
        break;
    case Minute:
        if (c < 0 || c > 59)
            return StepRefused;
        time = QTime(time.hour(), c, time.second(), time.msec());
        break;
    case Hour:
        if (c < 0 || c > 23)
            return StepRefused;
        time = QTime(c, time.minute(), time.second(), time.msec());
        break;
    case Day:
        if (c < 1 || c > date.daysInMonth())
            return StepRefused;
        date = QDate(date.year(), date.month(), c);
        break;
    case Month: {
        if (c < 1 || c > 12)
            return StepRefused;
        const int last = QDate(date.year(), c, 1).daysInMonth();
        date = QDate(date.year(), c, qMin(date.day(), last));
        break;
    }
    default:
        // 29 February has no counterpart in a common year: such a year step
        // is refused rather than moving the day.
        if (c < 2000 || c > 2099 || !QDate::isValid(c, date.month(), date.day()))
            return StepRefused;
        date = QDate(c, date.month(), date.day());
        break;
    }
    dt = QDateTime(date, time, dt.timeSpec());
    return StepApplied;
}
