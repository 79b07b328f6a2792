#include "slwebservice.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTimer>

namespace {

struct RequestPath
{
    SlWebService::RequestType type;
    const char *path;
};

// Built into the program; the query of the job list travels inside its path.
const RequestPath kRequestPaths[] = {
    {SlWebService::SIGNUP, "/en/api/v1/signup/"},
    {SlWebService::LOGIN, "/en/api/v1/login/"},
    {SlWebService::CONFIRM, "/en/api/v1/confirm/"},
    {SlWebService::RESEND_CONFIRM, "/en/api/v1/resend_confirm/"},
    {SlWebService::INFO_FOR_SIGNUP, "/en/api/v1/info_for_signup/"},
    {SlWebService::REGISTER_DEVICE, "/en/api/v1/register_device/"},
    {SlWebService::DEVICE_PARAMS, "/en/api/v1/device_params/"},
    {SlWebService::DEVICE_STAT, "/en/api/v1/device_stat/"},
    {SlWebService::BANNER, "/en/api/v1/banner/"},
    {SlWebService::FIRMWARE_VERSION, "/en/api/v1/firmware_version/"},
    {SlWebService::CURRENT_JOBS, "/en/api/v1/current_jobs/?limit=1"},
    {SlWebService::SET_JOB_STATE, "/en/api/v1/set_job_state/"},
};

// Values under these names never reach the log: keys, PINs and passwords.
bool isSecretName(const QString &name)
{
    static const QRegularExpression secret(QStringLiteral("key|pin|password"),
                                           QRegularExpression::CaseInsensitiveOption);
    return secret.match(name).hasMatch();
}

QJsonValue masked(const QJsonValue &value)
{
    if (value.isObject()) {
        QJsonObject out = value.toObject();
        for (auto it = out.begin(); it != out.end(); ++it)
            it.value() =
                isSecretName(it.key()) ? QJsonValue(QStringLiteral("***")) : masked(it.value());
        return out;
    }
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue &item : value.toArray())
            out.append(masked(item));
        return out;
    }
    return value;
}

QByteArray forLog(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (doc.isObject())
        return QJsonDocument(masked(doc.object()).toObject()).toJson(QJsonDocument::Compact);
    if (body.size() > 256)
        return "<" + QByteArray::number(body.size()) + " bytes>";
    return body;
}

QByteArray keyForLog(const QByteArray &key)
{
    return "<" + QByteArray::number(key.size()) + " bytes>";
}

} // namespace

SlWebService::SlWebService(QObject *parent)
    : QObject(parent)
{
    connect(&m_manager, &QNetworkAccessManager::finished, this,
            &SlWebService::networkRequestFinished);
}

SlWebService::~SlWebService() = default;

QString SlWebService::requestPath(RequestType type)
{
    for (const RequestPath &entry : kRequestPaths)
        if (entry.type == type)
            return QString::fromLatin1(entry.path);
    return QString();
}

QByteArray SlWebService::signatureText(bool post, const QByteArray &hostKeyHex,
                                       const QString &serial)
{
    const QString text = QStringLiteral("Host-Key:") + QString::fromLatin1(hostKeyHex) +
                         QStringLiteral(":Serial-Number:") + serial + QLatin1Char(':');
    return (post ? QStringLiteral(":") + text : text).toLatin1();
}

QByteArray SlWebService::signature(bool post, const QByteArray &body, const QByteArray &hostKeyHex,
                                   const QString &serial, const QByteArray &key)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (post)
        md5.addData(body);
    md5.addData(signatureText(post, hostKeyHex, serial));
    md5.addData(key);
    return md5.result().toHex();
}

QSslConfiguration SlWebService::configurationWithCaFile(const QString &caFile)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (caFile.isEmpty())
        return config;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (extra.isEmpty())
        qDebug() << "configurationWithCaFile: no certificate in" << caFile;
    config.addCaCertificates(extra);
    return config;
}

QUrl SlWebService::resolveLink(const QString &serviceHost, const QUrl &link)
{
    const QUrl origin(serviceHost);
    // A link with its own scheme or host ("//other.example/x") names another server.
    if (!link.scheme().isEmpty() || !link.authority().isEmpty())
        return QUrl();
    const QUrl url(serviceHost + link.toString(), QUrl::TolerantMode);
    // Glued to the origin, "@other.example/x" would turn the origin into user information.
    if (!url.isValid() || url.scheme() != origin.scheme() || url.host() != origin.host() ||
        url.port() != origin.port() || !url.userInfo().isEmpty())
        return QUrl();
    return url;
}

void SlWebService::setError(int error)
{
    m_error = error;
    emit errorChanged(m_error);
}

void SlWebService::setServerKey(QByteArray key)
{
    m_serverKey = key;
}

void SlWebService::setServiceHost(QString url)
{
    m_serviceHost = url;
}

void SlWebService::getRegistrationModel(QVariantMap model)
{
    Q_UNUSED(model)
    simpleGetRequest(INFO_FOR_SIGNUP, m_serial, m_serverKey);
}

void SlWebService::getBannerModel()
{
    simpleGetRequest(BANNER, m_serial, m_serverKey);
}

void SlWebService::registration(QVariantMap model)
{
    jsonPostRequest(model, SIGNUP, m_serial, m_serverKey);
}

void SlWebService::confirmEmail(QVariantMap model)
{
    jsonPostRequest(model, CONFIRM, m_serial, m_serverKey);
}

void SlWebService::confirmEmailResend(QVariantMap model)
{
    jsonPostRequest(model, RESEND_CONFIRM, m_serial, m_serverKey);
}

void SlWebService::login(QVariantMap model)
{
    jsonPostRequest(model, LOGIN, m_serial, m_serverKey);
}

void SlWebService::registerDevice(QVariantMap model)
{
    jsonPostRequest(model, REGISTER_DEVICE, m_serial, m_serverKey);
}

void SlWebService::sendSettings(QVariantMap model, QString serial, QByteArray serverKey,
                                QVariant tag)
{
    jsonPostRequest(model, DEVICE_PARAMS, serial, serverKey, tag);
}

void SlWebService::sendStatistic(QVariantMap model, QString serial, QByteArray serverKey,
                                 QVariant tag)
{
    jsonPostRequest(model, DEVICE_STAT, serial, serverKey, tag);
}

void SlWebService::getLastFirmwareVersion()
{
    simpleGetRequest(FIRMWARE_VERSION, m_serial, m_serverKey);
}

void SlWebService::getJobs(QString serial, QByteArray serverKey)
{
    simpleGetRequest(CURRENT_JOBS, serial, serverKey);
}

void SlWebService::setJobStatus(QVariantMap model, QString serial, QByteArray serverKey)
{
    jsonPostRequest(model, SET_JOB_STATE, serial, serverKey);
}

void SlWebService::downloadFile(QUrl link, QVariant tag)
{
    const QUrl url = resolveLink(m_serviceHost, link);
    if (url.isEmpty()) {
        // Signed requests and firmware come from the service only.
        qDebug() << "downloadFile: refused a link outside the service:" << link;
        QTimer::singleShot(0, this, [this, link, tag]() {
            QByteArray none;
            setError(REQUEST_ERROR);
            emit fileReceived(link, tag, none, REQUEST_ERROR);
        });
        return;
    }
    simpleGetRequest(DOWNLOAD_FILE, m_serial, m_serverKey, url, tag, link);
}

void SlWebService::downloadFile(QUrl link)
{
    downloadFile(link, QVariant(int(0)));
}

bool SlWebService::isHeaderValue(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() > 0xff)
            return false;
    return true;
}

bool SlWebService::refusedSerial(RequestType type, const QString &serial, const QVariant &tag,
                                 const QUrl &link)
{
    if (isHeaderValue(serial))
        return false;
    qDebug() << "request refused: the serial number cannot travel in a header:" << serial;
    // Answered as the service answers a request it cannot take, and as late as a reply.
    QTimer::singleShot(0, this,
                       [this, type, tag, link]() { handleReply(type, 400, {}, tag, link); });
    return true;
}

QNetworkReply *SlWebService::jsonPostRequest(const QVariantMap &model, RequestType type,
                                             const QString &serial, const QByteArray &serverKey,
                                             const QVariant &tag)
{
    if (refusedSerial(type, serial, tag, QUrl()))
        return nullptr;
    QNetworkRequest request(QUrl(m_serviceHost + requestPath(type), QUrl::TolerantMode));
    const QByteArray body = QJsonDocument(QJsonObject::fromVariantMap(model)).toJson();
    QNetworkReply *reply = signedPostRequest(request, body, serial, serverKey);
    reply->setProperty("replyId", int(type));
    reply->setProperty("tag", tag);
    return reply;
}

QNetworkReply *SlWebService::signedPostRequest(QNetworkRequest &request, const QByteArray &body,
                                               const QString &serial, const QByteArray &key)
{
    sign(request, true, body, serial, key, "signedPostRequest");
    requestSent();
    return m_manager.post(request, body);
}

QNetworkReply *SlWebService::simpleGetRequest(RequestType type, const QString &serial,
                                              const QByteArray &serverKey, const QUrl &url,
                                              const QVariant &tag, const QUrl &link)
{
    if (refusedSerial(type, serial, tag, link))
        return nullptr;
    QNetworkRequest request(
        url.isEmpty() ? QUrl(m_serviceHost + requestPath(type), QUrl::TolerantMode) : url);
    sign(request, false, QByteArray(), serial, serverKey, "simpleGetRequest");
    requestSent();
    QNetworkReply *reply = m_manager.get(request);
    reply->setProperty("replyId", int(type));
    if (type == DOWNLOAD_FILE) {
        reply->setProperty("url", link);
        reply->setProperty("tag", tag);
    }
    return reply;
}

void SlWebService::sign(QNetworkRequest &request, bool post, const QByteArray &body,
                        const QString &serial, const QByteArray &key, const char *function)
{
    const QByteArray hostKeyHex = m_hostKey.toHex();
    const QByteArray digest = signature(post, body, hostKeyHex, serial, key);
    request.setRawHeader("Signature", digest);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("Host-Key", hostKeyHex);
    request.setRawHeader("Serial-Number", serial.toLatin1());
    request.setSslConfiguration(m_ssl);
    // No request may wait for ever: a silent service ends as a network error.
    request.setTransferTimeout(m_transferTimeoutMs);
    auto line = qDebug().noquote();
    line << function << signatureText(post, hostKeyHex, serial) << digest << keyForLog(key)
         << request.url().toString();
    if (post)
        line << forLog(body);
}

void SlWebService::requestSent()
{
    ++m_activeRequests;
    emit isActiveChanged(m_activeRequests != 0);
}

void SlWebService::networkRequestFinished(QNetworkReply *reply)
{
    const int replyId =
        reply->property("replyId").isValid() ? reply->property("replyId").toInt() : -1;
    QByteArray body = reply->readAll();
    const int httpCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qDebug().noquote() << "httpCode:" << httpCode << "replyData:" << forLog(body)
                       << "networkRequestFinished"
                       << "ERROR:" << reply->error();

    --m_activeRequests;
    emit isActiveChanged(m_activeRequests != 0);

    handleReply(replyId, httpCode, body, reply->property("tag"), reply->property("url").toUrl());
    reply->deleteLater();
}

void SlWebService::handleReply(int replyId, int httpCode, QByteArray body, const QVariant &tag,
                               const QUrl &url)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonObject top = doc.object();
    QVariantMap result;
    int error = INTERNET_ERROR;
    // Uploads and job reports carry nothing back: any 2xx is the service's acceptance, whatever
    // its body (empty, plain text or JSON of any shape).
    const bool carriesNoData =
        replyId == DEVICE_PARAMS || replyId == DEVICE_STAT || replyId == SET_JOB_STATE;
    if (httpCode == 500) {
        error = INTERNAL_SERVER_ERROR;
    } else if (httpCode == 400) {
        result = top.value(QStringLiteral("errors")).toObject().toVariantMap();
        error = REQUEST_ERROR;
    } else if (httpCode == 406) {
        error = body == "Signature wrong"       ? SIGNATURE_WRONG
                : body == "Serial-Number wrong" ? DEVICE_SERIAL_INVALID
                                                : REQUEST_ERROR;
    } else if (httpCode == 200 || httpCode == 201 ||
               (carriesNoData && httpCode >= 200 && httpCode < 300)) {
        error = SUCCESSFUL;
    }

    // A success must carry the JSON its type expects: a proxy's HTML page or a member of the
    // wrong type is no answer from the service.
    const auto expects = [&](const char *member, bool array) {
        const QJsonValue value = top.value(QLatin1String(member));
        return value.isUndefined() || (array ? value.isArray() : value.isObject());
    };
    if (error == SUCCESSFUL && replyId != DOWNLOAD_FILE && replyId != RESEND_CONFIRM &&
        !carriesNoData) {
        bool wellFormed = doc.isObject();
        switch (replyId) {
        case SIGNUP:
        case LOGIN:
        case CONFIRM:
            wellFormed = wellFormed && expects("customer", false);
            break;
        case REGISTER_DEVICE:
            wellFormed = wellFormed && expects("device", false);
            break;
        case BANNER:
            wellFormed = wellFormed && expects("banner", false);
            break;
        case INFO_FOR_SIGNUP:
            wellFormed = wellFormed && expects("countries", true) && expects("info_channels", true);
            break;
        case FIRMWARE_VERSION: {
            const QJsonArray list = top.value(QStringLiteral("firmware_versions")).toArray();
            wellFormed = wellFormed && expects("firmware_versions", true) &&
                         (list.isEmpty() || list.first().isObject());
            break;
        }
        default:
            break;
        }
        if (!wellFormed) {
            qDebug() << "networkRequestFinished: the reply is not the expected JSON";
            error = INTERNET_ERROR;
        }
    }
    setError(error);
    if (error == INTERNET_ERROR)
        emit networkError();

    const auto succeeded = [&](int successStatus) {
        if (error != SUCCESSFUL || httpCode != successStatus)
            return false;
        setError(SUCCESSFUL);
        return true;
    };
    switch (replyId) {
    case SIGNUP:
    case LOGIN:
    case CONFIRM:
    case REGISTER_DEVICE:
    case BANNER: {
        const int successStatus = (replyId == SIGNUP || replyId == REGISTER_DEVICE) ? 201 : 200;
        const char *member = replyId == REGISTER_DEVICE ? "device"
                             : replyId == BANNER        ? "banner"
                                                        : "customer";
        if (succeeded(successStatus))
            result = top.value(QLatin1String(member)).toObject().toVariantMap();
        if (replyId == SIGNUP)
            emit userRegisterRequestFinished(result, error);
        else if (replyId == LOGIN)
            emit userLoginRequestFinished(result, error);
        else if (replyId == CONFIRM)
            emit userEmailConfirmationRequestFinished(result, error);
        else if (replyId == REGISTER_DEVICE)
            emit deviceRegistrationRequestFinished(result, error);
        else
            emit bannerModelReceived(result, error);
        break;
    }
    case INFO_FOR_SIGNUP:
        if (succeeded(200)) {
            result.clear();
            result.insert(QStringLiteral("countries"),
                          top.value(QStringLiteral("countries")).toArray().toVariantList());
            result.insert(QStringLiteral("info_channels"),
                          top.value(QStringLiteral("info_channels")).toArray().toVariantList());
            result.insert(QStringLiteral("is_activated"),
                          top.value(QStringLiteral("is_activated")).toBool(false));
        }
        emit registrationModelRequestFinish(result, error);
        break;
    case FIRMWARE_VERSION:
        if (succeeded(200)) {
            const QJsonArray list = top.value(QStringLiteral("firmware_versions")).toArray();
            if (!list.isEmpty())
                result = list.first().toObject().toVariantMap();
        }
        emit lastFirmwareVersionReceived(QVariant(result), error);
        break;
    case DEVICE_PARAMS:
    case DEVICE_STAT:
        if (error == SUCCESSFUL)
            setError(SUCCESSFUL);
        if (replyId == DEVICE_PARAMS)
            emit settingsSendRequestFinished(tag, error);
        else
            emit statisticsSendRequestFinished(tag, error);
        break;
    case DOWNLOAD_FILE:
        succeeded(200);
        emit fileReceived(url, tag, body, error);
        break;
    case CURRENT_JOBS:
        succeeded(200);
        emit jobReceived(top.toVariantMap(), error);
        break;
    case SET_JOB_STATE:
        if (error == SUCCESSFUL)
            setError(SUCCESSFUL);
        emit jobStatusSet(error);
        break;
    default:
        break;
    }
}
