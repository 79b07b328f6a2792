#include "fakentpserver.h"

#include "time/ntpclient.h"
#include "time/ntpreply.h"
#include "time/slntpclient.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <QtEndian>
#include <tuple>

namespace {
const QDateTime kEpoch = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);

QDateTime utc(const char *text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC);
    return t;
}

// The smallest timestamp that decodes back to exactly this millisecond.
quint64 timestampOf(const QDateTime &t)
{
    const qint64 n = t.toMSecsSinceEpoch() + 2208988800000LL;
    const quint64 fraction = ((quint64(n % 1000) << 32) + 999) / 1000;
    return (quint64(n / 1000) << 32) | fraction;
}

QByteArray header(quint64 origin, quint64 transmit)
{
    QByteArray data = FakeNtpServer::replyTo(QByteArray(48, '\0'), transmit);
    data.replace(24, 8, FakeNtpServer::bigEndian64(origin));
    return data;
}

quint64 transmitOf(const QByteArray &packet)
{
    return qFromBigEndian<quint64>(packet.constData() + 40);
}
} // namespace

class TestNtpClient : public QObject
{
    Q_OBJECT
private slots:
    void requestPacket_data();
    void requestPacket();
    void requestNoiseDiffers();
    void timestampDecoding_data();
    void timestampDecoding();
    void replyFields();
    void timeToSet_data();
    void timeToSet();
    void exchangeWithServer();
    void exchangeByHostName();
    void datagramCutTo68Bytes();
    void invalidReplyRejected_data();
    void invalidReplyRejected();
    void unsolicitedAndDuplicateRejected();
    void burstAnsweredOncePerRequest();
    void kissOfDeathHoldsOff_data();
    void kissOfDeathHoldsOff();
    void timeOutEndsExchange();
    void lateReplyStillCounts();
    void nullAndEmptyHost();

private:
    struct Exchange;
};

void TestNtpClient::requestPacket_data()
{
    QTest::addColumn<qint64>("msecs");
    QTest::addColumn<quint32>("noise");
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<quint32>("fraction");

    QTest::newRow("epoch + 500 ms") << qint64(500) << 0u << 0x83AA7E80u << 0x80000000u;
    QTest::newRow("noise fills low bits only")
        << qint64(500) << 0xFFFFFFFFu << 0x83AA7E80u << 0x800FFFFFu;
    QTest::newRow("epoch + 1 ms") << qint64(1) << 0u << 0x83AA7E80u << 0x00400000u;
    QTest::newRow("2026-12-06 15:00:00.250")
        << utc("2026-12-06T15:00:00.250").toMSecsSinceEpoch() << 0x12345u
        << quint32(utc("2026-12-06T15:00:00").toSecsSinceEpoch() + 2208988800LL) << 0x40012345u;
    QTest::newRow("era 1 wraps the seconds")
        << (qint64(1) << 32) * 1000 - 2208988800000LL + 2000 << 0u << 2u << 0u;
}

void TestNtpClient::requestPacket()
{
    QFETCH(qint64, msecs);
    QFETCH(quint32, noise);
    QFETCH(quint32, seconds);
    QFETCH(quint32, fraction);

    const QByteArray packet = NtpClient::requestPacket(msecs, noise);
    QCOMPARE(packet.size(), 48);
    QCOMPARE(quint8(packet.at(0)), quint8(0x23));
    QCOMPARE(packet.mid(1, 39), QByteArray(39, '\0'));
    QCOMPARE(qFromBigEndian<quint32>(packet.constData() + 40), seconds);
    QCOMPARE(qFromBigEndian<quint32>(packet.constData() + 44), fraction);
}

void TestNtpClient::requestNoiseDiffers()
{
    // Two requests in the same millisecond must still be told apart.
    FakeNtpServer server;
    NtpClient client;
    QSignalSpy received(&server, &FakeNtpServer::requestReceived);
    QVERIFY(client.sendRequest(QHostAddress::LocalHost, server.port()));
    QVERIFY(client.sendRequest(QHostAddress::LocalHost, server.port()));
    QTRY_COMPARE(server.requests().size(), 2);
    const quint64 first = transmitOf(server.requests().at(0).data);
    const quint64 second = transmitOf(server.requests().at(1).data);
    QVERIFY(first != second);
    QVERIFY(qAbs(qint64(second - first)) < (qint64(1) << 32));
}

void TestNtpClient::timestampDecoding_data()
{
    QTest::addColumn<quint64>("timestamp");
    QTest::addColumn<QDateTime>("expected");

    QTest::newRow("unix epoch") << (quint64(0x83AA7E80) << 32) << kEpoch;
    QTest::newRow("half a second")
        << ((quint64(0x83AA7E80) << 32) | 0x80000000u) << kEpoch.addMSecs(500);
    QTest::newRow("fraction floors")
        << ((quint64(0x83AA7E80) << 32) | 0xFFFFFFFFu) << kEpoch.addMSecs(999);
    QTest::newRow("ntp epoch is before 1970") << quint64(0) << utc("1900-01-01T00:00:00.000");
    QTest::newRow("last second of era 0")
        << (quint64(0xFFFFFFFFu) << 32) << utc("2036-02-07T06:28:15.000");
}

void TestNtpClient::timestampDecoding()
{
    QFETCH(quint64, timestamp);
    QFETCH(QDateTime, expected);
    QCOMPARE(NtpReply::timestampToDateTime(timestamp).toUTC(), expected);

    const QByteArray data = QByteArray(40, '\0') + FakeNtpServer::bigEndian64(timestamp);
    QCOMPARE(NtpReply(data, QDateTime()).transmitTime().toUTC(), expected);
}

void TestNtpClient::replyFields()
{
    QByteArray data = header(0x0102030405060708ull, 0x1112131415161718ull);
    data[0] = char(0xDC); // leap 3, version 3, mode 4
    data[1] = 0;
    data.replace(12, 4, "RATE");
    data.append(QByteArray(30, 'x'));
    const QDateTime arrival = QDateTime::currentDateTime();
    const NtpReply reply(data, arrival);

    QCOMPARE(reply.data().size(), 68);
    QCOMPARE(reply.data(), data.left(68));
    QCOMPARE(reply.leapIndicator(), 3);
    QCOMPARE(reply.versionNumber(), 3);
    QCOMPARE(reply.mode(), 4);
    QCOMPARE(reply.stratum(), 0);
    QCOMPARE(reply.referenceId(), QByteArray("RATE"));
    QCOMPARE(reply.originTimestamp(), 0x0102030405060708ull);
    QCOMPARE(reply.transmitTimestamp(), 0x1112131415161718ull);
    QCOMPARE(reply.destinationTime(), arrival);

    const NtpReply shortOne(QByteArray(10, '\x01'), arrival);
    QCOMPARE(shortOne.data(), QByteArray(10, '\x01') + QByteArray(58, '\0'));
}

void TestNtpClient::timeToSet_data()
{
    QTest::addColumn<QDateTime>("t1");
    QTest::addColumn<QDateTime>("t4");
    QTest::addColumn<QDateTime>("t3");
    QTest::addColumn<QDateTime>("expected");

    QTest::newRow("300 ms round trip")
        << utc("2026-03-01T10:00:00.000") << utc("2026-03-01T10:00:00.300")
        << utc("2026-03-01T12:00:00.000") << utc("2026-03-01T12:00:00.150");
    QTest::newRow("odd round trip truncates")
        << utc("2026-03-01T10:00:00.000") << utc("2026-03-01T10:00:00.301")
        << utc("2026-03-01T12:00:00.000") << utc("2026-03-01T12:00:00.150");
    QTest::newRow("no round trip")
        << utc("2026-03-01T10:00:00.123") << utc("2026-03-01T10:00:00.123")
        << utc("2026-03-01T09:59:59.999") << utc("2026-03-01T09:59:59.999");
    QTest::newRow("local clock stepped back")
        << utc("2026-03-01T10:00:00.301") << utc("2026-03-01T10:00:00.000")
        << utc("2026-03-01T12:00:00.000") << utc("2026-03-01T11:59:59.850");
    QTest::newRow("arrival in local time")
        << utc("2026-03-01T10:00:00.000") << utc("2026-03-01T10:00:00.040").toLocalTime()
        << utc("2026-03-01T10:00:05.000") << utc("2026-03-01T10:00:05.020");
    QTest::newRow("across midnight")
        << utc("2026-12-31T23:59:59.900") << utc("2027-01-01T00:00:00.100")
        << utc("2026-12-31T23:59:59.950") << utc("2027-01-01T00:00:00.050");
}

void TestNtpClient::timeToSet()
{
    QFETCH(QDateTime, t1);
    QFETCH(QDateTime, t4);
    QFETCH(QDateTime, t3);
    QFETCH(QDateTime, expected);

    const NtpReply reply(header(timestampOf(t1), timestampOf(t3)), t4);
    QCOMPARE(reply.originTime(), t1);
    QCOMPARE(reply.transmitTime(), t3);
    const QDateTime result = SlNTPClient::timeToSet(reply);
    QCOMPARE(result, expected);
    QCOMPARE(result.timeSpec(), Qt::UTC);
}

void TestNtpClient::exchangeWithServer()
{
    FakeNtpServer server;
    server.setAutoReply(true);
    SlNTPClient client;
    client.setServerPort(server.port());
    client.setHost(QStringLiteral("127.0.0.1"));
    QSignalSpy updated(&client, &SlNTPClient::timeUpdated);
    QSignalSpy active(&client, &SlNTPClient::activeChanged);
    QSignalSpy timeOut(&client, &SlNTPClient::timeOut);

    const QDateTime before = QDateTime::currentDateTimeUtc();
    QVERIFY(client.sendRequest());
    QVERIFY(client.active());
    QTRY_COMPARE(updated.size(), 1);
    const QDateTime after = QDateTime::currentDateTimeUtc();

    const QDateTime time = updated.at(0).at(0).toDateTime();
    QCOMPARE(time.timeSpec(), Qt::UTC);
    QVERIFY2(time >= before.addMSecs(-1) && time <= after.addMSecs(1),
             qPrintable(time.toString(Qt::ISODateWithMs)));
    QVERIFY(!client.active());
    QCOMPARE(active.size(), 2);
    QCOMPARE(active.at(0).at(0).toBool(), true);
    QCOMPARE(active.at(1).at(0).toBool(), false);
    QCOMPARE(timeOut.size(), 0);

    const FakeNtpServer::Request &request = server.requests().at(0);
    QCOMPARE(request.data.size(), 48);
    QCOMPARE(quint8(request.data.at(0)), quint8(0x23));
}

void TestNtpClient::exchangeByHostName()
{
    FakeNtpServer server(QHostAddress::Any);
    server.setAutoReply(true);
    SlNTPClient client;
    client.setServerPort(server.port());
    client.setHost(QStringLiteral("localhost"));
    QSignalSpy updated(&client, &SlNTPClient::timeUpdated);
    QSignalSpy active(&client, &SlNTPClient::activeChanged);

    // The lookup answers later; the exchange counts as running meanwhile.
    QVERIFY(!client.sendRequest());
    QVERIFY(client.active());
    QCOMPARE(active.size(), 1);
    QTRY_COMPARE(updated.size(), 1);
    QVERIFY(!client.active());
}

void TestNtpClient::datagramCutTo68Bytes()
{
    FakeNtpServer server;
    NtpClient client;
    // QHostAddress is no meta-type, so a spy cannot hold the arguments.
    QList<std::tuple<QHostAddress, quint16, NtpReply>> replies;
    connect(&client, &NtpClient::replyReceived, this,
            [&](const QHostAddress &address, quint16 port, const NtpReply &reply) {
                replies.append({address, port, reply});
            });
    QVERIFY(client.sendRequest(QHostAddress::LocalHost, server.port()));
    QTRY_COMPARE(server.requests().size(), 1);

    QByteArray reply = FakeNtpServer::replyTo(server.requests().at(0).data);
    for (int i = 48; i < 90; ++i)
        reply.append(char(i));
    server.answer(server.requests().at(0), reply);
    QTRY_COMPARE(replies.size(), 1);

    QCOMPARE(std::get<0>(replies.at(0)).toIPv4Address(), 0x7F000001u);
    QCOMPARE(std::get<1>(replies.at(0)), server.port());
    const NtpReply received = std::get<2>(replies.at(0));
    QCOMPARE(received.data(), reply.left(68));
    QVERIFY(received.destinationTime().isValid());
}

struct TestNtpClient::Exchange
{
    FakeNtpServer server;
    SlNTPClient client;
    QSignalSpy updated{&client, &SlNTPClient::timeUpdated};
    QSignalSpy timedOut{&client, &SlNTPClient::timeOut};

    Exchange()
    {
        client.setServerPort(server.port());
        client.setHost(QStringLiteral("127.0.0.1"));
    }
    bool start()
    {
        return client.sendRequest() &&
               QTest::qWaitFor([this] { return !server.requests().isEmpty(); });
    }
    const FakeNtpServer::Request &request() const { return server.requests().last(); }
};

void TestNtpClient::invalidReplyRejected_data()
{
    QTest::addColumn<QByteArray>("mutation");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("realReplyAccepted");

    // How a valid reply is spoilt: "byte:offset:value", "flip:offset" (lowest
    // bit), "kiss:code", or a word for what bytes cannot say.
    QTest::newRow("kiss DENY") << QByteArray("kiss:DENY") << "kiss-o'-death" << false;
    QTest::newRow("kiss RSTR") << QByteArray("kiss:RSTR") << "kiss-o'-death" << false;
    QTest::newRow("kiss RATE") << QByteArray("kiss:RATE") << "kiss-o'-death" << false;
    QTest::newRow("leap indicator 3") << QByteArray("byte:0:228") << "not synchronised" << false;
    QTest::newRow("stratum 16") << QByteArray("byte:1:16") << "stratum unsynchronised" << false;
    QTest::newRow("stratum 255") << QByteArray("byte:1:255") << "stratum unsynchronised" << false;
    QTest::newRow("client mode") << QByteArray("byte:0:35") << "not a server reply" << false;
    QTest::newRow("broadcast mode") << QByteArray("byte:0:37") << "not a server reply" << false;
    QTest::newRow("version 2") << QByteArray("byte:0:20") << "unsupported version" << false;
    QTest::newRow("version 5") << QByteArray("byte:0:44") << "unsupported version" << false;
    QTest::newRow("zero transmit") << QByteArray("zero-transmit") << "zero transmit" << false;
    QTest::newRow("origin off by one bit") << QByteArray("flip:31") << "origin timestamp" << true;
    QTest::newRow("origin of another request")
        << QByteArray("foreign-origin") << "origin timestamp" << true;
    QTest::newRow("other sender port") << QByteArray("other-port") << "not the server" << true;
    QTest::newRow("other sender address")
        << QByteArray("other-address") << "not the server" << true;
    QTest::newRow("47 bytes") << QByteArray("short") << "datagram of 47 bytes" << true;
}

void TestNtpClient::invalidReplyRejected()
{
    QFETCH(QByteArray, mutation);
    QFETCH(QString, reason);
    QFETCH(bool, realReplyAccepted);

    Exchange x;
    x.client.setTimeoutInterval(150);
    QVERIFY(x.start());
    const QByteArray valid = FakeNtpServer::replyTo(x.request().data);
    QByteArray bad = valid;
    const QList<QByteArray> parts = mutation.split(':');

    if (parts.at(0) == "kiss") {
        bad[0] = char(0xE4); // leap 3, version 4, mode 4
        bad[1] = 0;
        bad.replace(12, 4, parts.at(1));
    } else if (parts.at(0) == "byte") {
        bad[parts.at(1).toInt()] = char(parts.at(2).toInt());
    } else if (parts.at(0) == "flip") {
        bad[parts.at(1).toInt()] = char(bad.at(parts.at(1).toInt()) ^ 1);
    } else if (mutation == "foreign-origin") {
        bad.replace(24, 8,
                    NtpClient::requestPacket(QDateTime::currentMSecsSinceEpoch(), 7).mid(40));
    } else if (mutation == "zero-transmit") {
        bad.replace(40, 8, QByteArray(8, '\0'));
    } else if (mutation == "short") {
        bad.chop(1);
    }

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(reason)));
    QUdpSocket other;
    if (mutation == "other-port") {
        QVERIFY(other.bind(QHostAddress(QHostAddress::LocalHost), 0));
        other.writeDatagram(bad, x.request().sender, x.request().senderPort);
    } else if (mutation == "other-address") {
        QVERIFY(other.bind(QHostAddress(QStringLiteral("127.0.0.2")), x.server.port()));
        other.writeDatagram(bad, QHostAddress::LocalHost, x.request().senderPort);
    } else {
        x.server.answer(x.request(), bad);
    }
    // Loopback delivers at once; this only lets the event loop read it.
    QTest::qWait(50);
    QCOMPARE(x.updated.size(), 0);

    x.server.answer(x.request(), valid);
    if (realReplyAccepted) {
        QTRY_COMPARE(x.updated.size(), 1);
        QCOMPARE(x.timedOut.size(), 0);
    } else {
        // The server has had its say on this request: its genuine answer is a
        // duplicate now, and the exchange ends in a time-out.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("no request outstanding"));
        QTRY_COMPARE(x.timedOut.size(), 1);
        QCOMPARE(x.updated.size(), 0);
        QVERIFY(!x.client.active());
    }
}

void TestNtpClient::unsolicitedAndDuplicateRejected()
{
    Exchange x;
    x.client.setTimeoutInterval(300);
    QByteArray unsolicited = FakeNtpServer::replyTo(NtpClient::requestPacket(0, 0));
    QVERIFY(x.start());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("origin timestamp does not match"));
    x.server.answer(x.request(), unsolicited);

    const QByteArray valid = FakeNtpServer::replyTo(x.request().data);
    x.server.answer(x.request(), valid);
    QTRY_COMPARE(x.updated.size(), 1);

    // A copy of the answer replayed later must not set the clock again.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("no request outstanding"));
    x.server.answer(x.request(), valid);
    QTest::qWait(100);
    QCOMPARE(x.updated.size(), 1);
}

void TestNtpClient::burstAnsweredOncePerRequest()
{
    FakeNtpServer server;
    NtpClient client;
    int accepted = 0;
    connect(&client, &NtpClient::replyReceived, this, [&] { ++accepted; });
    for (int i = 0; i < 3; ++i)
        QVERIFY(client.sendRequest(QHostAddress::LocalHost, server.port()));
    QTRY_COMPARE(server.requests().size(), 3);

    // Answers may come in any order, each request is believed once.
    const auto answer = [&](int i) {
        server.answer(server.requests().at(i),
                      FakeNtpServer::replyTo(server.requests().at(i).data));
    };
    answer(1);
    answer(0);
    QTRY_COMPARE(accepted, 2);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("origin timestamp does not match"));
    answer(1);
    answer(2);
    QTRY_COMPARE(accepted, 3);
}

void TestNtpClient::kissOfDeathHoldsOff_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<bool>("holdsOff");

    QTest::newRow("DENY") << QByteArray("DENY") << true;
    QTest::newRow("RSTR") << QByteArray("RSTR") << true;
    QTest::newRow("RATE") << QByteArray("RATE") << true;
    QTest::newRow("unknown code") << QByteArray("XYZW") << false;
}

void TestNtpClient::kissOfDeathHoldsOff()
{
    QFETCH(QByteArray, code);
    QFETCH(bool, holdsOff);

    FakeNtpServer server;
    FakeNtpServer otherServer;
    NtpClient client;
    QVERIFY(client.sendRequest(QHostAddress::LocalHost, server.port()));
    QTRY_COMPARE(server.requests().size(), 1);
    QByteArray kiss = FakeNtpServer::replyTo(server.requests().at(0).data);
    kiss[1] = 0;
    kiss.replace(12, 4, code);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("kiss-o'-death"));
    server.answer(server.requests().at(0), kiss);
    QTest::qWait(50);

    QCOMPARE(client.sendRequest(QHostAddress::LocalHost, server.port()), !holdsOff);
    // Other servers are still asked.
    QVERIFY(client.sendRequest(QHostAddress::LocalHost, otherServer.port()));
    QTRY_COMPARE(otherServer.requests().size(), 1);
    QCOMPARE(server.requests().size(), holdsOff ? 1 : 2);
}

void TestNtpClient::timeOutEndsExchange()
{
    Exchange x;
    x.client.setTimeoutInterval(150);
    QStringList events;
    connect(&x.client, &SlNTPClient::timeOut, this, [&] { events << "timeOut"; });
    connect(&x.client, &SlNTPClient::activeChanged, this,
            [&](bool active) { events << (active ? "active" : "idle"); });

    QVERIFY(x.start());
    QVERIFY(x.client.active());
    // A second request while waiting neither restarts the window nor re-signals.
    QVERIFY(x.client.sendRequest());
    QTRY_COMPARE(x.server.requests().size(), 2);
    QTRY_VERIFY(!x.client.active());
    QCOMPARE(events, QStringList({"active", "timeOut", "idle"}));
    QCOMPARE(x.updated.size(), 0);
}

void TestNtpClient::lateReplyStillCounts()
{
    Exchange x;
    x.client.setTimeoutInterval(50);
    QVERIFY(x.start());
    QTRY_COMPARE(x.timedOut.size(), 1);
    x.server.answer(x.request(), FakeNtpServer::replyTo(x.request().data));
    QTRY_COMPARE(x.updated.size(), 1);
    QVERIFY(!x.client.active());
}

void TestNtpClient::nullAndEmptyHost()
{
    SlNTPClient client;
    client.setTimeoutInterval(100);
    QSignalSpy active(&client, &SlNTPClient::activeChanged);
    QSignalSpy timedOut(&client, &SlNTPClient::timeOut);
    QSignalSpy hostChanged(&client, &SlNTPClient::hostChanged);

    QTest::ignoreMessage(QtDebugMsg, "SlNTPClient::sendRequest() host is empty");
    QVERIFY(!client.sendRequest());
    QCOMPARE(active.size(), 0);

    // Qt holds the null and the empty text equal, so only a host that was
    // set and then cleared is empty without being null.
    client.setHost(QLatin1String(""));
    QCOMPARE(hostChanged.size(), 0);
    client.setHost(QStringLiteral("time.example"));
    client.setHost(QLatin1String(""));
    QCOMPARE(hostChanged.size(), 2);
    QVERIFY(!client.host().isNull());

    // An empty name is looked up, finds nothing and the exchange times out.
    QVERIFY(!client.sendRequest());
    QVERIFY(client.active());
    QTRY_COMPARE(timedOut.size(), 1);
    QVERIFY(!client.active());
}

QTEST_GUILESS_MAIN(TestNtpClient)
#include "tst_ntpclient.moc"
