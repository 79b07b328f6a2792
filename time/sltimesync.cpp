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
    m_timer.setInterval(kFirstRequestDelay);
    m_timer.start();
}

bool SlTimeSync::enabled() const
{
    return m_timer.isActive();
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
    setLastUpdateOK(false);
}

void SlTimeSync::onTimerTimeOut()
{
    m_ntpClient.sendRequest();
}
