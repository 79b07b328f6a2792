#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

// A scriptable time server on loopback: records every request and, when asked
// to, answers it as a healthy stratum-2 server would, with the fields a client checks.
class FakeNtpServer : public QObject
{
public:
    struct Request
    {
        QByteArray data;
        QHostAddress sender;
        quint16 senderPort = 0;
    };

    explicit FakeNtpServer(const QHostAddress &bindAddress = QHostAddress::LocalHost);

    quint16 port() const { return m_socket.localPort(); }
    const QList<Request> &requests() const { return m_requests; }
    void setAutoReply(bool on) { m_autoReply = on; }

    // A valid server reply to request whose transmit timestamp is serverTimestamp (the
    // current clock when 0).
    static QByteArray replyTo(const QByteArray &request, quint64 serverTimestamp = 0);
    static QByteArray bigEndian64(quint64 value);
    void answer(const Request &request, const QByteArray &reply);

private:
    QUdpSocket m_socket;
    QList<Request> m_requests;
    bool m_autoReply = false;
};
