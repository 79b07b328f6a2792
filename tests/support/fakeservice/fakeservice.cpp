#include "fakeservice.h"

#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QTimer>

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace {
const QString kTools = QStringLiteral(CORVANE_SOURCE_DIR "/tools/fake-service");
constexpr int kControlTimeoutMs = 10000;
} // namespace

FakeService::FakeService()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

FakeService::~FakeService()
{
    stop();
}

void FakeService::addFile(const QString &name, const QByteArray &data)
{
    if (m_port)
        pushControl(QStringLiteral("/_control/file"),
                    {{QStringLiteral("name"), name},
                     {QStringLiteral("base64"), QString::fromLatin1(data.toBase64())}});
    else
        m_files.append({name, data});
}

void FakeService::addDevice(const QString &serial, const QByteArray &serverKey)
{
    if (m_port)
        pushControl(QStringLiteral("/_control/device"),
                    {{QStringLiteral("serial"), serial},
                     {QStringLiteral("key_hex"), QString::fromLatin1(serverKey.toHex())}});
    else
        m_devices.append({serial, serverKey});
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
    m_process.start(QStringLiteral("python3"), args);
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(200);
        m_log += m_process.readAll();
        const int at = m_log.indexOf("LISTENING port=");
        const int end = m_log.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_port = m_log.mid(at + 15, end - at - 15).trimmed().toUShort();
            return m_port != 0;
        }
    }
    qWarning() << "FakeService: did not start:" << m_log;
    return false;
}

void FakeService::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    m_port = 0;
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
    QJsonObject args{{QStringLiteral("method"), method},
                     {QStringLiteral("path"), path},
                     {QStringLiteral("status"), reply.status},
                     {QStringLiteral("body"), QString::fromUtf8(reply.body)},
                     {QStringLiteral("once"), reply.once},
                     {QStringLiteral("check"), reply.check}};
    if (reply.never)
        args.insert(QStringLiteral("never"), true);
    if (reply.delaySeconds > 0)
        args.insert(QStringLiteral("delay"), reply.delaySeconds);
    return pushControl(QStringLiteral("/_control/script"), args);
}

bool FakeService::script(const QString &method, const QString &path, int status,
                         const QByteArray &body)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    return script(method, path, reply);
}

bool FakeService::reset()
{
    return pushControl(QStringLiteral("/_control/reset"), {});
}

QJsonArray FakeService::requests(const QString &path)
{
    QByteArray answer;
    if (!control(QStringLiteral("GET"), QStringLiteral("/_control/requests"), {}, &answer))
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

QByteArray FakeService::log()
{
    m_log += m_process.readAll();
    return m_log;
}

QString FakeService::hostKeyHexFor(const QString &machineIdFile)
{
    return QString::fromLatin1(Platform::hostKeyFromMachineIdFile(machineIdFile).toHex());
}

bool FakeService::pushControl(const QString &path, const QJsonObject &args)
{
    return control(QStringLiteral("POST"), path, args);
}

bool FakeService::control(const QString &method, const QString &path, const QJsonObject &args,
                          QByteArray *answer)
{
    if (!m_port)
        return false;
    // A manager per call: the test's own clients keep their connections and TLS settings.
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(origin() + path));
    request.setSslConfiguration(sslConfiguration());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(kControlTimeoutMs);
    QNetworkReply *reply = method == QLatin1String("GET")
                               ? manager.get(request)
                               : manager.post(request, QJsonDocument(args).toJson());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const bool ok = reply->error() == QNetworkReply::NoError;
    if (answer)
        *answer = reply->readAll();
    if (!ok)
        qWarning() << "FakeService: control request" << path << "failed:" << reply->errorString();
    delete reply;
    return ok;
}
