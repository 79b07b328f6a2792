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
#include <thread>

// Carries packets of any length over a link of fixed 32-byte fragments: each
// write becomes one packet, incoming fragments are reassembled and readyRead
// fires once per complete packet.
//
// A write through the QIODevice interface goes to the position it was given and leaves on the
// calling (the framing's own) thread. A long packet, such as a firmware image, is queued with
// its address instead and leaves from the framing's writer thread, so that no seek made for
// another write can move it and the interface stays responsive; writes made meanwhile wait
// behind it in order. A HID link is written from the writer thread directly; any other link
// only on the framing's thread, to which the writer hands its fragments.
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

    // The wire fragments of one packet for address; none for an empty packet or one longer
    // than a fragment count can describe.
    static QVector<QByteArray> cutPacket(quint32 address, const QByteArray &data);

    // Queues one packet for the writer thread and returns at once: false when it cannot be
    // carried. Progress comes by progressChanged, the outcome by writeFinished. Called on the
    // framing's own thread.
    bool queueWrite(quint32 address, const QByteArray &data);
    // Abandons the queued write in progress (writes queued behind it still go out) and waits,
    // bounded, until the writer is idle; false when it still is not.
    bool stopWrites(int timeoutMs);
    bool isWriting() const;

signals:
    void dataTransmitted(SlPacketInfo packetInfo);
    void progressChanged(float progress);
    // A queued write ended: result is its size when every fragment went out, 0 when the link
    // refused one, -1 when it was stopped.
    void writeFinished(quint32 address, qint64 result);

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
    // Queued by name from the writer: emits what it reported.
    void onWriterReports();

private:
    struct Handover;
    struct Job
    {
        quint64 id;
        quint32 address;
        QByteArray data;
    };

    // What the writer tells the framing's thread: a packet info, a progress step or the end of
    // a queued write.
    struct Report
    {
        enum Kind { Info, Progress, Finished } kind = Info;
        SlPacketInfo info;
        float progress = 0;
        quint32 address = 0;
        qint64 result = 0;
    };

    enum RawResult : qint64 { RawGone = -2, RawClosed = -3 };

    // Sends one packet with the write lock held; returns its size, 0 or -1. jobId is 0 for a
    // write on the framing's thread.
    qint64 sendPacket(quint32 address, const char *data, qint64 len, quint64 jobId);
    void writerLoop();
    void report(Report r);
    void reportInfo(SlPacketInfo info);
    void emitReport(const Report &r);
    bool stopped(quint64 jobId) const;
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
    // Guards handovers: fragments from the writer thread, waiting for this thread.
    std::mutex handoverMutex;
    std::deque<std::shared_ptr<Handover>> handovers;

    // Guards jobs, writerBusy and nextJobId; jobCondition wakes the writer, idleCondition
    // those who wait for it to finish.
    mutable std::mutex jobMutex;
    std::condition_variable jobCondition;
    std::condition_variable idleCondition;
    std::deque<Job> jobs;
    // From the moment a job is queued until the writer has finished the last one.
    bool writerBusy = false;
    quint64 nextJobId = 1;
    // The job the writer is sending, and the one stopWrites abandoned.
    std::atomic<quint64> runningJob{0};
    std::atomic<quint64> abandonedJob{0};
    std::thread writer;
    // Guards reports: what the writer reported, waiting for the framing's thread.
    std::mutex reportMutex;
    std::deque<Report> reports;
};

#endif // SLWFRAGMENTATOR_H
