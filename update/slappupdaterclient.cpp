#include "slappupdaterclient.h"

#include "platform/platform.h"
#include "update/slappversion.h"
#include "update/updatearchive.h"
#include "web/slwebservice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
QString g_defaultOrigin;
QSslConfiguration g_defaultSsl = QSslConfiguration::defaultConfiguration();
constexpr int kVersionRequest = 0;
constexpr int kDownloadRequest = 1;
// A stalled service must not keep the updater checking for ever.
constexpr int kTransferTimeoutMs = 30000;

// The archive waits for the updater where only this user can write, so nobody else can swap it.
QString privateArchivePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache/Corvane");
    return base + QStringLiteral("/update/update.zip");
}

// Made only when an archive arrives: most runs never download one.
void makePrivateFolder(const QString &folder)
{
    QDir().mkpath(folder);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
} // namespace

void SlAppUpdaterClient::setDefaultServiceOrigin(const QString &origin)
{
    g_defaultOrigin = origin;
}

void SlAppUpdaterClient::setDefaultSslConfiguration(const QSslConfiguration &config)
{
    g_defaultSsl = config;
}

SlAppUpdaterClient::SlAppUpdaterClient(QObject *parent)
    : QObject(parent)
    , m_archivePath(privateArchivePath())
    , m_updaterProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/updater"))
    , m_origin(g_defaultOrigin)
    , m_ssl(g_defaultSsl)
{
    qRegisterMetaType<SlAppUpdaterClient::State>("SlAppUpdaterClient::State");
    qRegisterMetaType<SlAppUpdaterClient::ErrorCode>("SlAppUpdaterClient::ErrorCode");
    connect(&m_manager, &QNetworkAccessManager::finished, this,
            &SlAppUpdaterClient::onReplyReceived);
    connect(&m_checkTimer, &QTimer::timeout, this, &SlAppUpdaterClient::check);
    m_checkTimer.setInterval(DefaultCheckIntervalS * 1000);
    m_checkTimer.start();
}

void SlAppUpdaterClient::setCheckInterval(int v)
{
    if (v * 1000 == m_checkTimer.interval())
        return;
    m_checkTimer.setInterval(v * 1000);
    emit checkIntervalChanged(v);
}

void SlAppUpdaterClient::userAction(SlAppUpdaterClient::UserAction action)
{
    switch (action) {
    case RequestUpdate:
        check();
        break;
    case DiscardUpdate:
        if (m_state != UpdateAvailable)
            return;
        setCheckInterval(DiscardedCheckIntervalS);
        m_checkTimer.start();
        setState(Idle);
        break;
    case ApplyUpdate: {
        if (m_state != UpdateAvailable)
            return;
        // Only the service's own archive: a missing link would fetch the site's root page, and
        // one to another server could hand over anybody's program.
        const QUrl link =
            SlWebService::resolveLink(m_origin, QUrl(m_downloadPath, QUrl::StrictMode));
        if (m_downloadPath.isEmpty() || link.isEmpty()) {
            qDebug() << "userAction: no download link on the service:" << m_downloadPath;
            setError(DownloadError);
            setState(Error);
            return;
        }
        setState(Downloading);
        QNetworkReply *reply = get(link, kDownloadRequest);
        connect(reply, &QNetworkReply::downloadProgress, this,
                [this](qint64 received, qint64 total) {
                    setProgress(total > 0 ? float(received) * 100.0f / float(total)
                                          : IndeterminateProgress);
                });
        break;
    }
    case Update:
        if (m_state == DownloadFinished)
            startUpdater();
        break;
    }
}

void SlAppUpdaterClient::reset()
{
    setState(Idle);
    setError(Successful);
    emit stopReplies();
}

QNetworkReply *SlAppUpdaterClient::get(const QUrl &url, int requestType)
{
    QNetworkRequest request(url);
    if (requestType == kVersionRequest) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setRawHeader("Accept", "application/json");
    }
    request.setSslConfiguration(m_ssl);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply *reply = m_manager.get(request);
    reply->setProperty("RequestType", requestType);
    return reply;
}

void SlAppUpdaterClient::check()
{
    if (m_state != Idle)
        return;
    setState(Checking);
    QNetworkReply *reply =
        get(QUrl(m_origin + QStringLiteral("/en/api/v1/app_version/")), kVersionRequest);
    connect(this, &SlAppUpdaterClient::stopReplies, reply, &QNetworkReply::abort);
}

void SlAppUpdaterClient::onReplyReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    const QVariant type = reply->property("RequestType");
    if (type == QVariant(kVersionRequest)) {
        // A reply aborted by reset() comes back after the state already left Checking.
        if (m_state != Checking)
            return;
        const QVariantMap map = QJsonDocument::fromJson(reply->readAll()).object().toVariantMap();
        const QVariantList versions = map.value(QStringLiteral("app_versions")).toList();
        if (reply->error() != QNetworkReply::NoError || versions.isEmpty()) {
            setState(Idle);
            return;
        }
        const QVariantMap offer = versions.first().toMap();
        const SlAppVersion offered =
            SlAppVersion::fromText(offer.value(QStringLiteral("version")).toString());
        if (!(offered > SlAppVersion::current())) {
            qDebug() << "No updates are available";
            setState(Idle);
            return;
        }
        m_downloadPath = offer.value(QStringLiteral("windows_url")).toString();
        setVersion(offered.toText());
        setState(UpdateAvailable);
        qDebug() << "Update" << m_version << "is available";
    } else if (type == QVariant(kDownloadRequest)) {
        ErrorCode code = Successful;
        const QByteArray body = reply->readAll();
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        QString why;
        if (reply->error() != QNetworkReply::NoError) {
            code = DownloadError;
        } else if (announced.isValid() && announced.toLongLong() != body.size()) {
            qDebug() << "Download incomplete:" << body.size() << "of" << announced << "bytes";
            code = DownloadError;
        } else if (!isSafeUpdateArchive(body, &why)) {
            // Nothing of it is stored, so nothing of it can run.
            qDebug() << "Download refused:" << why;
            code = DownloadError;
        } else {
            makePrivateFolder(QFileInfo(m_archivePath).path());
            QFile archive(m_archivePath);
            if (!archive.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                qDebug() << "Write error: " << archive.errorString();
                code = WriteError;
            } else if (archive.write(body) < 0 || !archive.flush()) {
                qDebug() << "Write error: " << archive.errorString();
                code = WriteError;
            }
        }
        qDebug() << "Download finished with code " << code;
        setError(code);
        setState(code == Successful ? DownloadFinished : Error);
    }
}

void SlAppUpdaterClient::startUpdater()
{
    const QStringList arguments{QStringLiteral("-f"), m_archivePath};
    bool started = false;
    if (!QFileInfo(m_updaterProgram).isExecutable()) {
        // Found nowhere else: a program looked up on PATH could be anybody's.
        qDebug() << "startUpdater: no updater program at" << m_updaterProgram;
    } else {
        // A name of its own, removed when it goes out of scope: a file of the user's is never
        // touched.
        QTemporaryFile probe(QDir::current().filePath(QStringLiteral("corvane-probe-XXXXXX")));
        if (probe.open()) {
            probe.close();
            started = QProcess::startDetached(m_updaterProgram, arguments, QDir::currentPath());
        } else {
            started = Platform::startDetachedElevated(m_updaterProgram, arguments,
                                                      QFileInfo(m_updaterProgram).absolutePath());
        }
    }
    if (started) {
        qDebug() << "exit";
        setState(ClosingApp);
    } else {
        qDebug() << "fail to start " << m_updaterProgram;
        setError(StartUpdaterError);
        setState(Error);
    }
}

void SlAppUpdaterClient::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(m_state);
}

void SlAppUpdaterClient::setError(ErrorCode error)
{
    if (error == m_error)
        return;
    m_error = error;
    emit errorCodeChanged(m_error);
}

void SlAppUpdaterClient::setProgress(float progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    emit progressChanged(m_progress);
}

void SlAppUpdaterClient::setVersion(const QString &version)
{
    if (version == m_version)
        return;
    m_version = version;
    emit versionChanged(m_version);
}
