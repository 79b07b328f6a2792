#include "slntpclient.h"

#include <QDebug>

SlNTPClient::SlNTPClient(QObject *parent)
    : QObject(parent)
    , m_ntpClient(this)
    , m_timer(this)
{
    m_timer.setInterval(kDefaultTimeout);
    m_timer.setSingleShot(false);
    connect(&m_ntpClient, &NtpClient::replyReceived, this, &SlNTPClient::onNtpReplyReceived);
    connect(&m_ntpClient, &NtpClient::holdOffChanged, this, &SlNTPClient::holdOffChanged);
    // timeOut() must reach listeners before activeChanged(false).
    connect(&m_timer, &QTimer::timeout, this, &SlNTPClient::timeOut);
    connect(&m_timer, &QTimer::timeout, this, &SlNTPClient::onNtpReplyTimeOut);
}

QString SlNTPClient::host() const
{
    return m_host;
}

bool SlNTPClient::active() const
{
    return m_timer.isActive();
}

quint16 SlNTPClient::serverPort() const
{
    return m_port;
}

void SlNTPClient::setServerPort(quint16 port)
{
    m_port = port;
}

int SlNTPClient::timeoutInterval() const
{
    return m_timer.interval();
}

void SlNTPClient::setTimeoutInterval(int msec)
{
    m_timer.setInterval(msec);
}

QDateTime SlNTPClient::timeToSet(const NtpReply &reply)
{
    const QDateTime t1 = reply.originTime().toUTC();
    const QDateTime t4 = reply.destinationTime().toUTC();
    const QDateTime t3 = reply.transmitTime().toUTC();
    const qint64 roundTrip = t1.msecsTo(t4);
    return t3.addMSecs(roundTrip / 2);
}

void SlNTPClient::setHost(const QString &host)
{
    if (host == m_host)
        return;
    m_host = host;
    emit hostChanged(host);
}

bool SlNTPClient::sendRequest()
{
    if (m_host.isNull()) {
        qDebug() << "SlNTPClient::sendRequest() host is empty";
        return false;
    }
    const QHostAddress literal(m_host);
    if (!literal.isNull())
        return sendRequest(literal);

    beginExchange();
    QHostInfo::lookupHost(m_host, this, [this](const QHostInfo &info) { sendRequest(info); });
    return false;
}

bool SlNTPClient::sendRequest(const QHostInfo &hostinfo)
{
    const QList<QHostAddress> addresses = hostinfo.addresses();
    if (addresses.isEmpty())
        return false;
    beginExchange();
    return m_ntpClient.sendRequest(addresses.first(), m_port);
}

bool SlNTPClient::sendRequest(const QHostAddress &hostaddr)
{
    beginExchange();
    return m_ntpClient.sendRequest(hostaddr, m_port);
}

void SlNTPClient::onNtpReplyReceived(const QHostAddress &address, quint16 port,
                                     const NtpReply &reply)
{
    Q_UNUSED(address)
    Q_UNUSED(port)
    const QDateTime result = timeToSet(reply);
    qDebug() << result << "time to set";
    emit timeUpdated(result);
    endExchange();
}

void SlNTPClient::onNtpReplyTimeOut()
{
    endExchange();
}

void SlNTPClient::beginExchange()
{
    if (m_timer.isActive())
        return;
    m_timer.start();
    emit activeChanged(true);
}

void SlNTPClient::endExchange()
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    emit activeChanged(false);
}
