#include "crypto/slpasswordmanipulator.h"

#include <QtTest>

// "#n" sets n digits, "un" and "dn" step position n up and down, "c" clears.
static void apply(SlPasswordManipulator &pin, const QString &op)
{
    if (op == "c")
        pin.clear();
    else if (op.startsWith('#'))
        pin.setDigits(op.mid(1).toInt());
    else
        pin.digitManipulate(op.mid(1).toInt(), op.startsWith('u'));
}

class TestSlPasswordManipulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void operation_data();
    void operation();
};

void TestSlPasswordManipulator::operation_data()
{
    // The operations, then for the last of them its signals, and the text,
    // value and digit count it leaves.
    QTest::addColumn<QString>("script");
    QTest::newRow("blank positions spell no number")
        << "#4 u0 > isClear=false;isValid=false;text=0   ;'0   ' -1 4";
    QTest::newRow("last digit makes it valid")
        << "#4 u0 u1 u2 u3 > isClear=false;value=0;isValid=true;text=0000;'0000' 0 4";
    QTest::newRow("leading zeros are decimal digits")
        << "#4 u0 u1 u2 u2 u2 u2 u2 u3 u3 u3 > "
           "isClear=false;value=42;isValid=true;text=0042;'0042' 42 4";
    QTest::newRow("clear when clear still announces") << "c > isClear=true;isValid=false;'' -1 0";
    QTest::newRow("clear keeps the digit count")
        << "#2 d0 d1 c > text=;value=-1;isClear=true;isValid=false;'' -1 2";
    QTest::newRow("position past the end") << "#3 u3 > '   ' -1 3";
    QTest::newRow("negative position") << "#3 d-1 > '   ' -1 3";
    QTest::newRow("same digit count") << "#2 d0 d1 #2 > '99' 99 2";
    QTest::newRow("cutting keeps the leading digits")
        << "#4 u0 u1 u1 d2 d3 #2 > isClear=false;digits=2;value=1;text=01;'01' 1 2";
    QTest::newRow("widening leaves a blank")
        << "#2 d0 d1 #3 > isClear=false;digits=3;value=-1;isValid=false;text=99 ;'99 ' -1 3";
    // From blank, across the wrap and one more.
    QTest::newRow("stepping up wraps") << "#1 u0 u0 u0 u0 u0 u0 u0 u0 u0 u0 u0 u0 > "
                                          "isClear=false;value=1;isValid=true;text=1;'1' 1 1";
    QTest::newRow("stepping down wraps") << "#1 d0 d0 d0 d0 d0 d0 d0 d0 d0 d0 d0 d0 > "
                                            "isClear=false;value=8;isValid=true;text=8;'8' 8 1";
}

void TestSlPasswordManipulator::operation()
{
    QFETCH(QString, script);
    const int mark = script.indexOf(" > ");
    QStringList ops = script.left(mark).split(' ');

    SlPasswordManipulator pin;
    const QString last = ops.takeLast();
    for (const QString &op : ops)
        apply(pin, op);
    // Every signal in emission order, with its argument.
    QString events;
    auto record = [&pin, &events](auto signal, const char *name) {
        QObject::connect(&pin, signal, [&events, name](const QVariant &v) {
            events += QStringLiteral("%1=%2;").arg(name, v.toString());
        });
    };
    record(&SlPasswordManipulator::textChanged, "text");
    record(&SlPasswordManipulator::valueChanged, "value");
    record(&SlPasswordManipulator::digitsChanged, "digits");
    record(&SlPasswordManipulator::isValidChanged, "isValid");
    record(&SlPasswordManipulator::isClearChanged, "isClear");
    apply(pin, last);
    const QString state =
        QStringLiteral("'%1' %2 %3").arg(pin.text()).arg(pin.value()).arg(pin.digits());
    QCOMPARE(events + state, script.mid(mark + 3));
}

QTEST_GUILESS_MAIN(TestSlPasswordManipulator)
#include "tst_slpasswordmanipulator.moc"
