#ifndef FEEDDEVICE_H
#define FEEDDEVICE_H

#include <QByteArray>
#include <QIODevice>

// A link that hands the fuzzer's bytes to its reader at once: feed() queues them
// and emits readyRead in the same call, so no input needs the event loop. What
// the reader writes back goes nowhere.
class FeedDevice : public QIODevice
{
    Q_OBJECT
public:
    explicit FeedDevice(QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    void feed(const QByteArray &bytes);

protected:
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;

private:
    QByteArray pending;
};

#endif // FEEDDEVICE_H
