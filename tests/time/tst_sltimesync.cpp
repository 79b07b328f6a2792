#include "fakentpserver.h"

#include "app/endpoints.h"
#include "time/sltimesync.h"

#include <QSignalSpy>
#include <QTest>

// Runs in fixed time zones chosen by the environment; CORVANE_EXPECTED_OFFSET
// gives that zone's offset from UTC in minutes.
class TestSlTimeSync : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void triggeredInLocalOffset_data();
    void triggeredInLocalOffset();
    void lastUpdateOKFollowsOutcome();
    void firstRequestAfterConstruction();
    void setIntervalRequestsAtOnce();
    void setEnabled();
    void timeOutClearsLastUpdateOK();

private:
    int m_offsetMinutes = 0;
};

void TestSlTimeSync::initTestCase()
{
    bool ok = false;
    m_offsetMinutes = qEnvironmentVariableIntValue("CORVANE_EXPECTED_OFFSET", &ok);
    if (!ok)
        QSKIP("run through CTest, which sets TZ and CORVANE_EXPECTED_OFFSET");
    QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), m_offsetMinutes * 60);
    QCOMPARE(Endpoints::defaultNtpHost(), QStringLiteral("127.0.0.1"));
    SlTimeSync::setDefaultHost(Endpoints::defaultNtpHost());
}

void TestSlTimeSync::triggeredInLocalOffset_data()
{
    QTest::addColumn<QDateTime>("received");

    QTest::newRow("noon") << QDateTime(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);
    QTest::newRow("just after midnight")
        << QDateTime(QDate(2026, 1, 1), QTime(0, 10, 5, 250), Qt::UTC);
}

void TestSlTimeSync::triggeredInLocalOffset()
{
    QFETCH(QDateTime, received);

    SlTimeSync sync;
    QSignalSpy triggered(&sync, &SlTimeSync::triggered);
    sync.ntpDataReceived(received);
    QCOMPARE(triggered.size(), 1);

    const QDateTime datetime = triggered.at(0).at(0).toDateTime();
    QCOMPARE(triggered.at(0).at(1).toInt(), m_offsetMinutes);
    QCOMPARE(datetime, received);
    QCOMPARE(datetime.timeSpec(), Qt::OffsetFromUTC);
    QCOMPARE(datetime.offsetFromUtc(), m_offsetMinutes * 60);
    const QDateTime wallClock = received.addSecs(m_offsetMinutes * 60);
    QCOMPARE(datetime.date(), wallClock.date());
    QCOMPARE(datetime.time(), wallClock.time());
}

void TestSlTimeSync::lastUpdateOKFollowsOutcome()
{
    SlTimeSync sync;
    QStringList events;
    connect(&sync, &SlTimeSync::lastUpdateOKChanged, this,
            [&](bool ok) { events << (ok ? "ok" : "failed"); });
    connect(&sync, &SlTimeSync::triggered, this, [&] { events << "triggered"; });

    QVERIFY(sync.lastUpdateOK());
    sync.ntpTimeout();
    sync.ntpTimeout();
    QVERIFY(!sync.lastUpdateOK());
    sync.ntpDataReceived(QDateTime::currentDateTimeUtc());
    sync.ntpDataReceived(QDateTime::currentDateTimeUtc());
    QVERIFY(sync.lastUpdateOK());
    QCOMPARE(events, QStringList({"failed", "ok", "triggered", "triggered"}));
}

void TestSlTimeSync::firstRequestAfterConstruction()
{
    FakeNtpServer server;
    server.setAutoReply(true);
    SlTimeSync sync;
    sync.ntpClient()->setServerPort(server.port());
    QCOMPARE(sync.ntpClient()->host(), QStringLiteral("127.0.0.1"));
    QSignalSpy triggered(&sync, &SlTimeSync::triggered);

    QVERIFY(sync.enabled());
    QCOMPARE(sync.interval(), 1000);
    QVERIFY(server.requests().isEmpty());
    QTRY_COMPARE(triggered.size(), 1);
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(triggered.at(0).at(1).toInt(), m_offsetMinutes);
    const QDateTime time = triggered.at(0).at(0).toDateTime();
    QVERIFY(qAbs(time.msecsTo(QDateTime::currentDateTime())) < 1000);
    QVERIFY(sync.lastUpdateOK());
}

void TestSlTimeSync::setIntervalRequestsAtOnce()
{
    FakeNtpServer server;
    SlTimeSync sync;
    sync.ntpClient()->setServerPort(server.port());
    QSignalSpy intervalChanged(&sync, &SlTimeSync::intervalChanged);

    sync.setInterval(60000);
    QCOMPARE(intervalChanged.size(), 1);
    QCOMPARE(intervalChanged.at(0).at(0).toInt(), 60000);
    QTRY_COMPARE(server.requests().size(), 1);

    // Even an unchanged interval asks again and tells again.
    sync.setInterval(60000);
    QCOMPARE(intervalChanged.size(), 2);
    QTRY_COMPARE(server.requests().size(), 2);
    QCOMPARE(sync.interval(), 60000);
}

void TestSlTimeSync::setEnabled()
{
    FakeNtpServer server;
    SlTimeSync sync;
    sync.ntpClient()->setServerPort(server.port());
    sync.setInterval(60000);
    QTRY_COMPARE(server.requests().size(), 1);
    QSignalSpy enabledChanged(&sync, &SlTimeSync::enabledChanged);

    sync.setEnabled(true);
    QCOMPARE(enabledChanged.size(), 1);
    QCOMPARE(enabledChanged.at(0).at(0).toBool(), true);
    QTRY_COMPARE(server.requests().size(), 2);

    sync.setEnabled(true);
    QCOMPARE(enabledChanged.size(), 1);

    // Switching off is only recorded: the requests go on, and the property
    // still reads as the running timer.
    sync.setEnabled(false);
    QCOMPARE(enabledChanged.size(), 2);
    QCOMPARE(enabledChanged.at(1).at(0).toBool(), true);
    QVERIFY(sync.enabled());
}

void TestSlTimeSync::timeOutClearsLastUpdateOK()
{
    FakeNtpServer server;
    SlTimeSync sync;
    sync.ntpClient()->setServerPort(server.port());
    sync.ntpClient()->setTimeoutInterval(100);
    QSignalSpy lastUpdateOK(&sync, &SlTimeSync::lastUpdateOKChanged);
    QSignalSpy triggered(&sync, &SlTimeSync::triggered);

    sync.setInterval(60000);
    QTRY_COMPARE(lastUpdateOK.size(), 1);
    QCOMPARE(lastUpdateOK.at(0).at(0).toBool(), false);
    QVERIFY(!sync.lastUpdateOK());

    server.setAutoReply(true);
    sync.setInterval(60000);
    QTRY_COMPARE(triggered.size(), 1);
    QCOMPARE(lastUpdateOK.size(), 2);
    QVERIFY(sync.lastUpdateOK());
}

QTEST_GUILESS_MAIN(TestSlTimeSync)
#include "tst_sltimesync.moc"
