#include "jobprocessor.h"

#include "model/ggadget.h"
#include "model/slproperty.h"
#include "web/slwebservice.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonValue>

namespace {
const char *const kStates[] = {"PENDING", "IN_PROGRESS", "SUCCESS", "FAILED"};
const char kTimeFormat[] = "yyyy-MM-dd'T'HH:mm:ss.zzz'Z'";
} // namespace

JobProcessor::JobProcessor(SlWebService *webService)
    : m_webService(webService)
{
    m_timer.setSingleShot(true);
    connect(m_webService, &SlWebService::jobReceived, this, &JobProcessor::onJobReceived);
    connect(m_webService, &SlWebService::jobStatusSet, this, &JobProcessor::onJobStatusSet);
    connect(&m_timer, &QTimer::timeout, this, &JobProcessor::processJobs);
}

GGadget *JobProcessor::device() const
{
    return m_device;
}

void JobProcessor::setEnabled(bool enalbed)
{
    if (enalbed == m_enabled)
        return;
    m_enabled = enalbed;
    emit enabledChanged();
}

void JobProcessor::setDevice(GGadget *value)
{
    if (value == m_device)
        return;
    m_device = value;
    emit deviceChanged();
    if (m_cycleState == Idle || (m_cycleState == Delay && m_nextState == RequestJob)) {
        if (m_device)
            startDelay(RequestJob, m_waits.firstRequest);
        else
            startDelay(Idle, 1);
    }
}

void JobProcessor::startDelay(int next, int ms)
{
    m_nextState = next;
    m_delay = ms;
    m_elapsed.start();
    m_timer.start(ms);
    m_cycleState = Delay;
}

void JobProcessor::onJobReceived(QVariantMap model, int error)
{
    if (m_cycleState != WaitForJob) {
        qDebug() << "Unexpected job was received";
        return;
    }
    if (error != 0) {
        qDebug() << "Error received whlie job request: " << error;
    } else {
        QString reason;
        m_resultCode = parseJobResponse(QJsonDocument::fromVariant(model), &m_job, &reason);
        if (m_resultCode >= RESULT_NOT_OBJECT && m_resultCode <= RESULT_INVALID_JOB) {
            // The report of a faulty reply names what was wrong with it.
            m_message = reason;
            if (m_resultCode != RESULT_INVALID_JOB)
                m_job = Job();
        }
    }
    m_replyError = error;
    m_responseReceived = true;
    m_timer.start(1);
}

void JobProcessor::onJobStatusSet(int error)
{
    if (m_cycleState != WaitForJobStatus) {
        qDebug() << "Unexpected job was received";
        return;
    }
    m_replyError = error;
    m_responseReceived = true;
    m_timer.start(1);
}

int JobProcessor::parseJobResponse(const QJsonDocument &response, Job *job, QString *reason)
{
    const auto fail = [reason](int code, const QString &text) {
        qDebug().noquote() << text;
        if (reason)
            *reason = text;
        return code;
    };
    if (!response.isObject())
        return fail(RESULT_NOT_OBJECT, QStringLiteral("Job response is not json object"));
    const QJsonObject top = response.object();
    if (!top.contains(QStringLiteral("current_job_list")))
        return fail(RESULT_NO_LIST,
                    QStringLiteral("Job response does not contain current_job_list"));
    const QJsonValue list = top.value(QStringLiteral("current_job_list"));
    if (!list.isArray())
        return fail(RESULT_LIST_NOT_ARRAY,
                    QStringLiteral("Job response current_job_list is not array"));
    const QJsonArray jobs = list.toArray();
    if (jobs.isEmpty()) {
        qDebug() << "There are no jobs";
        return RESULT_NO_JOBS;
    }
    if (!jobs.first().isObject())
        return fail(RESULT_ITEM_NOT_OBJECT, QStringLiteral("current_job_list item is not object"));
    const QJsonObject item = jobs.first().toObject();
    QString why;
    if (!parseJob(item, job, &why)) {
        const QString text = QStringLiteral("Failed to parse job model ") +
                             QString::fromUtf8(QJsonDocument(item).toJson(QJsonDocument::Compact));
        qDebug().noquote() << text;
        if (reason)
            *reason = why;
        return RESULT_INVALID_JOB;
    }
    qDebug().noquote() << "Job was received, id=" + job->id.toString() +
                              ", state=" + QString::number(job->state) +
                              ", time=" + job->time.toString(Qt::ISODateWithMs);
    return RESULT_OK;
}

bool JobProcessor::parseJob(const QJsonObject &object, Job *job, QString *reason)
{
    *job = Job();
    const auto fail = [reason](const QString &text) {
        qDebug().noquote() << text;
        if (reason)
            *reason = text;
        return false;
    };
    for (const char *member : {"id", "state", "time", "document"})
        if (!object.contains(QLatin1String(member)))
            return fail(QStringLiteral("Job document has no required fields"));

    const QJsonValue id = object.value(QStringLiteral("id"));
    if (!id.isString())
        return fail(QStringLiteral("Job id is not string"));
    job->id = QUuid::fromString(id.toString());
    if (job->id.isNull())
        return fail(QStringLiteral("Job id invalid format: ") + id.toString());

    const QJsonValue state = object.value(QStringLiteral("state"));
    if (!state.isString())
        return fail(QStringLiteral("Job state is not string"));
    int stateNumber = -1;
    for (int i = 0; i < 4; ++i)
        if (state.toString() == QLatin1String(kStates[i]))
            stateNumber = i;
    if (stateNumber < 0)
        return fail(QStringLiteral("Job state invalid value: ") + state.toString());
    job->state = stateNumber;

    const QJsonValue time = object.value(QStringLiteral("time"));
    if (!time.isString())
        return fail(QStringLiteral("Job time is not string"));
    job->time = QDateTime::fromString(time.toString(), QLatin1String(kTimeFormat));
    if (!job->time.isValid())
        return fail(QStringLiteral("Job time invalid value: ") + time.toString());

    const QJsonValue document = object.value(QStringLiteral("document"));
    if (!document.isObject())
        return fail(QStringLiteral("Job document is not object"));
    job->document = document.toObject();
    job->valid = true;
    return true;
}

void JobProcessor::processJobs()
{
    m_timer.stop();
    for (;;) {
        const int before = m_cycleState;
        step();
        if (m_cycleState == before || m_cycleState == Idle)
            return;
    }
}

void JobProcessor::step()
{
    switch (m_cycleState) {
    case Idle:
        break;
    case Delay: {
        const qint64 remaining = m_delay - m_elapsed.elapsed();
        if (remaining > 0) {
            m_timer.start(int(remaining));
        } else {
            m_delay = 0;
            m_cycleState = m_nextState;
        }
        break;
    }
    case RequestJob:
        if (!m_device) {
            m_cycleState = Idle;
            break;
        }
        m_responseReceived = false;
        m_serial = m_device->serial();
        m_serverKey = m_device->serverKey();
        if (!m_serial.isEmpty() && !m_serverKey.isEmpty()) {
            m_cycleState = WaitForJob;
            m_webService->getJobs(m_serial, m_serverKey);
        } else {
            qDebug() << "Device server key or/and serial are empty";
            startDelay(RequestJob, m_waits.identityRetry);
        }
        break;
    case WaitForJob:
        if (!m_responseReceived)
            qDebug() << "WaitForJob, response was not received";
        else if (m_replyError == 0 && m_resultCode == RESULT_OK)
            m_cycleState = ExecuteJob;
        else if (m_replyError == 0 && m_resultCode != RESULT_NO_JOBS)
            m_cycleState = SendJobStatus;
        else
            startDelay(RequestJob, m_waits.poll);
        break;
    case ExecuteJob:
        executeJob();
        break;
    case SendJobStatus:
        m_responseReceived = false;
        m_cycleState = WaitForJobStatus;
        sendJobStatus(m_job.id, m_resultCode, m_message);
        break;
    case WaitForJobStatus:
        if (!m_responseReceived)
            qDebug() << "WaitForJobStatus, response was not received";
        else if (m_replyError != 0)
            startDelay(SendJobStatus, m_waits.reportRetry);
        else if (m_resultCode >= RESULT_NOT_OBJECT && m_resultCode <= RESULT_INVALID_JOB)
            // A service answering garbage must not get one request per round trip.
            startDelay(RequestJob, m_waits.poll);
        else
            m_cycleState = RequestJob;
        break;
    }
}

void JobProcessor::executeJob()
{
    if (m_device && m_device->serial() != m_serial) {
        // The job was fetched for a watch that has since been swapped for this one. It stays
        // queued at the service for its own watch; this one asks for its own jobs.
        qDebug() << "executeJob: the job belongs to" << m_serial << "not to" << m_device->serial();
        startDelay(RequestJob, m_waits.firstRequest);
        return;
    }
    m_message.clear();
    m_resultCode = RESULT_OK;
    if (m_job.document.isEmpty()) {
        m_resultCode = RESULT_INVALID_JOB;
        m_message = QStringLiteral("Job document has no action");
        m_cycleState = SendJobStatus;
        return;
    }
    const QString action = m_job.document.begin().key();
    if (action != QLatin1String("parameters")) {
        m_cycleState = SendJobStatus;
        return;
    }
    const QJsonObject parameters = m_job.document.begin().value().toObject();
    QList<QPair<QString, QString>> pairs;
    for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        pairs.append({it.key(), it.value().toString()});
        qDebug().noquote() << "Write parameter: " + it.key() + ", value: " + pairs.last().second;
    }
    // Every pair is checked before any is written, so a job is applied whole or not at all.
    for (const auto &pair : qAsConst(pairs)) {
        if (!m_device) {
            m_cycleState = Idle;
            return;
        }
        SlProperty *node = m_device->findProperty(pair.first);
        if (!node) {
            m_message +=
                QStringLiteral("property=") + pair.first + QStringLiteral(" does not exist\n");
            m_resultCode = RESULT_WRITE_FAILED;
        } else if (node->flags() == 1) {
            m_message +=
                QStringLiteral("property=") + pair.first + QStringLiteral(" is read only\n");
            m_resultCode = RESULT_WRITE_FAILED;
        } else if (!SlProperty::valueFromString(node->type(), pair.second).isValid()) {
            m_message += QStringLiteral("property=") + pair.first + QStringLiteral(" value=") +
                         pair.second + QStringLiteral(" is invalid\n");
            m_resultCode = RESULT_WRITE_FAILED;
        }
    }
    if (m_resultCode == RESULT_OK) {
        for (const auto &pair : qAsConst(pairs)) {
            if (!m_device) {
                m_cycleState = Idle;
                return;
            }
            if (SlProperty *node = m_device->findProperty(pair.first))
                node->setValue(SlProperty::valueFromString(node->type(), pair.second));
        }
    }
    m_cycleState = SendJobStatus;
}

void JobProcessor::sendJobStatus(const QUuid &id, int code, const QString &message)
{
    QVariantMap report{
        {QStringLiteral("id"), id.toString(QUuid::WithoutBraces)},
        {QStringLiteral("state"), code != 0 ? QStringLiteral("FAILED") : QStringLiteral("SUCCESS")},
        {QStringLiteral("response_code"), code},
        {QStringLiteral("response_message"), message}};
    m_webService->setJobStatus(report, m_serial, m_serverKey);
}
