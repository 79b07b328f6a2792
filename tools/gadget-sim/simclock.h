#ifndef SIMCLOCK_H
#define SIMCLOCK_H

#include <QDateTime>
#include <QElapsedTimer>

// The watch's own clock. It runs on from the last time it was set (unless
// frozen for reproducible runs) and can be edited one decimal digit at a
// time, the way the watch's buttons do it.
class SimClock
{
public:
    enum StepResult { StepApplied, StepRefused, StepInvalid };

    explicit SimClock(const QDateTime &start, bool frozen);

    QDateTime now() const;
    void set(const QDateTime &dt);
    StepResult step(int action);

    static StepResult stepDigit(QDateTime &dt, int action);

private:
    QDateTime base;
    QElapsedTimer sinceBase;
    bool frozen;
};

#endif // SIMCLOCK_H
