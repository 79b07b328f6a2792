#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>

class QNetworkReply;

// Keeps the application current: asks the service for the newest version on a timer, offers it,
// downloads the archive on the user's consent and hands it to the separate updater program.
class SlAppUpdaterClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(float progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(SlAppUpdaterClient::State state READ state NOTIFY stateChanged)
    Q_PROPERTY(
        int checkInterval READ checkInterval WRITE setCheckInterval NOTIFY checkIntervalChanged)
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    Q_PROPERTY(SlAppUpdaterClient::ErrorCode error READ error NOTIFY errorCodeChanged)

public:
    enum State {
        Idle = 0,
        Checking = 1,
        UpdateAvailable = 2,
        Downloading = 3,
        DownloadFinished = 4,
        Error = 5,
        ClosingApp = 6
    };
    Q_ENUM(State)
    enum UserAction { RequestUpdate = 0, DiscardUpdate = 1, ApplyUpdate = 2, Update = 3 };
    Q_ENUM(UserAction)
    enum ErrorCode { Successful = 0, DownloadError = 1, WriteError = 2, StartUpdaterError = 3 };
    Q_ENUM(ErrorCode)

    // The progress shown while the server gives no total size.
    static constexpr float IndeterminateProgress = -1;
    static constexpr int DefaultCheckIntervalS = 180;
    static constexpr int DiscardedCheckIntervalS = 86400;

    explicit SlAppUpdaterClient(QObject *parent = nullptr);

    // Start-up hands down the service origin and its TLS settings before the interface makes
    // an updater; tests set them too.
    static void setDefaultServiceOrigin(const QString &origin);
    static void setDefaultSslConfiguration(const QSslConfiguration &config);

    float progress() const { return m_progress; }
    State state() const { return m_state; }
    int checkInterval() const { return m_checkTimer.interval() / 1000; }
    QString version() const { return m_version; }
    ErrorCode error() const { return m_error; }
    QString archivePath() const { return m_archivePath; }
    // The updater program, in the program's own folder.
    QString updaterProgram() const { return m_updaterProgram; }
    void setUpdaterProgram(const QString &path) { m_updaterProgram = path; }

signals:
    void progressChanged(float v);
    void stateChanged(SlAppUpdaterClient::State v);
    void checkIntervalChanged(float v);
    void versionChanged(QString v);
    void errorCodeChanged(SlAppUpdaterClient::ErrorCode v);
    void stopReplies();

public slots:
    void setCheckInterval(int v);
    void userAction(SlAppUpdaterClient::UserAction action);
    void reset();

private slots:
    void onReplyReceived(QNetworkReply *reply);

private:
    void check();
    void startUpdater();
    void setState(State state);
    void setError(ErrorCode error);
    void setProgress(float progress);
    void setVersion(const QString &version);
    QNetworkReply *get(const QUrl &url, int requestType);

    float m_progress = 0;
    State m_state = Idle;
    ErrorCode m_error = Successful;
    QString m_archivePath;
    QString m_updaterProgram;
    QString m_origin;
    QTimer m_checkTimer;
    QString m_downloadPath;
    QString m_version;
    QNetworkAccessManager m_manager;
    QSslConfiguration m_ssl;
};
