#include "fakentpserver.h"

#include "time/ntpclient.h"

#include <QDateTime>
#include <QtEndian>

FakeNtpServer::FakeNtpServer(const QHostAddress &bindAddress)
{
    m_socket.bind(bindAddress, 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
        while (m_socket.hasPendingDatagrams()) {
            Request request;
            request.data.resize(int(m_socket.pendingDatagramSize()));
            m_socket.readDatagram(request.data.data(), request.data.size(), &request.sender,
                                  &request.senderPort);
            m_requests.append(request);
            if (m_autoReply)
                answer(request, replyTo(request.data));
        }
    });
}

QByteArray FakeNtpServer::bigEndian64(quint64 value)
{
    uchar bytes[8];
    qToBigEndian(value, bytes);
    return QByteArray(reinterpret_cast<const char *>(bytes), 8);
}

QByteArray FakeNtpServer::replyTo(const QByteArray &request, quint64 serverTimestamp)
{
    if (serverTimestamp == 0)
        serverTimestamp = NtpClient::dateTimeToTimestamp(QDateTime::currentMSecsSinceEpoch());
    QByteArray reply(48, '\0');
    reply[0] = char(0x24); // leap indicator 0, version 4, mode 4
    reply[1] = 2;          // stratum
    // The origin and transmit timestamps; a client reads nothing else of a healthy reply.
    reply.replace(24, 8, request.mid(40, 8));
    reply.replace(40, 8, bigEndian64(serverTimestamp));
    return reply;
}

void FakeNtpServer::answer(const Request &request, const QByteArray &reply)
{
    m_socket.writeDatagram(reply, request.sender, request.senderPort);
}
