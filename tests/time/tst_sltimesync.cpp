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
    void requestsAndOutcomes();
    void kissSaysWhenTheNextTryIs();

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

// A server that asks us to wait is not "not available": the user reads that it asked, and when
// the program asks again.
void TestSlTimeSync::kissSaysWhenTheNextTryIs()
{
    FakeNtpServer server;
    SlTimeSync sync;
    sync.ntpClient()->setServerPort(server.port());
    sync.ntpClient()->setTimeoutInterval(100);
    QCOMPARE(sync.warning(), QStringLiteral("The time server is not available"));
    QSignalSpy changed(&sync, &SlTimeSync::warningChanged);
    sync.setInterval(60000);
    QTRY_COMPARE(server.requests().size(), 1);
    QByteArray kiss = FakeNtpServer::replyTo(server.requests().first().data);
    kiss[0] = char(0xE4); // unsynchronised server, version 4, mode 4
    kiss[1] = 0;          // stratum 0: a kiss
    kiss.replace(12, 4, "RATE");
    const QDateTime sent = QDateTime::currentDateTime();
    server.answer(server.requests().first(), kiss);
    QTRY_VERIFY(!changed.isEmpty());
    // Two minutes of wait, then the first once-a-minute tick after them.
    QStringList possible;
    for (int s = 120; s <= 182; ++s)
        possible << sent.addSecs(s).toString(QStringLiteral("HH:mm"));
    const QString prefix = QStringLiteral("The time server asked us to wait; the next try is at ");
    QVERIFY2(sync.warning().startsWith(prefix), qPrintable(sync.warning()));
    QVERIFY2(possible.contains(sync.warning().mid(prefix.size())), qPrintable(sync.warning()));
}

void TestSlTimeSync::requestsAndOutcomes()
{
    FakeNtpServer server;
    server.setAutoReply(true);
    SlTimeSync sync;
    sync.ntpClient()->setServerPort(server.port());
    sync.ntpClient()->setTimeoutInterval(100);
    QStringList events;
    connect(&sync, &SlTimeSync::lastUpdateOKChanged, this,
            [&](bool ok) { events << (ok ? "ok" : "failed"); });
    connect(&sync, &SlTimeSync::triggered, this, [&] { events << "triggered"; });
    QSignalSpy intervalChanged(&sync, &SlTimeSync::intervalChanged);
    QSignalSpy triggered(&sync, &SlTimeSync::triggered);
    // The first request goes out a second after construction, not at once.
    QCOMPARE(sync.interval(), 1000);
    QVERIFY(server.requests().isEmpty());
    QTRY_COMPARE(events, QStringList({"triggered"}));
    QVERIFY(qAbs(triggered[0][0].toDateTime().msecsTo(QDateTime::currentDateTime())) < 1000);

    // Each call asks at once and tells, even with the interval unchanged.
    server.setAutoReply(false);
    sync.setInterval(60000);
    QTRY_COMPARE(events, QStringList({"triggered", "failed"}));
    QVERIFY(!sync.lastUpdateOK());
    server.setAutoReply(true);
    sync.setInterval(60000);
    QTRY_COMPARE(events.size(), 4);
    // The same instant goes on, in the computer's offset.
    const QDateTime received(QDate(2026, 1, 1), QTime(0, 10, 5, 250), Qt::UTC);
    sync.ntpDataReceived(received);
    QVERIFY(sync.lastUpdateOK());
    QCOMPARE(events, QStringList({"triggered", "failed", "ok", "triggered", "triggered"}));
    const QDateTime datetime = triggered.at(2).at(0).toDateTime();
    QCOMPARE(datetime, received);
    QCOMPARE(datetime.timeSpec(), Qt::OffsetFromUTC);
    QCOMPARE(datetime.offsetFromUtc(), m_offsetMinutes * 60);
    QCOMPARE(triggered.at(2).at(1).toInt(), m_offsetMinutes);
    QCOMPARE(server.requests().size(), 3);
    QCOMPARE(intervalChanged.size(), 2);
    QCOMPARE(sync.interval(), 60000);

    QSignalSpy enabledChanged(&sync, &SlTimeSync::enabledChanged);
    sync.setEnabled(true);
    sync.setEnabled(true);
    QTRY_COMPARE(server.requests().size(), 4);
    // Switching off is only recorded: the requests go on, and the property
    // still reads as the running timer.
    sync.setEnabled(false);
    QCOMPARE(QList<QVariantList>(enabledChanged), (QList<QVariantList>{{true}, {true}}));
    QVERIFY(sync.enabled());
}

QTEST_GUILESS_MAIN(TestSlTimeSync)
#include "tst_sltimesync.moc"
