// Throughput of the fragment framing, to set against the link it feeds: a
// full-speed USB HID interrupt endpoint carries at most 1000 reports a second,
// that is 23 000 payload bytes a second in 32-byte fragments.

#include "device/slwfragmentator.h"

#include <QCoreApplication>
#include <QIODevice>

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

constexpr double kLinkFragmentsPerSecond = 1000.0;

// Swallows every write and hands out a prepared stream on demand.
class NullLink : public QIODevice
{
public:
    NullLink() { open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return stream.size() - at; }

    void deliver(const QByteArray &bytes)
    {
        stream = bytes;
        at = 0;
        emit readyRead();
    }

protected:
    qint64 readData(char *data, qint64 maxlen) override
    {
        const qint64 n = qMin<qint64>(maxlen, stream.size() - at);
        memcpy(data, stream.constData() + at, size_t(n));
        at += n;
        return n;
    }
    qint64 writeData(const char *, qint64 len) override { return len; }

private:
    QByteArray stream;
    qint64 at = 0;
};

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// Rates of a run that moved one packet of size bytes in fragments per iteration.
void setRates(benchmark::State &state, int size, qint64 fragments)
{
    const double packets = double(state.iterations());
    state.counters["fragments/s"] =
        benchmark::Counter(packets * double(fragments), benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(packets * size / 1e6, benchmark::Counter::kIsRate);
    state.counters["x_usb_limit"] = benchmark::Counter(
        packets * double(fragments) / kLinkFragmentsPerSecond, benchmark::Counter::kIsRate);
}

void BM_FramePacket(benchmark::State &state)
{
    const int size = int(state.range(0));
    const QByteArray packet(size, '\x5a');
    auto *link = new NullLink;
    SlWFragmentator framing(link);
    framing.setWriteDelay(0);
    const qint64 fragments = (size + SlWFragmentator::MaxPayload - 1) / SlWFragmentator::MaxPayload;

    for (auto _ : state) {
        framing.seek(0x100000);
        benchmark::DoNotOptimize(framing.write(packet));
    }
    setRates(state, size, fragments);
}

// The firmware path: a writer on another thread hands each fragment to the
// link's own thread, which runs its event loop meanwhile.
void BM_FramePacketFromWorker(benchmark::State &state)
{
    const int size = int(state.range(0));
    const QByteArray packet(size, '\x5a');
    auto *link = new NullLink;
    SlWFragmentator framing(link);
    const qint64 fragments = (size + SlWFragmentator::MaxPayload - 1) / SlWFragmentator::MaxPayload;

    for (auto _ : state) {
        std::atomic<bool> done{false};
        framing.seek(0x100000);
        std::thread writer([&] {
            benchmark::DoNotOptimize(framing.write(packet));
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents();
        writer.join();
    }
    setRates(state, size, fragments);
}

void BM_Reassemble(benchmark::State &state)
{
    const int size = int(state.range(0));
    const int count = (size + SlWFragmentator::MaxPayload - 1) / SlWFragmentator::MaxPayload;
    QByteArray stream;
    stream.reserve(count * SlWFragmentator::FragmentSize);
    for (int i = 0; i < count; ++i) {
        FHeader header;
        header.index = quint16(i);
        header.count = quint16(count);
        header.offset = 0;
        header.length = quint8(qMin(SlWFragmentator::MaxPayload, size - i * 23));
        stream += header.toBytes();
        stream += QByteArray(header.length, '\x33');
        stream += QByteArray(SlWFragmentator::MaxPayload - header.length, '\0');
    }
    auto *link = new NullLink;
    SlWFragmentator framing(link);
    qint64 received = 0;
    QObject::connect(&framing, &QIODevice::readyRead, [&] {
        framing.seek(0);
        received += framing.readAll().size();
    });

    for (auto _ : state)
        link->deliver(stream);
    if (received != qint64(size) * qint64(state.iterations()))
        state.SkipWithError("packets were lost");
    setRates(state, size, count);
}

} // namespace

// 1.5 MB: the largest packet the 16-bit fragment count allows, a firmware image.
BENCHMARK(BM_FramePacket)->Arg(1507305)->Arg(23)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramePacketFromWorker)->Arg(1507305)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reassemble)->Arg(1507305)->Arg(23)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The receive path logs every incoming read; the terminal is not what is measured.
    qInstallMessageHandler(quiet);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
