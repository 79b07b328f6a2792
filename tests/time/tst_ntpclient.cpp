#include "fakentpserver.h"

#include "time/ntpclient.h"
#include "time/ntpreply.h"
#include "time/slntpclient.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <QtEndian>

namespace {
QDateTime utc(const QString &text)
{
    return QDateTime::fromString(text + 'Z', Qt::ISODateWithMs);
}

// The smallest timestamp that decodes back to exactly this millisecond.
quint64 timestampOf(const QDateTime &t)
{
    const qint64 n = t.toMSecsSinceEpoch() + 2208988800000LL;
    return (quint64(n / 1000) << 32) | (((quint64(n % 1000) << 32) + 999) / 1000);
}

} // namespace

class TestNtpClient : public QObject
{
    Q_OBJECT
private slots:
    void timestamps_data();
    void timestamps();
    void timeToSet_data();
    void timeToSet();
    void exchange_data();
    void exchange();
    void burstAndLongDatagram();
    void nullAndEmptyHost();
};

void TestNtpClient::timestamps_data()
{
    QTest::addColumn<qint64>("msecs");
    QTest::addColumn<quint32>("noise");
    QTest::addColumn<quint64>("timestamp");
    QTest::addColumn<QString>("decoded");

    const qint64 era1 = (qint64(1) << 32) * 1000 - 2208988800000LL;
    const quint64 unix = quint64(0x83AA7E80) << 32;
    QTest::newRow("500 ms") << qint64(500) << 0u << (unix | 0x80000000u)
                            << "1970-01-01T00:00:00.500";
    // The noise fills the low bits only, and decoding floors the fraction.
    QTest::newRow("noise") << qint64(999) << 0xFFFFFFFFu << (unix | 0xFFBFFFFFu)
                           << "1970-01-01T00:00:00.999";
    QTest::newRow("1 ms") << qint64(1) << 0u << (unix | 0x00400000u) << "1970-01-01T00:00:00.000";
    QTest::newRow("last second of era 0")
        << era1 - 1000 << 0u << (quint64(0xFFFFFFFFu) << 32) << "2036-02-07T06:28:15.000";
    // Eras are not told apart: era 1 decodes to just after 1900.
    QTest::newRow("era 1") << era1 + 2000 << 0u << (quint64(2) << 32) << "1900-01-01T00:00:02.000";
}

void TestNtpClient::timestamps()
{
    QFETCH(qint64, msecs);
    QFETCH(quint32, noise);
    QFETCH(quint64, timestamp);
    QFETCH(QString, decoded);

    const QByteArray packet = NtpClient::requestPacket(msecs, noise);
    // Leap 0, version 4, client mode, and nothing else but the transmit time.
    QCOMPARE(packet.chopped(8), "\x23" + QByteArray(39, '\0'));
    QCOMPARE(qFromBigEndian<quint64>(packet.constData() + 40), timestamp);
    QCOMPARE(NtpReply(packet, QDateTime()).transmitTime(), utc(decoded));
    QCOMPARE(NtpReply(packet.left(10), QDateTime()).data(), packet.left(10) + QByteArray(58, '\0'));
}

void TestNtpClient::timeToSet_data()
{
    // Origin, arrival (in local time), server transmit and the result: the
    // transmit time plus half the round trip, truncated.
    QTest::addColumn<QString>("times");
    QTest::newRow("odd round trip") << "10:00:00.000 10:00:00.301 12:00:00.000 12:00:00.150";
    QTest::newRow("local clock stepped back") << "10:00:00.301 10:00:00 12:00:00 11:59:59.850";
}

void TestNtpClient::timeToSet()
{
    QFETCH(QString, times);
    QList<QDateTime> t;
    for (const QString &time : times.split(' '))
        t << utc("2026-03-01T" + time);
    const QByteArray request = QByteArray(40, '\0') + FakeNtpServer::bigEndian64(timestampOf(t[0]));
    const NtpReply reply(FakeNtpServer::replyTo(request, timestampOf(t[2])), t[1].toLocalTime());
    QCOMPARE(SlNTPClient::timeToSet(reply), t[3]);
    QCOMPARE(SlNTPClient::timeToSet(reply).timeSpec(), Qt::UTC);
}

void TestNtpClient::exchange_data()
{
    QTest::addColumn<QByteArray>("spoil"); // what comes before the genuine reply
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("accepted"); // whether the genuine reply still counts

    QTest::newRow("genuine reply") << QByteArray() << QString() << true;
    QTest::newRow("by host name") << QByteArray("by name") << QString() << true;
    QTest::newRow("late reply") << QByteArray("late") << QString() << true;
    // A kiss is checked before the leap indicator it comes with; all but an
    // unknown code make the client leave that server alone.
    for (const char *code : {"DENY", "RSTR", "RATE", "XYZW"})
        QTest::addRow("kiss %s", code) << "kiss " + QByteArray(code) << "kiss-o'-death" << false;
    QTest::newRow("leap indicator 3") << QByteArray("0=228") << "not synchronised" << false;
    QTest::newRow("stratum 16") << QByteArray("1=16") << "stratum unsynchronised" << false;
    QTest::newRow("stratum 255") << QByteArray("1=255") << "stratum unsynchronised" << false;
    QTest::newRow("client mode") << QByteArray("0=35") << "not a server reply" << false;
    QTest::newRow("broadcast mode") << QByteArray("0=37") << "not a server reply" << false;
    QTest::newRow("version 2") << QByteArray("0=20") << "unsupported version" << false;
    QTest::newRow("version 5") << QByteArray("0=44") << "unsupported version" << false;
    QTest::newRow("zero transmit") << QByteArray("zero") << "zero transmit" << false;
    QTest::newRow("origin off by one bit") << QByteArray("flip") << "origin timestamp" << true;
    QTest::newRow("other port") << QByteArray("other port") << "not the server" << true;
    QTest::newRow("other address") << QByteArray("other address") << "not the server" << true;
    QTest::newRow("47 bytes") << QByteArray("short") << "datagram of 47 bytes" << true;
}

void TestNtpClient::exchange()
{
    QFETCH(QByteArray, spoil);
    QFETCH(QString, reason);
    QFETCH(bool, accepted);
    const bool late = spoil == "late";
    FakeNtpServer server(spoil == "by name" ? QHostAddress::Any : QHostAddress::LocalHost);
    SlNTPClient client;
    client.setServerPort(server.port());
    client.setHost(spoil == "by name" ? "localhost" : "127.0.0.1");
    client.setTimeoutInterval(accepted && !late ? 10000 : 200);
    QStringList events;
    connect(&client, &SlNTPClient::timeOut, this, [&] { events << "timeOut"; });
    connect(&client, &SlNTPClient::activeChanged, this,
            [&](bool active) { events << (active ? "active" : "idle"); });
    QSignalSpy updated(&client, &SlNTPClient::timeUpdated);

    const QDateTime before = QDateTime::currentDateTimeUtc();
    // A name is looked up first; the exchange counts as running meanwhile.
    QCOMPARE(client.sendRequest(), spoil != "by name");
    QVERIFY(client.active());
    // A second request while waiting does not signal again.
    QVERIFY(!late || client.sendRequest());
    QTRY_COMPARE(server.requests().size(), late ? 2 : 1);
    const FakeNtpServer::Request request = server.requests().last();
    const QByteArray valid = FakeNtpServer::replyTo(request.data);

    QByteArray bad = valid;
    if (spoil.startsWith("kiss")) {
        bad[0] = char(0xE4); // leap 3, version 4, mode 4
        bad[1] = 0;
        bad.replace(12, 4, spoil.mid(5));
    } else if (spoil.contains('=')) {
        bad[spoil.split('=').at(0).toInt()] = char(spoil.split('=').at(1).toInt());
    } else if (spoil == "flip") {
        bad[31] = char(bad.at(31) ^ 1);
    } else if (spoil == "zero") {
        bad.replace(40, 8, QByteArray(8, '\0'));
    } else if (spoil == "short") {
        bad.chop(1);
    }
    if (!reason.isEmpty()) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(reason)));
        // Another port on this host, or the server's port on another address.
        QUdpSocket other;
        if (spoil.startsWith("other")) {
            const bool port = spoil == "other port";
            QVERIFY(other.bind(QHostAddress(port ? "127.0.0.1" : "127.0.0.2"),
                               port ? 0 : server.port()));
            other.writeDatagram(bad, QHostAddress::LocalHost, request.senderPort);
        } else {
            server.answer(request, bad);
        }
        // Loopback delivers at once; this only lets the event loop read it.
        QTest::qWait(50);
        QCOMPARE(updated.size(), 0);
    }
    const QStringList timedOut = {"active", "timeOut", "idle"};
    if (!accepted || late)
        QTRY_COMPARE(events, timedOut);
    // Once the server has had its say on a request, its genuine answer is a
    // duplicate, and so is a copy of an accepted one replayed later.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("no request outstanding|origin timestamp"));
    server.answer(request, valid);
    if (accepted)
        server.answer(request, valid);
    QTest::qWait(50);
    QTRY_COMPARE(updated.size(), accepted ? 1 : 0);
    QCOMPARE(events, accepted && !late ? QStringList({"active", "idle"}) : timedOut);
    const QDateTime time = accepted ? updated.at(0).at(0).toDateTime() : before;
    QCOMPARE(time.timeSpec(), Qt::UTC);
    QVERIFY(time >= before.addMSecs(-1) && time <= QDateTime::currentDateTimeUtc().addMSecs(1));
    if (spoil.startsWith("kiss")) {
        QCOMPARE(client.sendRequest(), spoil == "kiss XYZW");
        QTRY_COMPARE(server.requests().size(), spoil == "kiss XYZW" ? 2 : 1);
        FakeNtpServer otherServer; // still asked
        client.setServerPort(otherServer.port());
        QVERIFY(client.sendRequest());
        QTRY_COMPARE(otherServer.requests().size(), 1);
    }
}

void TestNtpClient::burstAndLongDatagram()
{
    FakeNtpServer server;
    NtpClient client;
    // QHostAddress is no meta-type, so a spy cannot hold the arguments.
    QList<NtpReply> replies;
    connect(&client, &NtpClient::replyReceived, this,
            [&](const QHostAddress &, quint16, const NtpReply &reply) { replies << reply; });
    for (int i = 0; i < 3; ++i)
        QVERIFY(client.sendRequest(QHostAddress::LocalHost, server.port()));
    QTRY_COMPARE(server.requests().size(), 3);
    // Sent within the same millisecond, the requests still differ.
    QVERIFY(server.requests().at(0).data.mid(40) != server.requests().at(1).data.mid(40));

    // Answers may come in any order, each request is believed once; a
    // datagram longer than a packet is cut.
    const auto answer = [&](int i, const QByteArray &tail = QByteArray()) {
        const QByteArray reply = FakeNtpServer::replyTo(server.requests().at(i).data) + tail;
        server.answer(server.requests().at(i), reply);
        return reply;
    };
    const QByteArray longReply = answer(1, "0123456789abcdefghijklmnopqrstuvwxyz");
    answer(0);
    QTRY_COMPARE(replies.size(), 2);
    QCOMPARE(replies.at(0).data(), longReply.left(68));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("origin timestamp does not match"));
    answer(1);
    answer(2);
    QTRY_COMPARE(replies.size(), 3);
}

void TestNtpClient::nullAndEmptyHost()
{
    SlNTPClient client;
    client.setTimeoutInterval(100);
    QSignalSpy hostChanged(&client, &SlNTPClient::hostChanged);

    QTest::ignoreMessage(QtDebugMsg, "SlNTPClient::sendRequest() host is empty");
    QVERIFY(!client.sendRequest());
    QVERIFY(!client.active());

    // Qt holds the null and the empty text equal, so only a host that was
    // set and then cleared is empty without being null.
    client.setHost(QLatin1String(""));
    client.setHost(QStringLiteral("time.example"));
    client.setHost(QLatin1String(""));
    QCOMPARE(hostChanged.size(), 2);

    // An empty name is looked up, finds nothing and the exchange times out.
    QVERIFY(!client.sendRequest());
    QVERIFY(client.active());
    QTRY_VERIFY(!client.active());
}

QTEST_GUILESS_MAIN(TestNtpClient)
#include "tst_ntpclient.moc"
