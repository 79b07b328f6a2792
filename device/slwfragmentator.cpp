#include "slwfragmentator.h"

#include "device/slusbhiddevice.h"

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
    {
        std::lock_guard<std::mutex> locker(jobMutex);
        jobCondition.notify_all();
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

    // The writer learns from its next hand-over, or before its next fragment, that the link
    // is gone, and leaves; the device cannot go before it has. A HID write in progress ends
    // within the system's own time-out.
    while (!writeLock.try_lock()) {
        onRawWriteRequested();
        std::unique_lock<std::mutex> locker(jobMutex);
        idleCondition.wait_for(locker, std::chrono::milliseconds(1));
    }
    writeLock.unlock();
    if (writer.joinable())
        writer.join();
    onRawWriteRequested();
    // The end of a write cut short is still told to whoever listens.
    onWriterReports();

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

QVector<QByteArray> SlWFragmentator::cutPacket(quint32 address, const QByteArray &data)
{
    QVector<QByteArray> fragments;
    if (data.isEmpty() || data.size() > MaxPacketSize)
        return fragments;
    FHeader header;
    header.count = static_cast<quint16>((data.size() + MaxPayload - 1) / MaxPayload);
    header.offset = address;
    fragments.reserve(header.count);
    for (int sent = 0; sent < data.size(); sent += MaxPayload) {
        header.length = static_cast<quint8>(qMin(MaxPayload, data.size() - sent));
        fragments.append(makeFragment(header, data.constData() + sent, header.length));
        ++header.index;
    }
    return fragments;
}

bool SlWFragmentator::queueWrite(quint32 address, const QByteArray &data)
{
    if (data.isEmpty() || data.size() > MaxPacketSize || !running) {
        qDebug() << Q_FUNC_INFO << "cannot carry a packet of" << data.size() << "bytes";
        return false;
    }
    std::lock_guard<std::mutex> locker(jobMutex);
    jobs.push_back(Job{nextJobId++, address, data});
    writerBusy = true;
    if (!writer.joinable())
        writer = std::thread([this] { writerLoop(); });
    jobCondition.notify_all();
    return true;
}

bool SlWFragmentator::stopWrites(int timeoutMs)
{
    abandonedJob = runningJob.load();
    {
        std::lock_guard<std::mutex> locker(pauseMutex);
        pauseCondition.notify_all();
    }
    // Hand-overs to this thread are carried out meanwhile: the writer may wait for one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        onRawWriteRequested();
        {
            std::unique_lock<std::mutex> locker(jobMutex);
            if (writerBusy && std::chrono::steady_clock::now() < deadline) {
                idleCondition.wait_for(locker, std::chrono::milliseconds(1));
                continue;
            }
        }
        // What the writer reported, the end of the abandoned write included, is heard now.
        onWriterReports();
        return !isWriting();
    }
}

bool SlWFragmentator::isWriting() const
{
    std::lock_guard<std::mutex> locker(jobMutex);
    return writerBusy;
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
    // The position belongs to the framing's thread; only there is it the caller's own.
    if (QThread::currentThread() != thread()) {
        qDebug() << Q_FUNC_INFO << "write from another thread refused: queue it with its address";
        return -1;
    }
    const quint32 address = static_cast<quint32>(pos());
    {
        // Behind a queued write, a write waits its turn, so that the watch sees them in order.
        std::lock_guard<std::mutex> locker(jobMutex);
        if (writerBusy && len > 0 && len <= MaxPacketSize && running) {
            jobs.push_back(Job{nextJobId++, address, QByteArray(data, static_cast<int>(len))});
            jobCondition.notify_all();
            qDebug() << Q_FUNC_INFO << "write at" << address << "queued behind a transfer";
            return len;
        }
    }
    if (!writeLock.try_lock())
        return 0;
    WriteLockRelease release(writeLock);
    return sendPacket(address, data, len, 0);
}

void SlWFragmentator::writerLoop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> locker(jobMutex);
            jobCondition.wait(locker, [this] { return !running || !jobs.empty(); });
            if (!running) {
                jobs.clear();
                writerBusy = false;
                idleCondition.notify_all();
                return;
            }
            job = std::move(jobs.front());
            jobs.pop_front();
            runningJob = job.id;
        }
        qint64 result = -1;
        {
            std::lock_guard<std::mutex> locker(writeLock);
            result = sendPacket(job.address, job.data.constData(), job.data.size(), job.id);
        }
        runningJob = 0;
        Report finished;
        finished.kind = Report::Finished;
        finished.address = job.address;
        finished.result = result;
        report(std::move(finished));
        std::lock_guard<std::mutex> locker(jobMutex);
        if (jobs.empty()) {
            writerBusy = false;
            idleCondition.notify_all();
        }
    }
}

bool SlWFragmentator::stopped(quint64 jobId) const
{
    return !running || (jobId != 0 && abandonedJob.load() == jobId);
}

qint64 SlWFragmentator::sendPacket(quint32 address, const char *data, qint64 len, quint64 jobId)
{
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

    reportInfo(SlPacketInfo{1, 1, address, SlPacketInfo::PacketSent,
                            QByteArray(data, static_cast<int>(len))});
    const QVector<QByteArray> fragments =
        cutPacket(address, QByteArray::fromRawData(data, static_cast<int>(len)));
    const int count = fragments.size();
    const bool here = QThread::currentThread() == thread();
    QVector<QByteArray> batch;
    for (int index = 0; index < count;) {
        if (stopped(jobId))
            return -1;
        const bool paced = m_writeDelay.load() != 0;
        const int take = paced || here ? 1 : qMin<int>(kBatchFragments, count - index);
        batch = fragments.mid(index, take);
        for (int k = 0; k < take; ++k)
            reportInfo(SlPacketInfo{quint32(count), quint32(index + k), address,
                                    SlPacketInfo::FragmentSent, batch.at(k)});

        qint64 failed = 0;
        const int whole = writeRawBatch(batch, &failed);
        // Only what the link took counts as progress.
        for (int k = 0; k < whole; ++k) {
            Report progress;
            progress.kind = Report::Progress;
            progress.progress = static_cast<float>(index + k) * 100.0f / static_cast<float>(count);
            report(std::move(progress));
        }
        index += whole;
        if (whole < batch.size()) {
            if (failed == RawGone)
                return running && !stopped(jobId) ? 0 : -1;
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

void SlWFragmentator::reportInfo(SlPacketInfo info)
{
    Report r;
    r.kind = Report::Info;
    r.info = std::move(info);
    report(std::move(r));
}

// On the framing's thread a report is emitted at once; from the writer it waits in the queue for
// that thread, so that receivers hear the framing only on its own thread and everything handed
// over crosses under our own mutex.
void SlWFragmentator::report(Report r)
{
    if (QThread::currentThread() == thread()) {
        emitReport(r);
        return;
    }
    bool first = false;
    {
        std::lock_guard<std::mutex> locker(reportMutex);
        first = reports.empty();
        reports.push_back(std::move(r));
    }
    if (first)
        QMetaObject::invokeMethod(this, "onWriterReports", Qt::QueuedConnection);
}

void SlWFragmentator::emitReport(const Report &r)
{
    switch (r.kind) {
    case Report::Info:
        emit dataTransmitted(r.info);
        break;
    case Report::Progress:
        emit progressChanged(r.progress);
        break;
    case Report::Finished:
        emit writeFinished(r.address, r.result);
        break;
    }
}

void SlWFragmentator::onWriterReports()
{
    std::deque<Report> taken;
    {
        std::lock_guard<std::mutex> locker(reportMutex);
        taken.swap(reports);
    }
    // A receiver may delete us; stop touching members if it does.
    QPointer<SlWFragmentator> alive(this);
    for (const Report &r : taken) {
        emitReport(r);
        if (!alive)
            return;
    }
}

// A fragment from the writer thread, carried out on the link's thread.
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

    // Once the framing is going, nobody is left to carry out a hand-over.
    QIODevice *device = rawDevice.load();
    if (!device || !running) {
        *failed = RawGone;
        return 0;
    }
    // A HID link takes reports from any thread; the writer keeps them off the interface's.
    if (auto *hid = qobject_cast<SlUSBHidDevice *>(device)) {
        int whole = 0;
        for (const QByteArray &fragment : fragments) {
            const qint64 result =
                fragment.isEmpty() ? 0 : hid->writeReport(fragment.constData(), fragment.size());
            if (!rawDevice.load()) {
                *failed = RawGone;
                return whole;
            }
            if (result != fragment.size()) {
                *failed = result < 0 ? qint64(RawClosed) : result;
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
    pauseCondition.wait_until(locker, deadline, [this] {
        const quint64 job = runningJob.load();
        return !running || (job != 0 && abandonedJob.load() == job);
    });
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
