#ifndef FEEDSOCKET_H
#define FEEDSOCKET_H

#include <QByteArray>
#include <QTcpSocket>

// The stream flavour of FeedDevice: the link treats a socket as a byte stream
// whose fragments may arrive split over several reads, so this one is a socket
// that never connects anywhere and reads only what the fuzzer feeds it.
class FeedSocket : public QTcpSocket
{
    Q_OBJECT
public:
    explicit FeedSocket(QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    void feed(const QByteArray &bytes);

protected:
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;

private:
    QByteArray pending;
};

#endif // FEEDSOCKET_H
