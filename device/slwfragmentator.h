#ifndef SLWFRAGMENTATOR_H
#define SLWFRAGMENTATOR_H

#include "device/fheader.h"
#include "device/slpacketinfo.h"

#include <QBuffer>
#include <QIODevice>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

// Carries packets of any length over a link of fixed 32-byte fragments: each
// write becomes one packet, incoming fragments are reassembled and readyRead
// fires once per complete packet.
//
// Packet writes may come from any thread. The raw device is only ever touched on
// the fragmentator's own thread: a writer on another thread hands each fragment
// over and waits for it, so that thread's event loop must keep running while a
// write from elsewhere is in progress.
class SlWFragmentator : public QIODevice
{
    Q_OBJECT
public:
    static constexpr int FragmentSize = 32;
    static constexpr int MaxPayload = FragmentSize - FHeader::WireSize;
    static constexpr qint64 MaxPacketSize = qint64(0xFFFF) * MaxPayload;

    explicit SlWFragmentator(QIODevice *device, QObject *parent = nullptr);
    ~SlWFragmentator() override;

    qint64 bytesAvailable() const override;

    qint64 packetOffset() const;
    quint32 writeDelay() const;
    QIODevice *device() const;

signals:
    void dataTransmitted(SlPacketInfo packetInfo);
    void progressChanged(float progress);

public slots:
    bool transmitPacket(FHeader header, QByteArray payload);
    void setWriteDelay(uint32_t delay);

protected:
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;

private slots:
    void onDeviceReadyRead();
    // Queued by name from a writer on another thread: carries out its hand-overs.
    void onRawWriteRequested();

private:
    struct Handover;

    enum RawResult : qint64 { RawGone = -2, RawClosed = -3 };

    qint64 writeRaw(const QByteArray &fragment);
    // Writes the fragments in order on the link's thread and stops at the first that does not
    // go out whole; returns how many did, and that one's result in *failed.
    int writeRawBatch(const QVector<QByteArray> &fragments, qint64 *failed);
    qint64 writeRawHere(const QByteArray &fragment);
    void pause();

    static constexpr quint32 NoIndex = 0xFFFFFFFF;

    // Cleared by the destructor while a writer on another thread may read it.
    std::atomic<QIODevice *> rawDevice;
    QBuffer packetBuffer;
    // The start of a fragment cut by a stream link (TCP keeps no write
    // boundaries); completed by the next read.
    QByteArray streamRemainder;
    qint64 m_packetOffset = 0;
    quint32 expectedIndex = NoIndex;
    std::atomic<quint32> m_writeDelay{0};
    std::atomic<bool> running{true};
    // Held around one whole packet write; only ever tried. Standard mutexes here,
    // so that the thread sanitizer sees the ordering they give (it cannot look
    // into the distribution's Qt).
    std::mutex writeLock;
    // Guards the writer's pause, so that the destructor can cut it short.
    std::mutex pauseMutex;
    std::condition_variable pauseCondition;
    // Guards handovers: fragments from writers on other threads, waiting for this thread.
    std::mutex handoverMutex;
    std::deque<std::shared_ptr<Handover>> handovers;
};

#endif // SLWFRAGMENTATOR_H
