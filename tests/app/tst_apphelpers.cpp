#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/slqtapponeinstance.h"

#include <QStandardPaths>
#include <QtTest>

class TstAppHelpers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void keyHash_data();
    void keyHash();
    void digitSplitThousand_data();
    void digitSplitThousand();
    void fontSizeScaleGivesAFloat();
    void isDateValid();
    void language_data();
    void language();
    void versionText();
    void isUpdatedNotifiesOnChangeOnly();
};

void TstAppHelpers::initTestCase()
{
    // The hubs made here keep their settings away from the user's own.
    QStandardPaths::setTestModeEnabled(true);
}

void TstAppHelpers::keyHash_data()
{
    QTest::addColumn<QString>("salt");
    QTest::addColumn<QString>("expected");
    // Digests from sha1sum over the key's and the salt's bytes.
    QTest::newRow("memLock") << QStringLiteral("_memLockKey")
                             << QStringLiteral("20e919da6b075b36574a158f9146bf3c26905e56");
    QTest::newRow("sharedMem") << QStringLiteral("_sharedmemKey")
                               << QStringLiteral("705d13adf1c2300ae2f2b791fb1a49b16f9bb0e2");
}

void TstAppHelpers::keyHash()
{
    QFETCH(QString, salt);
    QFETCH(QString, expected);
    QCOMPARE(
        SlQtAppOneInstance::keyHash(QStringLiteral("5b0c7e2a-9f41-4d8e-a3c6-1e7f20b94d5c"), salt),
        expected);
}

void TstAppHelpers::digitSplitThousand_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("seven digits") << QVariant(1234567) << QStringLiteral("1.234.567");
    QTest::newRow("three digits") << QVariant(999) << QStringLiteral("999");
    QTest::newRow("four digits") << QVariant(1000) << QStringLiteral("1.000");
    QTest::newRow("six digits") << QVariant(100000) << QStringLiteral("100.000");
    QTest::newRow("one digit") << QVariant(0) << QStringLiteral("0");
    QTest::newRow("empty") << QVariant() << QString();
    QTest::newRow("sign is grouped too") << QVariant(-123456) << QStringLiteral("-.123.456");
    QTest::newRow("text") << QVariant(QStringLiteral("abcdefg")) << QStringLiteral("a.bcd.efg");
}

void TstAppHelpers::digitSplitThousand()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    SlHelper helper;
    QCOMPARE(helper.digitSplitThousand(value).toString(), expected);
}

void TstAppHelpers::fontSizeScaleGivesAFloat()
{
    SlHelper helper;
    const QVariant scaled = helper.fontSizeScale(16);
    QCOMPARE(int(scaled.type()), int(QMetaType::Float));
    QCOMPARE(scaled.toFloat(), 16.0f);
    QCOMPARE(helper.fontSizeScale(QStringLiteral("12.5")).toFloat(), 12.5f);
}

void TstAppHelpers::isDateValid()
{
    SlHelper helper;
    QVERIFY(helper.isDateValid(QDateTime(QDate(2026, 2, 28), QTime(12, 0))));
    QVERIFY(!helper.isDateValid(QDateTime()));
    QVERIFY(!helper.isDateValid(QDateTime(QDate(2026, 2, 30), QTime(12, 0))));
}

void TstAppHelpers::language_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("de_CH") << QStringLiteral("de_CH") << QStringLiteral("de");
    QTest::newRow("en_US") << QStringLiteral("en_US") << QStringLiteral("en");
    QTest::newRow("three parts") << QStringLiteral("sr_Latn_RS") << QStringLiteral("sr");
    QTest::newRow("no region") << QStringLiteral("C") << QStringLiteral("C");
}

void TstAppHelpers::language()
{
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(SlAppLogic::languageOf(locale), expected);
}

void TstAppHelpers::versionText()
{
    SlAppLogic hub;
    QCOMPARE(hub.currentAppVer(), QStringLiteral("1.3.9"));
    QCOMPARE(hub.devver(), false);
}

void TstAppHelpers::isUpdatedNotifiesOnChangeOnly()
{
    SlAppLogic hub;
    QSignalSpy spy(&hub, &SlAppLogic::isUpdatedChanged);
    hub.setIsUpdated(false);
    QCOMPARE(spy.count(), 0);
    QVERIFY(hub.setProperty("isUpdated", true));
    hub.setIsUpdated(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
}

QTEST_GUILESS_MAIN(TstAppHelpers)
#include "tst_apphelpers.moc"
