#include "sltimesync.h"

namespace {
constexpr int kFirstRequestDelay = 1000;
QString g_defaultHost;
} // namespace

void SlTimeSync::setDefaultHost(const QString &host)
{
    g_defaultHost = host;
}

QString SlTimeSync::defaultHost()
{
    return g_defaultHost;
}

SlTimeSync::SlTimeSync(QObject *parent)
    : QObject(parent)
    , m_timer(this)
    , m_ntpClient(this)
{
    m_ntpClient.setHost(g_defaultHost);
    connect(&m_timer, &QTimer::timeout, this, &SlTimeSync::onTimerTimeOut);
    connect(&m_ntpClient, &SlNTPClient::timeUpdated, this, &SlTimeSync::ntpDataReceived);
    connect(&m_ntpClient, &SlNTPClient::timeOut, this, &SlTimeSync::ntpTimeout);
    connect(&m_ntpClient, &SlNTPClient::holdOffChanged, this, &SlTimeSync::warningChanged);
    connect(this, &SlTimeSync::lastUpdateOKChanged, this, &SlTimeSync::warningChanged);
    m_timer.setInterval(kFirstRequestDelay);
    m_timer.start();
}

bool SlTimeSync::enabled() const
{
    return m_timer.isActive();
}

QString SlTimeSync::warning() const
{
    const QDateTime until = m_ntpClient.holdOffEnd();
    if (!until.isValid())
        return tr("The time server is not available");
    // The first tick of the timer at or after the end of the wait asks again.
    QDateTime next = QDateTime::currentDateTime().addMSecs(qMax(m_timer.remainingTime(), 0));
    const qint64 ticks = qMax<qint64>(0, (next.msecsTo(until) + m_timer.interval() - 1) /
                                             qMax(m_timer.interval(), 1));
    next = next.addMSecs(ticks * m_timer.interval());
    return tr("The time server asked us to wait; the next try is at %1")
        .arg(next.toString(QStringLiteral("HH:mm")));
}

int SlTimeSync::interval() const
{
    return m_timer.interval();
}

bool SlTimeSync::lastUpdateOK() const
{
    return m_lastUpdateOK;
}

SlNTPClient *SlTimeSync::ntpClient()
{
    return &m_ntpClient;
}

void SlTimeSync::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged(this->enabled());
    if (enabled) {
        m_timer.start(); // restarts a running timer as well
        m_ntpClient.sendRequest();
    }
}

void SlTimeSync::setLastUpdateOK(bool lastUpdateOK)
{
    if (lastUpdateOK == m_lastUpdateOK)
        return;
    m_lastUpdateOK = lastUpdateOK;
    emit lastUpdateOKChanged(lastUpdateOK);
}

void SlTimeSync::setInterval(int interval)
{
    m_timer.setInterval(interval);
    m_ntpClient.sendRequest();
    emit intervalChanged(interval);
}

void SlTimeSync::ntpDataReceived(const QDateTime &dateTime)
{
    setLastUpdateOK(true);
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    // The same instant, read on the computer's wall clock.
    emit triggered(dateTime.toOffsetFromUtc(offset), offset / 60);
}

void SlTimeSync::ntpTimeout()
{
    const bool wasOK = m_lastUpdateOK;
    setLastUpdateOK(false);
    // A wait may have ended, or the next try moved on: the text changes with every failure.
    if (!wasOK)
        emit warningChanged();
}

void SlTimeSync::onTimerTimeOut()
{
    m_ntpClient.sendRequest();
}
