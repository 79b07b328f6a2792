#include "time/slntpclient.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The client against a real NTP server: chronyd serving its own clock on
// 127.0.0.1 port 123, which is this machine's clock.
class TestNtpChrony : public QObject
{
    Q_OBJECT
private slots:
    void realReply();
    void cleanupTestCase() { m_chronyd.terminate(), m_chronyd.waitForFinished(5000); }

private:
    QTemporaryDir m_dir;
    QProcess m_chronyd;
};

void TestNtpChrony::realReply()
{
    const QString chronyd = QStandardPaths::findExecutable(
        QStringLiteral("chronyd"), {"/usr/sbin", "/usr/bin", "/sbin", "/usr/local/sbin"});
    if (chronyd.isEmpty())
        QSKIP("chronyd is not installed; the exchange with a real NTP server is not tested");
    QFile conf(m_dir.filePath("chrony.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("local stratum 8\nallow 127.0.0.1\nbindaddress 127.0.0.1\nport 123\n"
                              "cmdport 0\npidfile %1\ndriftfile %2\n")
                   .arg(m_dir.filePath("chronyd.pid"), m_dir.filePath("drift"))
                   .toUtf8());
    conf.close();
    m_chronyd.setProcessChannelMode(QProcess::MergedChannels);
    m_chronyd.start(chronyd, {"-d", "-x", "-u", "root", "-f", conf.fileName()});
    QVERIFY2(m_chronyd.waitForStarted(), qPrintable(m_chronyd.errorString()));

    // The default port is the standard one, which chronyd serves.
    SlNTPClient client;
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setTimeoutInterval(100);
    QDateTime result, seen, sent;
    connect(&client, &SlNTPClient::timeUpdated, this, [&](const QDateTime &time) {
        seen = QDateTime::currentDateTimeUtc();
        result = time;
    });
    // Ask until it answers: it needs a moment to open its socket.
    for (int i = 0; i < 50 && !result.isValid() && m_chronyd.state() == QProcess::Running; ++i) {
        sent = QDateTime::currentDateTimeUtc();
        client.sendRequest();
        QTRY_VERIFY_WITH_TIMEOUT(result.isValid() || !client.active(), 5000);
    }
    QVERIFY2(result.isValid(),
             qPrintable("chronyd did not answer: " + QString::fromLocal8Bit(m_chronyd.readAll())));
    // chronyd serves this machine's own clock, so the time to set lies between the request
    // and the moment the answer was seen (a busy machine, a sanitizer build, only widen that
    // window), give or take the milliseconds the timestamps are cut to.
    const qint64 error = result.msecsTo(seen), window = sent.msecsTo(seen);
    QVERIFY2(qAbs(error) <= window + 2,
             qPrintable(QStringLiteral("off by %1 ms in %2 ms").arg(error).arg(window)));
    QCOMPARE(result.timeSpec(), Qt::UTC);
    QVERIFY(!client.active());
}

QTEST_GUILESS_MAIN(TestNtpChrony)
#include "tst_ntpchrony.moc"
