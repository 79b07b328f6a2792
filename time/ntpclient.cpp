#include "ntpclient.h"

#include <QDateTime>
#include <QDebug>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <QtEndian>

namespace {
constexpr qint64 kNtpToUnixMsecs = NtpReply::kNtpToUnixSeconds * 1000;
constexpr char kClientFirstByte = 0x23; // leap indicator 0, version 4, mode 3
constexpr int kServerMode = 4;
constexpr int kLeapUnsynchronised = 3;
constexpr int kMaxStratum = 15;
// A server that denies or restricts us is left alone this long.
constexpr qint64 kDenyHoldOffMsecs = 60LL * 60 * 1000;
// A rate kiss starts at twice the usual once-a-minute poll and doubles.
constexpr qint64 kRateHoldOffMsecs = 2LL * 60 * 1000;
constexpr qint64 kMaxRateHoldOffMsecs = 60LL * 60 * 1000;
// Requests sent in a burst can each still be answered; older ones are given up.
constexpr int kMaxPending = 8;
} // namespace

NtpClient::NtpClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
{
    qRegisterMetaType<NtpReply>();
    if (!m_socket->bind(QHostAddress(QHostAddress::Any), 0))
        qDebug() << "NtpClient: bind failed:" << m_socket->errorString();
    connect(m_socket, &QUdpSocket::readyRead, this, &NtpClient::readPendingDatagrams);
}

bool NtpClient::sendRequest(const QHostAddress &address, quint16 port)
{
    if (m_socket->state() != QAbstractSocket::BoundState)
        return false;

    const QString key = serverKey(address, port);
    const auto held = m_holdOffs.constFind(key);
    if (held != m_holdOffs.constEnd() && !held->since.hasExpired(held->duration)) {
        qDebug() << "NtpClient::sendRequest() server asked us to back off:" << address << port;
        return false;
    }

    const QByteArray packet =
        requestPacket(QDateTime::currentMSecsSinceEpoch(), QRandomGenerator::system()->generate());
    if (m_socket->writeDatagram(packet, address, port) < 0) {
        qDebug() << "NtpClient::sendRequest() write failed:" << m_socket->errorString();
        return false;
    }
    if (m_pending.size() >= kMaxPending)
        m_pending.removeFirst();
    m_pending.append({address, port, qFromBigEndian<quint64>(packet.constData() + 40)});
    return true;
}

QByteArray NtpClient::requestPacket(qint64 msecsSinceEpoch, quint32 noise)
{
    uchar packet[NtpReply::kHeaderSize] = {};
    packet[0] = kClientFirstByte;
    quint64 timestamp = dateTimeToTimestamp(msecsSinceEpoch);
    timestamp = (timestamp & ~quint64(kTransmitNoiseMask)) | (noise & kTransmitNoiseMask);
    qToBigEndian<quint64>(timestamp, packet + 40);
    return QByteArray(reinterpret_cast<const char *>(packet), sizeof(packet));
}

quint64 NtpClient::dateTimeToTimestamp(qint64 msecsSinceEpoch)
{
    const qint64 n = msecsSinceEpoch + kNtpToUnixMsecs;
    const quint32 seconds = quint32(n / 1000);
    const quint32 fraction = quint32((quint64(n % 1000) << 32) / 1000);
    return (quint64(seconds) << 32) | fraction;
}

void NtpClient::readPendingDatagrams()
{
    while (m_socket->hasPendingDatagrams()) {
        QByteArray buffer(NtpReply::kPacketSize, '\0');
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size =
            m_socket->readDatagram(buffer.data(), buffer.size(), &sender, &senderPort);
        if (size < 0) {
            qDebug() << "NtpClient::readPendingDatagrams() read failed:" << m_socket->errorString();
            break;
        }
        if (size < NtpReply::kHeaderSize) {
            qDebug() << "NtpClient: reply rejected: datagram of" << size << "bytes from" << sender;
            continue;
        }
        const NtpReply reply(buffer, QDateTime::currentDateTime());
        if (acceptReply(reply, sender, senderPort))
            emit replyReceived(sender, senderPort, reply);
    }
}

// The checks a trustworthy SNTP client makes before believing a server's time.
bool NtpClient::acceptReply(const NtpReply &reply, const QHostAddress &sender, quint16 senderPort)
{
    const auto reject = [&](const char *why) {
        qDebug() << "NtpClient: reply rejected:" << why << "from" << sender << senderPort;
        return false;
    };

    // Nobody can make us take a time we did not ask for, nor replay an answer.
    if (m_pending.isEmpty())
        return reject("no request outstanding");
    bool fromServer = false;
    int answered = -1;
    for (int i = 0; i < m_pending.size() && answered < 0; ++i) {
        const Request &request = m_pending.at(i);
        if (senderPort != request.port ||
            !sender.isEqual(request.address, QHostAddress::TolerantConversion))
            continue;
        fromServer = true;
        if (reply.originTimestamp() == request.transmitTimestamp)
            answered = i;
    }
    if (!fromServer)
        return reject("not the server asked");
    if (answered < 0)
        return reject("origin timestamp does not match the request");
    const Request request = m_pending.takeAt(answered);

    if (reply.mode() != kServerMode)
        return reject("not a server reply");
    if (reply.versionNumber() < 3 || reply.versionNumber() > 4)
        return reject("unsupported version");
    if (reply.stratum() == 0) {
        handleKissOfDeath(request, reply.referenceId());
        return reject("kiss-o'-death");
    }
    if (reply.leapIndicator() == kLeapUnsynchronised)
        return reject("server clock not synchronised");
    if (reply.stratum() > kMaxStratum)
        return reject("server stratum unsynchronised");
    if (reply.transmitTimestamp() == 0)
        return reject("zero transmit timestamp");

    if (m_holdOffs.remove(serverKey(request.address, request.port)) > 0)
        emit holdOffChanged();
    return true;
}

void NtpClient::handleKissOfDeath(const Request &request, const QByteArray &code)
{
    const QString key = serverKey(request.address, request.port);
    HoldOff &holdOff = m_holdOffs[key];
    if (code == "DENY" || code == "RSTR") {
        holdOff.duration = kDenyHoldOffMsecs;
    } else if (code == "RATE") {
        holdOff.duration =
            qMin(kRateHoldOffMsecs << qMin(holdOff.rateStrikes, 16), kMaxRateHoldOffMsecs);
        ++holdOff.rateStrikes;
    } else {
        // Other kiss codes carry no instruction for a client like us.
        if (holdOff.duration == 0)
            m_holdOffs.remove(key);
        qDebug() << "NtpClient: kiss code" << code;
        return;
    }
    holdOff.since.start();
    emit holdOffChanged();
    qDebug() << "NtpClient: kiss code" << code << "- not asking" << request.address << "for"
             << holdOff.duration / 1000 << "s";
}

QDateTime NtpClient::holdOffEnd() const
{
    qint64 remaining = 0;
    for (const HoldOff &holdOff : m_holdOffs)
        if (holdOff.duration > 0 && !holdOff.since.hasExpired(holdOff.duration))
            remaining = qMax(remaining, holdOff.duration - holdOff.since.elapsed());
    return remaining > 0 ? QDateTime::currentDateTime().addMSecs(remaining) : QDateTime();
}

QString NtpClient::serverKey(const QHostAddress &address, quint16 port)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QString host = isV4 ? QHostAddress(v4).toString() : address.toString();
    return host + QLatin1Char('#') + QString::number(port);
}
