#include "time/sltimemanipulator.h"

#include <QMetaEnum>
#include <QSignalSpy>
#include <QTest>

namespace {
QDateTime at(const char *text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC);
    return t;
}
} // namespace

class TestSlTimeManipulator : public QObject
{
    Q_OBJECT
private slots:
    void actionValues_data();
    void actionValues();
    void manipulate_data();
    void manipulate();
    void ignoredActions_data();
    void ignoredActions();
    void setDateTime();
};

void TestSlTimeManipulator::actionValues_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("value");

    const char *fields[] = {"SECOND", "MINUTE", "HOUR", "DAY", "MONTH", "YEAR"};
    for (int f = 0; f < 6; ++f) {
        const int base = 1 + 4 * f;
        const QByteArray field(fields[f]);
        const QList<QPair<QByteArray, int>> names = {{"ACTION_" + field + "_BASE", base},
                                                     {"INCREMENT_" + field + "_UNITS", base},
                                                     {"DECREMENT_" + field + "_UNITS", base + 1},
                                                     {"INCREMENT_" + field + "_TENS", base + 2},
                                                     {"DECREMENT_" + field + "_TENS", base + 3}};
        for (const auto &name : names)
            QTest::newRow(name.first.constData()) << name.first << name.second;
    }
    QTest::newRow("NO_COMMAND") << QByteArray("NO_COMMAND") << 0;
}

void TestSlTimeManipulator::actionValues()
{
    QFETCH(QByteArray, name);
    QFETCH(int, value);
    const QMetaEnum actions = QMetaEnum::fromType<SlTimeManipulator::Action>();
    bool ok = false;
    QCOMPARE(actions.keyToValue(name.constData(), &ok), value);
    QVERIFY(ok);
}

void TestSlTimeManipulator::manipulate_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("action");
    QTest::addColumn<QDateTime>("expected"); // invalid: refused

    using A = SlTimeManipulator;
    const QDateTime refused;
    const QDateTime base = at("2026-04-15T13:45:27.125");

    QTest::newRow("second units up")
        << base << int(A::INCREMENT_SECOND_UNITS) << at("2026-04-15T13:45:28.125");
    QTest::newRow("second units down")
        << base << int(A::DECREMENT_SECOND_UNITS) << at("2026-04-15T13:45:26.125");
    QTest::newRow("second tens up")
        << base << int(A::INCREMENT_SECOND_TENS) << at("2026-04-15T13:45:37.125");
    QTest::newRow("second tens down")
        << base << int(A::DECREMENT_SECOND_TENS) << at("2026-04-15T13:45:17.125");
    QTest::newRow("second 59 units up stays")
        << at("2026-04-15T13:45:59") << int(A::INCREMENT_SECOND_UNITS) << at("2026-04-15T13:45:59");
    QTest::newRow("second 50 tens up refused")
        << at("2026-04-15T13:45:50") << int(A::INCREMENT_SECOND_TENS) << refused;
    QTest::newRow("second 00 units down stays")
        << at("2026-04-15T13:45:00") << int(A::DECREMENT_SECOND_UNITS) << at("2026-04-15T13:45:00");

    QTest::newRow("minute 59 units up stays")
        << at("2026-04-15T13:59:00") << int(A::INCREMENT_MINUTE_UNITS) << at("2026-04-15T13:59:00");
    QTest::newRow("minute 50 tens up refused")
        << at("2026-04-15T13:50:00") << int(A::INCREMENT_MINUTE_TENS) << refused;
    QTest::newRow("minute 05 tens down refused")
        << at("2026-04-15T13:05:00") << int(A::DECREMENT_MINUTE_TENS) << refused;
    QTest::newRow("minute units down keeps rest")
        << base << int(A::DECREMENT_MINUTE_UNITS) << at("2026-04-15T13:44:27.125");

    QTest::newRow("hour 19 tens up refused")
        << at("2026-04-15T19:00:00") << int(A::INCREMENT_HOUR_TENS) << refused;
    QTest::newRow("hour 13 tens up")
        << base << int(A::INCREMENT_HOUR_TENS) << at("2026-04-15T23:45:27.125");
    QTest::newRow("hour 23 units up refused")
        << at("2026-04-15T23:00:00") << int(A::INCREMENT_HOUR_UNITS) << refused;
    QTest::newRow("hour 09 units up stays")
        << at("2026-04-15T09:00:00") << int(A::INCREMENT_HOUR_UNITS) << at("2026-04-15T09:00:00");
    QTest::newRow("hour 10 tens down")
        << at("2026-04-15T10:30:00") << int(A::DECREMENT_HOUR_TENS) << at("2026-04-15T00:30:00");

    QTest::newRow("day 30 units up in April refused")
        << at("2026-04-30T12:00:00") << int(A::INCREMENT_DAY_UNITS) << refused;
    QTest::newRow("day 30 units up in May")
        << at("2026-05-30T12:00:00") << int(A::INCREMENT_DAY_UNITS) << at("2026-05-31T12:00:00");
    QTest::newRow("day 10 tens down refused")
        << at("2026-04-10T12:00:00") << int(A::DECREMENT_DAY_TENS) << refused;
    QTest::newRow("day 01 units down refused")
        << at("2026-04-01T12:00:00") << int(A::DECREMENT_DAY_UNITS) << refused;
    QTest::newRow("day 20 units down stays")
        << at("2026-04-20T12:00:00") << int(A::DECREMENT_DAY_UNITS) << at("2026-04-20T12:00:00");
    QTest::newRow("day 19 tens up in common February refused")
        << at("2026-02-19T12:00:00") << int(A::INCREMENT_DAY_TENS) << refused;
    QTest::newRow("day 28 units up in common February refused")
        << at("2026-02-28T12:00:00") << int(A::INCREMENT_DAY_UNITS) << refused;
    QTest::newRow("day 28 units up in leap February")
        << at("2028-02-28T12:00:00") << int(A::INCREMENT_DAY_UNITS) << at("2028-02-29T12:00:00");

    QTest::newRow("31 January to February")
        << at("2026-01-31T08:00:00") << int(A::INCREMENT_MONTH_UNITS) << at("2026-02-28T08:00:00");
    QTest::newRow("31 January to February of a leap year")
        << at("2028-01-31T08:00:00") << int(A::INCREMENT_MONTH_UNITS) << at("2028-02-29T08:00:00");
    QTest::newRow("31 March down to February 2000")
        << at("2000-03-31T08:00:00") << int(A::DECREMENT_MONTH_UNITS) << at("2000-02-29T08:00:00");
    QTest::newRow("31 May to June")
        << at("2026-05-31T08:00:00") << int(A::INCREMENT_MONTH_UNITS) << at("2026-06-30T08:00:00");
    QTest::newRow("month 02 tens up")
        << at("2026-02-15T08:00:00") << int(A::INCREMENT_MONTH_TENS) << at("2026-12-15T08:00:00");
    QTest::newRow("month 03 tens up refused")
        << at("2026-03-15T08:00:00") << int(A::INCREMENT_MONTH_TENS) << refused;
    QTest::newRow("month 12 units up refused")
        << at("2026-12-15T08:00:00") << int(A::INCREMENT_MONTH_UNITS) << refused;
    QTest::newRow("month 10 tens down refused")
        << at("2026-10-15T08:00:00") << int(A::DECREMENT_MONTH_TENS) << refused;
    QTest::newRow("month 11 units down")
        << at("2026-11-30T08:00:00") << int(A::DECREMENT_MONTH_UNITS) << at("2026-10-30T08:00:00");

    QTest::newRow("year 2099 units up stays")
        << at("2099-06-01T00:00:00") << int(A::INCREMENT_YEAR_UNITS) << at("2099-06-01T00:00:00");
    QTest::newRow("year 2003 tens down wraps")
        << at("2003-06-01T00:00:00") << int(A::DECREMENT_YEAR_TENS) << at("2093-06-01T00:00:00");
    QTest::newRow("year 2000 tens down wraps")
        << at("2000-06-01T00:00:00") << int(A::DECREMENT_YEAR_TENS) << at("2090-06-01T00:00:00");
    QTest::newRow("year 2095 tens up stays")
        << at("2095-06-01T00:00:00") << int(A::INCREMENT_YEAR_TENS) << at("2095-06-01T00:00:00");
    QTest::newRow("year 2000 units down stays")
        << at("2000-06-01T00:00:00") << int(A::DECREMENT_YEAR_UNITS) << at("2000-06-01T00:00:00");
    QTest::newRow("year 1999 out of range refused")
        << at("1999-06-01T00:00:00") << int(A::INCREMENT_YEAR_UNITS) << refused;
    // No single digit step joins two leap years: the 29th becomes the 28th.
    QTest::newRow("29 February, year units up")
        << at("2028-02-29T10:00:00") << int(A::INCREMENT_YEAR_UNITS) << at("2029-02-28T10:00:00");
    QTest::newRow("29 February, year units down")
        << at("2028-02-29T10:00:00") << int(A::DECREMENT_YEAR_UNITS) << at("2027-02-28T10:00:00");
    QTest::newRow("29 February, year tens wrap")
        << at("2004-02-29T10:00:00") << int(A::DECREMENT_YEAR_TENS) << at("2094-02-28T10:00:00");
    QTest::newRow("28 February keeps its day")
        << at("2027-02-28T10:00:00") << int(A::INCREMENT_YEAR_UNITS) << at("2028-02-28T10:00:00");
}

void TestSlTimeManipulator::manipulate()
{
    QFETCH(QDateTime, start);
    QFETCH(int, action);
    QFETCH(QDateTime, expected);

    SlTimeManipulator manipulator;
    manipulator.setDateTime(start);
    QSignalSpy updated(&manipulator, &SlTimeManipulator::dateTimeUpdated);
    QSignalSpy changed(&manipulator, &SlTimeManipulator::dateTimeChanged);

    manipulator.manipulate(action);

    QCOMPARE(changed.size(), 0);
    if (!expected.isValid()) {
        QCOMPARE(updated.size(), 0);
        QCOMPARE(manipulator.dateTime(), start);
        return;
    }
    QCOMPARE(updated.size(), 1);
    QCOMPARE(updated.at(0).at(0).toDateTime(), expected);
    QCOMPARE(manipulator.dateTime(), expected);
    QCOMPARE(manipulator.dateTime().timeSpec(), start.timeSpec());
}

void TestSlTimeManipulator::ignoredActions_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("action");

    const QDateTime valid = at("2026-04-15T13:45:27");
    QTest::newRow("no command") << valid << int(SlTimeManipulator::NO_COMMAND);
    QTest::newRow("negative") << valid << -1;
    QTest::newRow("25") << valid << 25;
    QTest::newRow("unset date-time") << QDateTime() << int(SlTimeManipulator::INCREMENT_DAY_UNITS);
}

void TestSlTimeManipulator::ignoredActions()
{
    QFETCH(QDateTime, start);
    QFETCH(int, action);

    SlTimeManipulator manipulator;
    manipulator.setDateTime(start);
    QSignalSpy updated(&manipulator, &SlTimeManipulator::dateTimeUpdated);
    manipulator.manipulate(action);
    QCOMPARE(updated.size(), 0);
    QCOMPARE(manipulator.dateTime(), start);
}

void TestSlTimeManipulator::setDateTime()
{
    SlTimeManipulator manipulator;
    QVERIFY(!manipulator.dateTime().isValid());
    QVERIFY(!manipulator.isDateTimeValid(manipulator.dateTime()));
    QSignalSpy changed(&manipulator, &SlTimeManipulator::dateTimeChanged);

    const QDateTime t = at("2026-04-15T13:45:27");
    manipulator.setDateTime(t);
    manipulator.setDateTime(t);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toDateTime(), t);
    QVERIFY(manipulator.isDateTimeValid(manipulator.dateTime()));
}

QTEST_GUILESS_MAIN(TestSlTimeManipulator)
#include "tst_sltimemanipulator.moc"
