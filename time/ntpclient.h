#pragma once

#include "ntpreply.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QVector>

class QUdpSocket;

// SNTP transport: sends client requests from one ephemeral UDP port and passes
// on only the replies that answer the request in flight.
class NtpClient : public QObject
{
    Q_OBJECT
public:
    // Low bits of the transmit fraction (below a quarter millisecond) that are
    // filled with random noise, so that a reply can only echo what we sent.
    static constexpr quint32 kTransmitNoiseMask = 0x000FFFFFu;

    explicit NtpClient(QObject *parent = nullptr);

    bool sendRequest(const QHostAddress &address, quint16 port);

    // The 48-byte client request for a clock reading in ms since the Unix
    // epoch, with the masked bits of noise in the transmit fraction.
    static QByteArray requestPacket(qint64 msecsSinceEpoch, quint32 noise);
    static quint64 dateTimeToTimestamp(qint64 msecsSinceEpoch);

    // When the last hold-off a server asked for ends; invalid when none is running.
    QDateTime holdOffEnd() const;

signals:
    void replyReceived(const QHostAddress &address, quint16 port, const NtpReply &reply);
    // A server asked us to wait, or a server that had asked has answered again.
    void holdOffChanged();

private slots:
    void readPendingDatagrams();

private:
    struct Request
    {
        QHostAddress address;
        quint16 port = 0;
        quint64 transmitTimestamp = 0;
    };
    struct HoldOff
    {
        QElapsedTimer since;
        qint64 duration = 0;
        int rateStrikes = 0;
    };

    bool acceptReply(const NtpReply &reply, const QHostAddress &sender, quint16 senderPort);
    void handleKissOfDeath(const Request &request, const QByteArray &code);
    static QString serverKey(const QHostAddress &address, quint16 port);

    QUdpSocket *m_socket = nullptr;
    // Requests still waiting for their answer, oldest first; each is answered
    // at most once.
    QVector<Request> m_pending;
    // Servers that told us to go away (kiss-o'-death), by address and port.
    QHash<QString, HoldOff> m_holdOffs;
};
