#include "time/sltimemanipulator.h"

#include <QSignalSpy>
#include <QTest>

static QDateTime at(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text) + 'Z', Qt::ISODateWithMs);
}

class TestSlTimeManipulator : public QObject
{
    Q_OBJECT
private slots:
    void manipulate_data();
    void manipulate();
};

void TestSlTimeManipulator::manipulate_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("action");
    QTest::addColumn<QDateTime>("expected"); // invalid: refused

    // The action codes the interface sends: from 1 on, units up, units down,
    // tens up and tens down of second, minute, hour, day, month and year. A
    // digit steps without carry; only the year's tens wrap from 0 to 9.
    const struct
    {
        const char *name, *start;
        int action;
        const char *expected; // empty: refused
    } rows[] = {
        {"second units up", "2026-04-15T13:45:27.125", 1, "2026-04-15T13:45:28.125"},
        {"second units down", "2026-04-15T13:45:27.125", 2, "2026-04-15T13:45:26.125"},
        {"second 59 units up stays", "2026-04-15T13:45:59", 1, "2026-04-15T13:45:59"},
        {"second 00 units down stays", "2026-04-15T13:45:00", 2, "2026-04-15T13:45:00"},
        {"second 50 tens up refused", "2026-04-15T13:45:50", 3, ""},
        {"minute units down keeps rest", "2026-04-15T13:45:27.125", 6, "2026-04-15T13:44:27.125"},
        {"minute 50 tens up refused", "2026-04-15T13:50:00", 7, ""},
        {"hour 13 tens up", "2026-04-15T13:45:27.125", 11, "2026-04-15T23:45:27.125"},
        {"hour 23 units up refused", "2026-04-15T23:00:00", 9, ""},
        {"hour 10 tens down", "2026-04-15T10:30:00", 12, "2026-04-15T00:30:00"},
        {"day 30 units up in April refused", "2026-04-30T12:00:00", 13, ""},
        {"day 30 units up in May", "2026-05-30T12:00:00", 13, "2026-05-31T12:00:00"},
        {"day 01 units down refused", "2026-04-01T12:00:00", 14, ""},
        {"31 January to February", "2026-01-31T08:00:00", 17, "2026-02-28T08:00:00"},
        {"31 January to leap February", "2028-01-31T08:00:00", 17, "2028-02-29T08:00:00"},
        {"month 12 units up refused", "2026-12-15T08:00:00", 17, ""},
        {"month 02 tens up", "2026-02-15T08:00:00", 19, "2026-12-15T08:00:00"},
        {"month 10 tens down refused", "2026-10-15T08:00:00", 20, ""},
        {"year 2000 units down stays", "2000-06-01T00:00:00", 22, "2000-06-01T00:00:00"},
        {"year 1999 refused", "1999-06-01T00:00:00", 21, ""},
        {"year 2095 tens up stays", "2095-06-01T00:00:00", 23, "2095-06-01T00:00:00"},
        {"year 2003 tens down wraps", "2003-06-01T00:00:00", 24, "2093-06-01T00:00:00"},
        // No single digit step joins two leap years: the 29th becomes the 28th.
        {"29 February, year units up", "2028-02-29T10:00:00", 21, "2029-02-28T10:00:00"},
        {"no command", "2026-04-15T13:45:27", 0, ""},
        {"action past the year", "2026-04-15T13:45:27", 25, ""},
        {"unset date-time", "", 13, ""},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << at(row.start) << row.action << at(row.expected);
}

void TestSlTimeManipulator::manipulate()
{
    QFETCH(QDateTime, start);
    QFETCH(int, action);
    QFETCH(QDateTime, expected);

    SlTimeManipulator manipulator;
    QSignalSpy changed(&manipulator, &SlTimeManipulator::dateTimeChanged);
    // Setting the same date-time again tells nothing; a step tells through the other signal.
    manipulator.setDateTime(start);
    manipulator.setDateTime(start);
    QSignalSpy updated(&manipulator, &SlTimeManipulator::dateTimeUpdated);

    manipulator.manipulate(action);

    QCOMPARE(QList<QVariantList>(changed),
             start.isValid() ? QList<QVariantList>{{start}} : QList<QVariantList>());
    QCOMPARE(manipulator.isDateTimeValid(start), start.isValid());
    QCOMPARE(manipulator.dateTime(), expected.isValid() ? expected : start);
    QVERIFY(!expected.isValid() || manipulator.dateTime().timeSpec() == Qt::UTC);
    QCOMPARE(QList<QVariantList>(updated),
             expected.isValid() ? QList<QVariantList>{{expected}} : QList<QVariantList>());
}

QTEST_GUILESS_MAIN(TestSlTimeManipulator)
#include "tst_sltimemanipulator.moc"
