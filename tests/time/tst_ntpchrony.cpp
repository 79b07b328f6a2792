#include "time/ntpclient.h"
#include "time/slntpclient.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

// The client against a real NTP server: chronyd serving its own clock on
// 127.0.0.1 port 123, which is this machine's clock.
class TestNtpChrony : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void realReply();
    void timeMatchesLocalClock();

private:
    QTemporaryDir m_dir;
    QProcess m_chronyd;
};

void TestNtpChrony::initTestCase()
{
    const QString chronyd = QStandardPaths::findExecutable(
        QStringLiteral("chronyd"), {"/usr/sbin", "/usr/bin", "/sbin", "/usr/local/sbin"});
    if (chronyd.isEmpty())
        QSKIP("chronyd is not installed; the exchange with a real NTP server is not tested");

    QVERIFY(m_dir.isValid());
    const QString conf = m_dir.filePath("chrony.conf");
    QFile file(conf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("local stratum 8\n"
               "allow 127.0.0.1\n"
               "bindaddress 127.0.0.1\n"
               "port 123\n"
               "cmdport 0\n");
    file.write(QStringLiteral("pidfile %1\ndriftfile %2\n")
                   .arg(m_dir.filePath("chronyd.pid"), m_dir.filePath("drift"))
                   .toUtf8());
    file.close();

    m_chronyd.setProcessChannelMode(QProcess::MergedChannels);
    m_chronyd.start(chronyd, {"-d", "-x", "-u", "root", "-f", conf});
    QVERIFY2(m_chronyd.waitForStarted(), qPrintable(m_chronyd.errorString()));

    // Ask until it answers: it needs a moment to open its socket.
    SlNTPClient probe;
    probe.setHost(QStringLiteral("127.0.0.1"));
    probe.setTimeoutInterval(100);
    QSignalSpy updated(&probe, &SlNTPClient::timeUpdated);
    for (int attempt = 0; attempt < 50 && updated.isEmpty(); ++attempt) {
        if (m_chronyd.state() != QProcess::Running)
            break;
        probe.sendRequest();
        const bool settled = QTest::qWaitFor([&] { return !probe.active(); }, 500);
        Q_UNUSED(settled)
    }
    QVERIFY2(!updated.isEmpty(),
             qPrintable("chronyd did not answer: " + QString::fromLocal8Bit(m_chronyd.readAll())));
}

void TestNtpChrony::cleanupTestCase()
{
    if (m_chronyd.state() == QProcess::NotRunning)
        return;
    m_chronyd.terminate();
    if (!m_chronyd.waitForFinished(5000)) {
        m_chronyd.kill();
        m_chronyd.waitForFinished(5000);
    }
}

void TestNtpChrony::realReply()
{
    NtpClient client;
    // QHostAddress is no meta-type, so a spy cannot hold the arguments.
    QList<std::tuple<QHostAddress, quint16, NtpReply>> replies;
    connect(&client, &NtpClient::replyReceived, this,
            [&](const QHostAddress &address, quint16 port, const NtpReply &reply) {
                replies.append({address, port, reply});
            });
    QVERIFY(client.sendRequest(QHostAddress::LocalHost, 123));
    QTRY_COMPARE(replies.size(), 1);

    QCOMPARE(std::get<0>(replies.at(0)).toIPv4Address(), 0x7F000001u);
    QCOMPARE(std::get<1>(replies.at(0)), quint16(123));
    const NtpReply reply = std::get<2>(replies.at(0));
    QCOMPARE(reply.mode(), 4);
    QCOMPARE(reply.stratum(), 8);
    QVERIFY(reply.leapIndicator() != 3);
    QVERIFY(reply.transmitTimestamp() != 0);
}

void TestNtpChrony::timeMatchesLocalClock()
{
    SlNTPClient client;
    client.setHost(QStringLiteral("127.0.0.1"));
    QDateTime result;
    QDateTime seen;
    connect(&client, &SlNTPClient::timeUpdated, this, [&](const QDateTime &time) {
        seen = QDateTime::currentDateTimeUtc();
        result = time;
    });
    QVERIFY(client.sendRequest());
    QTRY_VERIFY(result.isValid());

    // chronyd serves this machine's own clock, so the time to set is the local
    // clock at arrival, give or take the half round trip.
    const qint64 error = result.msecsTo(seen);
    QVERIFY2(qAbs(error) <= 10, qPrintable(QStringLiteral("off by %1 ms").arg(error)));
    QCOMPARE(result.timeSpec(), Qt::UTC);
    QVERIFY(!client.active());
}

QTEST_GUILESS_MAIN(TestNtpChrony)
#include "tst_ntpchrony.moc"
