#include "fakeservice.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

// The fake service is the judge of every client's signatures, so its own check is proven here
// against digests computed from the texts, independently of the program's code.
class TestFakeService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signatureAndSerialChecks_data();
    void signatureAndSerialChecks();
    void scriptedReplies();

private:
    QNetworkReply *send(const QString &method, const QString &path, const QByteArray &body,
                        const QByteArray &signature, const QString &serial);

    FakeService m_service;
    QNetworkAccessManager m_manager;
};

void TestFakeService::initTestCase()
{
    m_service.setHostKey(QStringLiteral("00ff"));
    m_service.addDevice(QStringLiteral("SER-1"), QByteArray("k\x01y", 3));
    QVERIFY(m_service.start());
}

QNetworkReply *TestFakeService::send(const QString &method, const QString &path,
                                     const QByteArray &body, const QByteArray &signature,
                                     const QString &serial)
{
    QNetworkRequest request(QUrl(m_service.origin() + path));
    request.setSslConfiguration(m_service.sslConfiguration());
    request.setTransferTimeout(3000);
    request.setRawHeader("Signature", signature);
    request.setRawHeader("Host-Key", "00ff");
    request.setRawHeader("Serial-Number", serial.toLatin1());
    QNetworkReply *reply =
        method == QLatin1String("GET") ? m_manager.get(request) : m_manager.post(request, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(5000);
    return reply;
}

void TestFakeService::signatureAndSerialChecks_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QByteArray>("digestInput");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray key("k\x01y", 3);
    const QByteArray body("{\n    \"a\": 1\n}\n");
    QTest::newRow("GET signed with the gadget's key")
        << "GET"
        << "/en/api/v1/current_jobs/?limit=1" << QByteArray() << "SER-1"
        << "Host-Key:00ff:Serial-Number:SER-1:" + key << 200
        << QByteArray(R"({"current_job_list": []})");
    QTest::newRow("POST: body, then the text with its leading colon, then the key")
        << "POST"
        << "/en/api/v1/device_params/" << body << "SER-1"
        << body + ":Host-Key:00ff:Serial-Number:SER-1:" + key << 200 << QByteArray("{}");
    QTest::newRow("POST signed as a GET")
        << "POST"
        << "/en/api/v1/device_params/" << body << "SER-1"
        << "Host-Key:00ff:Serial-Number:SER-1:" + key << 406 << QByteArray("Signature wrong");
    QTest::newRow("gadget unknown to the service")
        << "GET"
        << "/en/api/v1/current_jobs/?limit=1" << QByteArray() << "SER-2"
        << QByteArray("Host-Key:00ff:Serial-Number:SER-2:") << 406
        << QByteArray("Serial-Number wrong");
}

void TestFakeService::signatureAndSerialChecks()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, serial);
    QFETCH(QByteArray, digestInput);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);

    const QByteArray signature =
        QCryptographicHash::hash(digestInput, QCryptographicHash::Md5).toHex();
    QScopedPointer<QNetworkReply> answer(send(method, path, body, signature, serial));
    QCOMPARE(answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(answer->readAll(), reply);
    const QJsonObject seen = m_service.requests().last().toObject();
    QCOMPARE(seen.value(QStringLiteral("signature")).toString(),
             status == 200 || reply.startsWith("Serial") ? QStringLiteral("ok")
                                                         : QStringLiteral("bad"));
}

void TestFakeService::scriptedReplies()
{
    const QString path = QStringLiteral("/en/api/v1/login/");
    FakeService::Reply hang;
    hang.never = true;
    hang.check = false;
    FakeService::Reply html;
    html.status = 200;
    html.body = "<html>proxy</html>";
    html.check = false;
    QVERIFY(m_service.script(QStringLiteral("POST"), path, html));
    QVERIFY(m_service.script(QStringLiteral("POST"), path, hang));

    QScopedPointer<QNetworkReply> first(send(QStringLiteral("POST"), path, "{}", "x", QString()));
    QCOMPARE(first->readAll(), QByteArray("<html>proxy</html>"));
    // The second entry never answers: only the client's own time-out ends it.
    QScopedPointer<QNetworkReply> second(send(QStringLiteral("POST"), path, "{}", "x", QString()));
    QCOMPARE(second->error(), QNetworkReply::OperationCanceledError);
    // Scripts are used up: the endpoint falls back to "not scripted".
    QScopedPointer<QNetworkReply> third(send(QStringLiteral("POST"), path, "{}", "x", QString()));
    QCOMPARE(third->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 406);
    QVERIFY(m_service.log().contains("REQUEST POST /en/api/v1/login/ signature=bad status=406"));
}

QTEST_GUILESS_MAIN(TestFakeService)
#include "tst_fakeservice.moc"
