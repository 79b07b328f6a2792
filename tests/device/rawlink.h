#ifndef RAWLINK_H
#define RAWLINK_H

#include <QByteArray>
#include <QIODevice>
#include <QList>

#include <functional>

// The link below the framing in tests: records every write, hands out fed bytes
// and can run a hook inside each write. Used on its own thread only.
class RawLink : public QIODevice
{
    Q_OBJECT
public:
    explicit RawLink(QObject *parent = nullptr)
        : QIODevice(parent)
    {
        open(QIODevice::ReadWrite);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return incoming.size() + QIODevice::bytesAvailable(); }

    void feed(const QByteArray &bytes)
    {
        incoming.append(bytes);
        emit readyRead();
    }

    QList<QByteArray> writes;
    // Runs after a write was recorded.
    std::function<void()> afterWrite;
    // Result of every write instead of its length, when set.
    qint64 forcedResult = 0;
    bool forceResult = false;

protected:
    qint64 readData(char *data, qint64 maxlen) override
    {
        const int n = static_cast<int>(qMin<qint64>(maxlen, incoming.size()));
        std::copy(incoming.constData(), incoming.constData() + n, data);
        incoming.remove(0, n);
        return n;
    }
    qint64 writeData(const char *data, qint64 len) override
    {
        writes.append(QByteArray(data, static_cast<int>(len)));
        if (afterWrite)
            afterWrite();
        return forceResult ? forcedResult : len;
    }

private:
    QByteArray incoming;
};

#endif // RAWLINK_H
