// The full TR-31 tree (basic block and catalogue, 51 leaves over 176 bytes): cost of one block
// update covering everything, one full refresh, and building the upload model.
#include "model/ggadget.h"
#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"
#include "model/slpropertystreams.h"
#include "model/tr31catalogue.h"

#include <QBuffer>
#include <QObject>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

constexpr int kBlockSize = 176;

// Two memory images that differ in every byte: a full refresh reports every leaf except the
// two date-times and the flag, which decode alike from both (1900-01-01 and true).
QByteArray image(char seed)
{
    QByteArray b(kBlockSize, '\0');
    for (int i = 0; i < kBlockSize; ++i)
        b[i] = char(seed + i % 7);
    return b;
}

struct Tr31Tree
{
    Tr31Tree()
        : streams(&mirror, &link)
        , root(&streams, SlPropertyDescriptor("root", PROPERTY_LIST, 0, 0, 3))
    {
        mirror.setData(image('A'));
        mirror.open(QIODevice::ReadWrite);
        link.open(QIODevice::ReadWrite);
        root.addChildren(GGadget::basicBlock());
        appendCatalogue(&root);
        // Every leaf has a listener, as it has in the running program.
        for (const QVariant &v : root.childrens()) {
            QObject::connect(v.value<SlProperty *>(), &SlProperty::valueChanged,
                             [this](const QVariant &) { ++signalled; });
        }
    }

    QBuffer mirror;
    QBuffer link;
    SlPropertyStreams streams;
    SlProperty root;
    qint64 signalled = 0;
};

void BM_RangedUpdateWholeBlock(benchmark::State &state)
{
    Tr31Tree t;
    for (auto _ : state)
        t.root.dataUpdated(0, kBlockSize);
    state.counters["leaves"] = double(t.signalled) / double(state.iterations());
}

void BM_FullRefreshAllChanged(benchmark::State &state)
{
    Tr31Tree t;
    const QByteArray images[2] = {image('a'), image('A')};
    int flip = 0;
    for (auto _ : state) {
        // Swapping 176 bytes in place is negligible next to the refresh.
        std::memcpy(t.mirror.buffer().data(), images[flip].constData(), kBlockSize);
        flip ^= 1;
        t.root.dataUpdated();
    }
    state.counters["leaves"] = double(t.signalled) / double(state.iterations());
}

void BM_FullRefreshUnchanged(benchmark::State &state)
{
    Tr31Tree t;
    t.root.dataUpdated();
    for (auto _ : state)
        t.root.dataUpdated();
}

void BM_MakeParamsModel(benchmark::State &state)
{
    Tr31Tree t;
    t.root.dataUpdated(0, kBlockSize);
    int keys = 0;
    for (auto _ : state) {
        const QVariantMap model = makeParamsModel(&t.root);
        keys = model.size();
        benchmark::DoNotOptimize(keys);
    }
    state.counters["keys"] = keys;
}

void BM_BuildTree(benchmark::State &state)
{
    for (auto _ : state) {
        auto t = std::make_unique<Tr31Tree>();
        benchmark::DoNotOptimize(t.get());
    }
}

} // namespace

BENCHMARK(BM_RangedUpdateWholeBlock)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_FullRefreshAllChanged)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_FullRefreshUnchanged)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_MakeParamsModel)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_BuildTree)->Repetitions(10)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
