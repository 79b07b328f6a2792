#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QVariantMap>

class GGadget;
class SlWebService;

// Fetches the jobs the service queues for the connected gadget, checks them, writes their
// parameters and reports the outcome, driven by one timer: every wait is a state.
class JobProcessor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(GGadget *device READ device WRITE setDevice NOTIFY deviceChanged)

public:
    enum JobState {
        Idle = 0,
        Delay = 1,
        RequestJob = 2,
        WaitForJob = 3,
        ExecuteJob = 4,
        SendJobStatus = 5,
        WaitForJobStatus = 6
    };
    Q_ENUM(JobState)

    enum ResultCode {
        RESULT_OK = 0,
        RESULT_NO_JOBS = 1,
        RESULT_NOT_OBJECT = 2,
        RESULT_NO_LIST = 3,
        RESULT_LIST_NOT_ARRAY = 4,
        RESULT_ITEM_NOT_OBJECT = 5,
        RESULT_INVALID_JOB = 6,
        RESULT_WRITE_FAILED = 7
    };

    struct Job
    {
        bool valid = false;
        QUuid id;
        int state = 0;
        QDateTime time;
        QJsonObject document;
    };

    // The cycle's waits in milliseconds; tests shorten them.
    struct Waits
    {
        int firstRequest = 5000;
        int identityRetry = 2000;
        int poll = 60000;
        int reportRetry = 5000;
    };

    explicit JobProcessor(SlWebService *webService);

    bool enabled() const { return m_enabled; }
    GGadget *device() const;
    JobState cycleState() const { return JobState(m_cycleState); }
    void setWaits(const Waits &waits) { m_waits = waits; }

    // Parse results: one of the result codes; *job is only replaced from code 0 or 6 on.
    static int parseJobResponse(const QJsonDocument &response, Job *job, QString *reason);
    static bool parseJob(const QJsonObject &object, Job *job, QString *reason);

signals:
    void enabledChanged();
    void deviceChanged();

public slots:
    void setEnabled(bool enalbed);
    void setDevice(GGadget *value);

private slots:
    void onJobReceived(QVariantMap model, int error);
    void onJobStatusSet(int error);

private:
    void processJobs();
    void step();
    void startDelay(int next, int ms);
    void executeJob();
    void sendJobStatus(const QUuid &id, int code, const QString &message);

    bool m_enabled = false;
    QTimer m_timer;
    int m_cycleState = Idle;
    Job m_job;
    int m_resultCode = RESULT_OK;
    QString m_message;
    QString m_serial;
    QByteArray m_serverKey;
    bool m_responseReceived = false;
    int m_replyError = 0;
    int m_delay = 0;
    QElapsedTimer m_elapsed;
    int m_nextState = Idle;
    SlWebService *m_webService;
    QPointer<GGadget> m_device;
    Waits m_waits;
};
