#pragma once

#include "slntpclient.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

// Asks the time server on a timer and hands each answer on in the computer's
// own UTC offset, for the gadget's "syncTime" and "timeOffset".
class SlTimeSync : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(int interval READ interval WRITE setInterval NOTIFY intervalChanged)
    Q_PROPERTY(bool lastUpdateOK READ lastUpdateOK WRITE setLastUpdateOK NOTIFY lastUpdateOKChanged)
    // What the user reads while the time cannot be had: why, and when the next try is.
    Q_PROPERTY(QString warning READ warning NOTIFY warningChanged)
public:
    explicit SlTimeSync(QObject *parent = nullptr);

    // The server every new instance asks; start-up sets it before the first one is made.
    static void setDefaultHost(const QString &host);
    static QString defaultHost();

    bool enabled() const;
    int interval() const;
    bool lastUpdateOK() const;
    QString warning() const;

    // The client the requests go through, for pointing it at another server.
    SlNTPClient *ntpClient();

signals:
    void enabledChanged(bool enabled);
    void lastUpdateOKChanged(bool lastUpdateOK);
    void intervalChanged(int interval);
    void triggered(const QDateTime &datetime, int offset);
    void warningChanged();

public slots:
    void setEnabled(bool enabled);
    void setLastUpdateOK(bool lastUpdateOK);
    void setInterval(int interval);
    void ntpDataReceived(const QDateTime &dateTime);
    void ntpTimeout();

private slots:
    void onTimerTimeOut();

private:
    bool m_enabled = false;
    bool m_lastUpdateOK = true;
    QTimer m_timer;
    SlNTPClient m_ntpClient;
};
