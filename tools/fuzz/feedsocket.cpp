#include "feedsocket.h"

#include <cstring>

FeedSocket::FeedSocket(QObject *parent)
    : QTcpSocket(parent)
{
    setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

qint64 FeedSocket::bytesAvailable() const
{
    return pending.size();
}

void FeedSocket::feed(const QByteArray &bytes)
{
    pending.append(bytes);
    emit readyRead();
}

qint64 FeedSocket::readData(char *data, qint64 maxlen)
{
    const int n = int(qMin<qint64>(maxlen, pending.size()));
    std::memcpy(data, pending.constData(), size_t(n));
    pending.remove(0, n);
    return n;
}

qint64 FeedSocket::writeData(const char *, qint64 len)
{
    return len;
}
