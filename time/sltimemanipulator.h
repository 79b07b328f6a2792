#pragma once

#include <QDateTime>
#include <QObject>

// Steps a date-time one decimal digit at a time, as the watch's buttons do.
class SlTimeManipulator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QDateTime dateTime READ dateTime WRITE setDateTime NOTIFY dateTimeChanged)
public:
    // Same names and values as SlAppLogic::Action: the interface sends these
    // codes to the gadget through "timeCmd".
    enum Action {
        NO_COMMAND = 0,
        ACTION_SECOND_BASE = 1,
        INCREMENT_SECOND_UNITS = ACTION_SECOND_BASE,
        DECREMENT_SECOND_UNITS,
        INCREMENT_SECOND_TENS,
        DECREMENT_SECOND_TENS,
        ACTION_MINUTE_BASE = 5,
        INCREMENT_MINUTE_UNITS = ACTION_MINUTE_BASE,
        DECREMENT_MINUTE_UNITS,
        INCREMENT_MINUTE_TENS,
        DECREMENT_MINUTE_TENS,
        ACTION_HOUR_BASE = 9,
        INCREMENT_HOUR_UNITS = ACTION_HOUR_BASE,
        DECREMENT_HOUR_UNITS,
        INCREMENT_HOUR_TENS,
        DECREMENT_HOUR_TENS,
        ACTION_DAY_BASE = 13,
        INCREMENT_DAY_UNITS = ACTION_DAY_BASE,
        DECREMENT_DAY_UNITS,
        INCREMENT_DAY_TENS,
        DECREMENT_DAY_TENS,
        ACTION_MONTH_BASE = 17,
        INCREMENT_MONTH_UNITS = ACTION_MONTH_BASE,
        DECREMENT_MONTH_UNITS,
        INCREMENT_MONTH_TENS,
        DECREMENT_MONTH_TENS,
        ACTION_YEAR_BASE = 21,
        INCREMENT_YEAR_UNITS = ACTION_YEAR_BASE,
        DECREMENT_YEAR_UNITS,
        INCREMENT_YEAR_TENS,
        DECREMENT_YEAR_TENS
    };
    Q_ENUM(Action)

    explicit SlTimeManipulator(QObject *parent = nullptr);

    QDateTime dateTime() const;

    Q_INVOKABLE void manipulate(int action);
    Q_INVOKABLE bool isDateTimeValid(const QDateTime &dateTime) const;

signals:
    void dateTimeChanged(const QDateTime &dateTime);
    void dateTimeUpdated(const QDateTime &dateTime);

public slots:
    void setDateTime(const QDateTime &dateTime);

private:
    QDateTime m_dateTime;
};
