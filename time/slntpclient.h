#pragma once

#include "ntpclient.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QTimer>

// Reads the network time from one server: resolves the host, sends the
// request and turns the answer into the server's clock at arrival, or reports
// a time-out when none comes in time.
class SlNTPClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString host READ host WRITE setHost NOTIFY hostChanged)
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
public:
    static constexpr quint16 kDefaultPort = 123;
    static constexpr int kDefaultTimeout = 2000;

    explicit SlNTPClient(QObject *parent = nullptr);

    QString host() const;
    bool active() const;

    // For tests and unusual servers; the standard port otherwise.
    quint16 serverPort() const;
    void setServerPort(quint16 port);
    int timeoutInterval() const;
    void setTimeoutInterval(int msec);

    // The server's clock when the reply arrived, assuming a symmetric path.
    static QDateTime timeToSet(const NtpReply &reply);
    // When the server lets us ask again, if it asked us to wait (kiss-o'-death).
    QDateTime holdOffEnd() const { return m_ntpClient.holdOffEnd(); }

signals:
    void hostChanged(const QString &host);
    void activeChanged(bool active);
    void timeUpdated(const QDateTime &time);
    void timeOut();
    void holdOffChanged();

public slots:
    void setHost(const QString &host);
    bool sendRequest();
    bool sendRequest(const QHostInfo &hostinfo);
    bool sendRequest(const QHostAddress &hostaddr);

private slots:
    void onNtpReplyReceived(const QHostAddress &address, quint16 port, const NtpReply &reply);
    void onNtpReplyTimeOut();

private:
    void beginExchange();
    void endExchange();

    NtpClient m_ntpClient;
    QString m_host;
    QTimer m_timer;
    quint16 m_port = kDefaultPort;
};
