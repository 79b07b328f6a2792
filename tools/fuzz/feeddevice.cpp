#include "feeddevice.h"

#include <cstring>

FeedDevice::FeedDevice(QObject *parent)
    : QIODevice(parent)
{
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

qint64 FeedDevice::bytesAvailable() const
{
    return pending.size() + QIODevice::bytesAvailable();
}

void FeedDevice::feed(const QByteArray &bytes)
{
    pending.append(bytes);
    emit readyRead();
}

qint64 FeedDevice::readData(char *data, qint64 maxlen)
{
    const int n = int(qMin<qint64>(maxlen, pending.size()));
    std::memcpy(data, pending.constData(), size_t(n));
    pending.remove(0, n);
    return n;
}

qint64 FeedDevice::writeData(const char *, qint64 len)
{
    return len;
}
