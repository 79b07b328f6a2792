#include "fakeservice.h"

#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QSslCertificate>

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace {
const QString kTools = QStringLiteral(CORVANE_SOURCE_DIR "/tools/fake-service");
constexpr int kControlTimeoutMs = 10000;
} // namespace

FakeService::~FakeService()
{
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool FakeService::start()
{
    if (!m_dir.isValid())
        return false;
    QProcess ca;
    ca.start(QStringLiteral("bash"), {kTools + QStringLiteral("/make-ca.sh"), m_dir.path()});
    if (!ca.waitForFinished(30000) || ca.exitCode() != 0) {
        qWarning() << "FakeService: cannot make the CA:" << ca.readAll();
        return false;
    }
    const QString files = m_dir.filePath(QStringLiteral("files"));
    QDir().mkpath(files);
    for (const auto &file : qAsConst(m_files)) {
        QFile out(files + QLatin1Char('/') + file.first);
        if (!out.open(QIODevice::WriteOnly) || out.write(file.second) != file.second.size())
            return false;
    }
    QStringList args{kTools + QStringLiteral("/fake_service.py"),
                     QStringLiteral("--cert"),
                     m_dir.filePath(QStringLiteral("server.pem")),
                     QStringLiteral("--key"),
                     m_dir.filePath(QStringLiteral("server.key")),
                     QStringLiteral("--files"),
                     files};
    if (!m_hostKey.isEmpty())
        args << QStringLiteral("--host-key") << m_hostKey;
    for (const auto &device : qAsConst(m_devices))
        args << QStringLiteral("--device")
             << device.first + QLatin1Char('=') + QString::fromLatin1(device.second.toHex());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("python3"), args);
    QByteArray log;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(200);
        log += m_process.readAll();
        const int at = log.indexOf("LISTENING port=");
        const int end = log.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_port = log.mid(at + 15, end - at - 15).trimmed().toUShort();
            return m_port != 0;
        }
    }
    qWarning() << "FakeService: did not start:" << log;
    return false;
}

QString FakeService::origin() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_port);
}

QString FakeService::caPath() const
{
    return m_dir.filePath(QStringLiteral("ca.pem"));
}

QSslConfiguration FakeService::sslConfiguration() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromPath(caPath()));
    return config;
}

bool FakeService::script(const QString &method, const QString &path, const Reply &reply)
{
    const QJsonObject args{{QStringLiteral("method"), method},
                           {QStringLiteral("path"), path},
                           {QStringLiteral("status"), reply.status},
                           {QStringLiteral("body"), QString::fromUtf8(reply.body)},
                           {QStringLiteral("never"), reply.never},
                           {QStringLiteral("once"), reply.once},
                           {QStringLiteral("delay"), reply.delaySeconds}};
    return control(QStringLiteral("/_control/script"), &args);
}

bool FakeService::script(const QString &method, const QString &path, int status,
                         const QByteArray &body)
{
    return script(method, path, Reply{status, body});
}

bool FakeService::reset()
{
    const QJsonObject none;
    return control(QStringLiteral("/_control/reset"), &none);
}

QJsonArray FakeService::requests(const QString &path)
{
    QByteArray answer;
    if (!control(QStringLiteral("/_control/requests"), nullptr, &answer))
        return {};
    const QJsonArray all = QJsonDocument::fromJson(answer).array();
    if (path.isEmpty())
        return all;
    QJsonArray matching;
    for (const QJsonValue &request : all)
        if (request.toObject().value(QStringLiteral("path")).toString() == path)
            matching.append(request);
    return matching;
}

QString FakeService::hostKeyHexFor(const QString &machineIdFile)
{
    return QString::fromLatin1(Platform::hostKeyFromMachineIdFile(machineIdFile).toHex());
}

bool FakeService::control(const QString &path, const QJsonObject *args, QByteArray *answer)
{
    if (!m_port)
        return false;
    // A manager per call: the test's own clients keep their connections and TLS settings.
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(origin() + path));
    request.setSslConfiguration(sslConfiguration());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(kControlTimeoutMs);
    const QScopedPointer<QNetworkReply> reply(
        args ? manager.post(request, QJsonDocument(*args).toJson()) : manager.get(request));
    // The transfer time-out ends every reply before this wait does.
    QSignalSpy(reply.get(), &QNetworkReply::finished).wait(2 * kControlTimeoutMs);
    if (answer)
        *answer = reply->readAll();
    if (reply->error() == QNetworkReply::NoError)
        return true;
    qWarning() << "FakeService: control request" << path << "failed:" << reply->errorString();
    return false;
}
