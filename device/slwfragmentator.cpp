#include "slwfragmentator.h"

#include <QAbstractSocket>

#include <QDebug>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <cstring>
#include <memory>

namespace {
constexpr int kWriterGraceMs = 200;
// Fragments a writer on another thread hands over at once when nothing paces them. One round
// trip through the link's thread per fragment would hold the rate far below what a fast link
// takes; more than this many would keep that thread (the interface's) from its events for too
// long on a link whose every write blocks, as a HID report does for a millisecond.
constexpr quint32 kBatchFragments = 32;

// Releases the write lock on every way out of a packet write.
class WriteLockRelease
{
public:
    explicit WriteLockRelease(std::mutex &lock)
        : lock(lock)
    {}
    ~WriteLockRelease() { lock.unlock(); }
    WriteLockRelease(const WriteLockRelease &) = delete;
    WriteLockRelease &operator=(const WriteLockRelease &) = delete;

private:
    std::mutex &lock;
};

// One wire fragment: the header, length bytes of payload and zeros up to the
// fragment size, built in a single allocation.
QByteArray makeFragment(const FHeader &header, const char *payload, int length)
{
    QByteArray fragment(SlWFragmentator::FragmentSize, '\0');
    header.writeTo(fragment.data());
    std::memcpy(fragment.data() + FHeader::WireSize, payload, static_cast<size_t>(length));
    return fragment;
}
} // namespace

SlWFragmentator::SlWFragmentator(QIODevice *device, QObject *parent)
    : QIODevice(parent)
    , rawDevice(device)
{
    qRegisterMetaType<FHeader>("FHeader");
    qRegisterMetaType<SlPacketInfo>("SlPacketInfo");
    packetBuffer.open(QIODevice::ReadWrite);
    if (device) {
        device->setParent(this);
        connect(device, &QIODevice::readyRead, this, &SlWFragmentator::onDeviceReadyRead);
    }
    // Unbuffered, so that nothing read ahead from one packet survives into the next.
    QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

SlWFragmentator::~SlWFragmentator()
{
    qDebug() << Q_FUNC_INFO << this;
    QIODevice *device = rawDevice.exchange(nullptr);
    {
        std::lock_guard<std::mutex> locker(pauseMutex);
        running = false;
        pauseCondition.notify_all();
    }

    // The wait is bounded but never runs the event loop: a deletion that hands control to
    // unrelated events (a new connection, queued reads, other deferred deletions) lets them
    // meet half-destroyed objects.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriterGraceMs);
    auto remainingMs = [&deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return int(qMax<qint64>(0, left.count()));
    };

    // A writer on another thread learns from its hand-over that the link is gone; it gives
    // the write lock back as soon as it sees that.
    while (!writeLock.try_lock()) {
        onRawWriteRequested();
        QThread::usleep(200);
    }
    writeLock.unlock();
    onRawWriteRequested();

    // What was written last (the detach command) should still leave before the link closes.
    if (auto *socket = qobject_cast<QAbstractSocket *>(device)) {
        while (socket->bytesToWrite() > 0 && socket->state() == QAbstractSocket::ConnectedState &&
               remainingMs() > 0) {
            if (!socket->waitForBytesWritten(remainingMs()))
                break;
        }
    }
}

qint64 SlWFragmentator::bytesAvailable() const
{
    return packetBuffer.size();
}

qint64 SlWFragmentator::packetOffset() const
{
    return m_packetOffset;
}

quint32 SlWFragmentator::writeDelay() const
{
    return m_writeDelay.load();
}

QIODevice *SlWFragmentator::device() const
{
    return rawDevice.load();
}

bool SlWFragmentator::transmitPacket(FHeader header, QByteArray payload)
{
    if (payload.size() > MaxPayload)
        return false;
    const QByteArray fragment = makeFragment(header, payload.constData(), payload.size());
    emit dataTransmitted(SlPacketInfo{header.count, header.index, header.offset,
                                      SlPacketInfo::FragmentSent, fragment});
    return writeRaw(fragment) == FragmentSize;
}

void SlWFragmentator::setWriteDelay(uint32_t delay)
{
    m_writeDelay = delay;
}

qint64 SlWFragmentator::readData(char *data, qint64 maxlen)
{
    return qMax<qint64>(packetBuffer.read(data, maxlen), 0);
}

qint64 SlWFragmentator::writeData(const char *data, qint64 len)
{
    if (!writeLock.try_lock())
        return 0;
    WriteLockRelease release(writeLock);

    const qint64 state = writeRaw(QByteArray());
    if (state == RawGone)
        return running ? 0 : -1;
    if (state == RawClosed) {
        qDebug() << Q_FUNC_INFO << "could not write data, device not open";
        return 0;
    }
    // The 16-bit fragment count could not describe a longer packet: its header
    // would wrap and the watch would store garbage.
    if (len > MaxPacketSize) {
        qDebug() << Q_FUNC_INFO << "packet too long" << len;
        return -1;
    }

    const quint32 offset = static_cast<quint32>(pos());
    emit dataTransmitted(SlPacketInfo{1, 1, offset, SlPacketInfo::PacketSent,
                                      QByteArray(data, static_cast<int>(len))});

    const quint16 count = static_cast<quint16>((len + MaxPayload - 1) / MaxPayload);
    FHeader header;
    header.count = count;
    header.offset = offset;
    qint64 sent = 0;
    QVector<QByteArray> batch;
    for (quint32 index = 0; index < count;) {
        if (!running)
            return -1;
        const bool paced = m_writeDelay.load() != 0;
        const quint32 take = paced || QThread::currentThread() == thread()
                                 ? 1
                                 : qMin(kBatchFragments, count - index);
        batch.clear();
        for (quint32 k = 0; k < take; ++k) {
            header.index = static_cast<quint16>(index + k);
            header.length = static_cast<quint8>(qMin<qint64>(MaxPayload, len - sent));
            batch.append(makeFragment(header, data + sent, header.length));
            sent += header.length;
            emit dataTransmitted(
                SlPacketInfo{count, index + k, offset, SlPacketInfo::FragmentSent, batch.last()});
        }

        qint64 failed = 0;
        const int whole = writeRawBatch(batch, &failed);
        for (int k = 0; k < whole; ++k)
            emit progressChanged(static_cast<float>(index + quint32(k)) * 100.0f /
                                 static_cast<float>(count));
        index += quint32(whole);
        if (whole < batch.size()) {
            if (failed == RawGone)
                return running ? 0 : -1;
            // Closed under us, or the write failed because the link went away
            // before its owner noticed: either way the rest cannot follow.
            qDebug() << Q_FUNC_INFO << "could not write data, device not open";
            return 0;
        }
        if (paced)
            pause();
    }
    return len;
}

// A fragment from a writer on another thread, carried out on the link's thread.
// Everything crosses under the hand-over's own mutex, never inside a posted
// event, so that the thread sanitizer sees the ordering.
struct SlWFragmentator::Handover
{
    std::mutex mutex;
    std::condition_variable done;
    QVector<QByteArray> fragments;
    int whole = 0;
    bool finished = false;
    qint64 result = RawGone;
};

qint64 SlWFragmentator::writeRaw(const QByteArray &fragment)
{
    qint64 failed = 0;
    const int whole = writeRawBatch({fragment}, &failed);
    if (whole == 1)
        return fragment.isEmpty() ? 0 : qint64(fragment.size());
    return failed;
}

int SlWFragmentator::writeRawBatch(const QVector<QByteArray> &fragments, qint64 *failed)
{
    if (QThread::currentThread() == thread()) {
        int whole = 0;
        for (const QByteArray &fragment : fragments) {
            const qint64 result = writeRawHere(fragment);
            if (result != fragment.size()) {
                *failed = result;
                break;
            }
            ++whole;
        }
        return whole;
    }

    auto handover = std::make_shared<Handover>();
    {
        std::lock_guard<std::mutex> locker(handover->mutex);
        handover->fragments = fragments;
    }
    {
        std::lock_guard<std::mutex> locker(handoverMutex);
        handovers.push_back(handover);
    }
    QMetaObject::invokeMethod(this, "onRawWriteRequested", Qt::QueuedConnection);
    std::unique_lock<std::mutex> locker(handover->mutex);
    handover->done.wait(locker, [&handover] { return handover->finished; });
    *failed = handover->result;
    return handover->whole;
}

void SlWFragmentator::onRawWriteRequested()
{
    for (;;) {
        std::shared_ptr<Handover> handover;
        {
            std::lock_guard<std::mutex> locker(handoverMutex);
            if (handovers.empty())
                return;
            handover = handovers.front();
            handovers.pop_front();
        }
        std::lock_guard<std::mutex> locker(handover->mutex);
        for (const QByteArray &fragment : qAsConst(handover->fragments)) {
            handover->result = writeRawHere(fragment);
            if (handover->result != fragment.size())
                break;
            ++handover->whole;
        }
        handover->finished = true;
        handover->done.notify_all();
    }
}

// An empty fragment only asks for the state of the link.
qint64 SlWFragmentator::writeRawHere(const QByteArray &fragment)
{
    QIODevice *device = rawDevice.load();
    if (!device)
        return RawGone;
    if (!device->isOpen())
        return RawClosed;
    if (fragment.isEmpty())
        return 0;
    return device->write(fragment);
}

void SlWFragmentator::pause()
{
    const quint32 delay = m_writeDelay.load();
    if (delay == 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
    std::unique_lock<std::mutex> locker(pauseMutex);
    pauseCondition.wait_until(locker, deadline, [this] { return !running; });
}

void SlWFragmentator::onDeviceReadyRead()
{
    QIODevice *device = rawDevice.load();
    if (!device)
        return;
    QByteArray incoming = device->readAll();
    qDebug() << Q_FUNC_INFO << "Incoming data length" << incoming.size();
    // A HID read is always whole reports, so a short rest there is damage; on a
    // stream link it is only a fragment that arrives in two reads.
    const bool stream = qobject_cast<QAbstractSocket *>(device) != nullptr;
    if (!streamRemainder.isEmpty()) {
        incoming.prepend(streamRemainder);
        streamRemainder.clear();
    }

    // A readyRead receiver may delete us; stop touching members if it does.
    QPointer<SlWFragmentator> alive(this);
    for (int at = 0; at < incoming.size(); at += FragmentSize) {
        if (incoming.size() - at < FragmentSize) {
            if (stream) {
                streamRemainder = incoming.mid(at);
                break;
            }
            qDebug() << Q_FUNC_INFO << "error reading fragmentation header";
            break;
        }
        const char *fragment = incoming.constData() + at;
        const FHeader header = FHeader::fromBytes(fragment);

        if (header.index == 0) {
            m_packetOffset = header.offset;
            packetBuffer.buffer().clear();
            packetBuffer.seek(0);
            expectedIndex = 0;
        } else if (expectedIndex != NoIndex) {
            ++expectedIndex;
        }

        emit dataTransmitted(SlPacketInfo{header.count, header.index, header.offset,
                                          SlPacketInfo::FragmentReceived,
                                          QByteArray(fragment, FragmentSize)});
        if (!alive)
            return;

        // A fragment past its packet's own count can never complete it; taking it
        // would only let a packet grow without end.
        if (expectedIndex == header.index && header.index < header.count) {
            const int length = qMin<int>(header.length, MaxPayload);
            packetBuffer.buffer().append(fragment + FHeader::WireSize, length);
        } else {
            expectedIndex = NoIndex;
        }

        if (expectedIndex != NoIndex && header.index == header.count - 1) {
            // Nothing but a new first fragment may touch a completed packet.
            expectedIndex = NoIndex;
            packetBuffer.seek(0);
            emit dataTransmitted(SlPacketInfo{1, 1, static_cast<quint32>(m_packetOffset),
                                              SlPacketInfo::PacketReceived, packetBuffer.data()});
            if (!alive)
                return;
            emit readyRead();
            if (!alive)
                return;
        }
    }
}
