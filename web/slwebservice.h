#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

class QNetworkReply;
class QNetworkRequest;

// The one client of the maker's REST service: builds and signs each request from its type,
// sends it, and turns each reply into an error code and a result signal. Replies carry what
// they need as dynamic properties, so the object holds no per-request state.
class SlWebService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString serviceHost READ serviceHost WRITE setServiceHost)
    Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)
    Q_PROPERTY(int error READ error WRITE setError NOTIFY errorChanged)

public:
    enum Error {
        SUCCESSFUL = 0,
        INTERNET_ERROR = 1,
        WRITE_FILE_ERROR = 2,
        REGISTRATION_ERROR = 3,
        REQUEST_ERROR = 4,
        PARAMETERS_INVALID = 5,
        INTERNAL_SERVER_ERROR = 6,
        DEVICE_SERIAL_INVALID = 7,
        SIGNATURE_WRONG = 8
    };
    Q_ENUM(Error)

    enum RequestType {
        SIGNUP = 0,
        LOGIN = 1,
        CONFIRM = 2,
        RESEND_CONFIRM = 3,
        INFO_FOR_SIGNUP = 4,
        REGISTER_DEVICE = 5,
        DEVICE_PARAMS = 6,
        DEVICE_STAT = 7,
        BANNER = 8,
        FIRMWARE_VERSION = 9,
        DOWNLOAD_FILE = 10,
        CURRENT_JOBS = 11,
        SET_JOB_STATE = 12
    };

    // A reply that has not finished by then ends as INTERNET_ERROR.
    static constexpr int DefaultTransferTimeoutMs = 30000;

    explicit SlWebService(QObject *parent = nullptr);
    ~SlWebService() override;

    QString serviceHost() const { return m_serviceHost; }
    bool isActive() const { return m_activeRequests != 0; }
    int error() const { return m_error; }
    QString serial() const { return m_serial; }
    void setSerial(const QString &serial) { m_serial = serial; }
    QByteArray serverKey() const { return m_serverKey; }
    // The machine's host key signs every request; the application hands it down.
    void setHostKey(const QByteArray &hostKey) { m_hostKey = hostKey; }
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    // The TLS settings of every request: the system's CAs plus those of CORVANE_SERVICE_CA.
    void setSslConfiguration(const QSslConfiguration &config) { m_ssl = config; }
    QSslConfiguration sslConfiguration() const { return m_ssl; }
    QNetworkAccessManager *networkAccessManager() { return &m_manager; }
    // Classifies one finished request's status and body and reports it through the signals of
    // its type. The reply slot calls it; the fuzzer feeds it service replies of its own.
    void handleReply(int replyId, int httpCode, QByteArray body, const QVariant &tag,
                     const QUrl &url);

    // The URL path of a request type ("" for file downloads).
    static QString requestPath(RequestType type);
    // The texts that are digested: POST texts begin with a colon, GET texts do not.
    static QByteArray signatureText(bool post, const QByteArray &hostKeyHex, const QString &serial);
    static QByteArray signature(bool post, const QByteArray &body, const QByteArray &hostKeyHex,
                                const QString &serial, const QByteArray &key);
    // The configuration with the PEM certificates of caFile added; the default when it is empty
    // or holds no certificate.
    static QSslConfiguration configurationWithCaFile(const QString &caFile);
    // The absolute URL of a server-relative link, or an empty URL when the link would leave the
    // service's origin.
    static QUrl resolveLink(const QString &serviceHost, const QUrl &link);
    // Whether a text may travel as a header value: Latin-1 without control characters, so that
    // nothing the watch sends can end a header line and start another.
    static bool isHeaderValue(const QString &text);

signals:
    void errorChanged(int error);
    void registrationModelRequestFinish(QVariantMap model, int error);
    void userRegisterRequestFinished(QVariantMap model, int error);
    void userLoginRequestFinished(QVariantMap model, int error);
    void userEmailConfirmationRequestFinished(QVariantMap model, int error);
    void deviceRegistrationRequestFinished(QVariantMap model, int error);
    void settingsSendRequestFinished(QVariant tag, int error);
    void statisticsSendRequestFinished(QVariant tag, int error);
    void lastFirmwareVersionReceived(QVariant tag, int error);
    void bannerModelReceived(QVariantMap model, int error);
    void fileReceived(QUrl url, QVariant tag, QByteArray &data, int error);
    void networkError();
    void jobReceived(QVariantMap model, int error);
    void jobStatusSet(int error);
    void isActiveChanged(bool isActive);

public slots:
    void setError(int error);
    void setServerKey(QByteArray key);
    void setServiceHost(QString url);
    void getRegistrationModel(QVariantMap model);
    void getBannerModel();
    void registration(QVariantMap model);
    void confirmEmail(QVariantMap model);
    void confirmEmailResend(QVariantMap model);
    void login(QVariantMap model);
    void registerDevice(QVariantMap model);
    void sendSettings(QVariantMap model, QString serial, QByteArray serverKey, QVariant tag);
    void sendStatistic(QVariantMap model, QString serial, QByteArray serverKey, QVariant tag);
    void getLastFirmwareVersion();
    void getJobs(QString serial, QByteArray serverKey);
    void setJobStatus(QVariantMap model, QString serial, QByteArray serverKey);
    void downloadFile(QUrl link, QVariant tag);
    void downloadFile(QUrl link);

private slots:
    void networkRequestFinished(QNetworkReply *reply);

private:
    // Each returns the reply carrying "replyId", "tag" and "url", or null when the request was
    // refused before it left; its result signal then follows from the event loop.
    QNetworkReply *jsonPostRequest(const QVariantMap &model, RequestType type,
                                   const QString &serial, const QByteArray &serverKey,
                                   const QVariant &tag = QVariant());
    QNetworkReply *signedPostRequest(QNetworkRequest &request, const QByteArray &body,
                                     const QString &serial, const QByteArray &key);
    QNetworkReply *simpleGetRequest(RequestType type, const QString &serial,
                                    const QByteArray &serverKey, const QUrl &url = QUrl(),
                                    const QVariant &tag = QVariant(), const QUrl &link = QUrl());
    bool refusedSerial(RequestType type, const QString &serial, const QVariant &tag,
                       const QUrl &link);
    void sign(QNetworkRequest &request, bool post, const QByteArray &body, const QString &serial,
              const QByteArray &key, const char *function);
    void requestSent();

    QNetworkAccessManager m_manager;
    QString m_serviceHost;
    QByteArray m_serverKey;
    QString m_serial;
    int m_error = SUCCESSFUL;
    int m_activeRequests = 0;
    QByteArray m_hostKey;
    QSslConfiguration m_ssl = QSslConfiguration::defaultConfiguration();
    int m_transferTimeoutMs = DefaultTransferTimeoutMs;
};
