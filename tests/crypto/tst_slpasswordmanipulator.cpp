#include "crypto/slpasswordmanipulator.h"

#include <QtTest>

// Records every signal of one manipulator in emission order.
class Recorder : public QObject
{
public:
    explicit Recorder(SlPasswordManipulator *pin)
    {
        connect(pin, &SlPasswordManipulator::textChanged, this,
                [this](const QString &t) { events << QStringLiteral("text:'%1'").arg(t); });
        connect(pin, &SlPasswordManipulator::valueChanged, this,
                [this](int v) { events << QStringLiteral("value:%1").arg(v); });
        connect(pin, &SlPasswordManipulator::digitsChanged, this,
                [this](int d) { events << QStringLiteral("digits:%1").arg(d); });
        connect(pin, &SlPasswordManipulator::isValidChanged, this, [this](bool b) {
            events << QStringLiteral("isValid:%1").arg(b ? "true" : "false");
        });
        connect(pin, &SlPasswordManipulator::isClearChanged, this, [this](bool b) {
            events << QStringLiteral("isClear:%1").arg(b ? "true" : "false");
        });
    }
    QStringList take()
    {
        QStringList out = events;
        events.clear();
        return out;
    }
    QStringList events;
};

class TestSlPasswordManipulator : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void enteringFourDigits();
    void stepping_data();
    void stepping();
    void clearAlwaysAnnounces();
    void outOfRangeIsIgnored();
    void changingDigitsRefits();
};

void TestSlPasswordManipulator::initialState()
{
    SlPasswordManipulator pin;
    QCOMPARE(pin.text(), QString());
    QCOMPARE(pin.value(), -1);
    QCOMPARE(pin.digits(), 0);
    QVERIFY(!pin.isValid());
    QVERIFY(pin.isClear());
}

void TestSlPasswordManipulator::enteringFourDigits()
{
    SlPasswordManipulator pin;
    pin.setDigits(4);
    Recorder rec(&pin);

    pin.digitManipulate(0, true);
    QCOMPARE(pin.text(), QStringLiteral("0   "));
    QCOMPARE(pin.value(), -1);
    QVERIFY(!pin.isValid());
    QCOMPARE(rec.take(), QStringList({"isClear:false", "isValid:false", "text:'0   '"}));

    pin.digitManipulate(1, true);
    pin.digitManipulate(2, true);
    rec.take();
    pin.digitManipulate(3, true);
    QCOMPARE(pin.text(), QStringLiteral("0000"));
    QCOMPARE(pin.value(), 0);
    QVERIFY(pin.isValid());
    QCOMPARE(rec.take(), QStringList({"isClear:false", "value:0", "isValid:true", "text:'0000'"}));

    // Leading zeros are digits: 0042 is the number 42.
    for (int i = 0; i < 4; ++i)
        pin.digitManipulate(2, true);
    pin.digitManipulate(3, true);
    pin.digitManipulate(3, true);
    QCOMPARE(pin.text(), QStringLiteral("0042"));
    QCOMPARE(pin.value(), 42);
}

void TestSlPasswordManipulator::stepping_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QString>("text");

    QTest::newRow("space up gives 0") << 1 << true << "0 ";
    QTest::newRow("up reaches 9") << 10 << true << "9 ";
    QTest::newRow("9 up wraps to 0") << 11 << true << "0 ";
    QTest::newRow("space down gives 9") << 1 << false << "9 ";
    QTest::newRow("down reaches 0") << 10 << false << "0 ";
    QTest::newRow("0 down wraps to 9") << 11 << false << "9 ";
}

void TestSlPasswordManipulator::stepping()
{
    QFETCH(int, steps);
    QFETCH(bool, up);
    QFETCH(QString, text);

    SlPasswordManipulator pin;
    pin.setDigits(2);
    for (int i = 0; i < steps; ++i)
        pin.digitManipulate(0, up);
    QCOMPARE(pin.text(), text);
    QCOMPARE(pin.value(), -1);
}

void TestSlPasswordManipulator::clearAlwaysAnnounces()
{
    SlPasswordManipulator pin;
    Recorder rec(&pin);
    pin.clear();
    QCOMPARE(rec.take(), QStringList({"isClear:true", "isValid:false"}));

    pin.setDigits(2);
    pin.digitManipulate(0, false);
    pin.digitManipulate(1, false);
    QCOMPARE(pin.value(), 99);
    rec.take();
    pin.clear();
    QCOMPARE(rec.take(), QStringList({"text:''", "value:-1", "isClear:true", "isValid:false"}));
    QVERIFY(pin.isClear());
    QVERIFY(!pin.isValid());
    QCOMPARE(pin.digits(), 2);
}

void TestSlPasswordManipulator::outOfRangeIsIgnored()
{
    SlPasswordManipulator pin;
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    Recorder rec(&pin);
    pin.digitManipulate(0, true); // no digits yet
    pin.setDigits(3);
    rec.take();
    pin.digitManipulate(3, true);
    pin.digitManipulate(-1, false);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(rec.events.isEmpty());
    QCOMPARE(pin.text(), QStringLiteral("   "));
}

void TestSlPasswordManipulator::changingDigitsRefits()
{
    SlPasswordManipulator pin;
    pin.setDigits(4);
    for (int i = 0; i < 4; ++i)
        pin.digitManipulate(i, false);
    QCOMPARE(pin.value(), 9999);

    Recorder rec(&pin);
    QSignalSpy digits(&pin, &SlPasswordManipulator::digitsChanged);
    pin.setDigits(4);
    QCOMPARE(digits.count(), 0);

    // Cutting keeps the leading digits, and the number follows the text.
    pin.setDigits(2);
    QCOMPARE(pin.text(), QStringLiteral("99"));
    QCOMPARE(pin.value(), 99);
    QCOMPARE(rec.take(), QStringList({"isClear:false", "digits:2", "value:99", "text:'99'"}));

    // Widening leaves new blank positions, so there is no number any more.
    pin.setDigits(3);
    QCOMPARE(pin.text(), QStringLiteral("99 "));
    QCOMPARE(pin.value(), -1);
    QVERIFY(!pin.isValid());
    QCOMPARE(rec.take(),
             QStringList({"isClear:false", "digits:3", "value:-1", "isValid:false", "text:'99 '"}));
}

QTEST_GUILESS_MAIN(TestSlPasswordManipulator)
#include "tst_slpasswordmanipulator.moc"
