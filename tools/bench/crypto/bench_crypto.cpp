// Throughput of SlAes in CBC mode next to OpenSSL's EVP AES-CBC on the same
// data, and the cost of one stored setting written and read back.
//
//   build/bin/bench_crypto
//
// After the runs it prints, per key size and direction, how many times faster
// OpenSSL is than our table-driven cipher.

#include "crypto/slaes.h"
#include "storage/slwatchsettings.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr int BUFFER_SIZE = 64 * 1024;

QByteArray randomBytes(int n)
{
    QByteArray bytes(n, '\0');
    QRandomGenerator rng(12345);
    for (int i = 0; i < n; ++i)
        bytes[i] = char(rng.bounded(256));
    return bytes;
}

const EVP_CIPHER *cipherFor(int keySize)
{
    return keySize == 16   ? EVP_aes_128_cbc()
           : keySize == 24 ? EVP_aes_192_cbc()
                           : EVP_aes_256_cbc();
}

void slAes(benchmark::State &state, bool encrypt)
{
    const QByteArray key = randomBytes(int(state.range(0)));
    const QByteArray iv = randomBytes(16);
    const QByteArray data = randomBytes(BUFFER_SIZE);
    for (auto _ : state) {
        QByteArray out = encrypt ? SlAes::encrypt(data, key, iv) : SlAes::decrypt(data, key, iv);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BUFFER_SIZE);
}

void openSsl(benchmark::State &state, bool encrypt)
{
    const int keySize = int(state.range(0));
    const QByteArray key = randomBytes(keySize);
    const QByteArray iv = randomBytes(16);
    const QByteArray data = randomBytes(BUFFER_SIZE);
    QByteArray out(BUFFER_SIZE + 16, '\0');
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        // A fresh key setup per call, as SlAes does, keeps the comparison fair.
        int written = 0;
        int final = 0;
        EVP_CipherInit_ex(ctx, cipherFor(keySize), nullptr,
                          reinterpret_cast<const unsigned char *>(key.constData()),
                          reinterpret_cast<const unsigned char *>(iv.constData()), encrypt);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &written,
                         reinterpret_cast<const unsigned char *>(data.constData()), BUFFER_SIZE);
        EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char *>(out.data()) + written, &final);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * BUFFER_SIZE);
}

void BM_SlAesEncrypt(benchmark::State &state)
{
    slAes(state, true);
}
void BM_OpenSslEncrypt(benchmark::State &state)
{
    openSsl(state, true);
}
void BM_SlAesDecrypt(benchmark::State &state)
{
    slAes(state, false);
}
void BM_OpenSslDecrypt(benchmark::State &state)
{
    openSsl(state, false);
}

BENCHMARK(BM_SlAesEncrypt)->Arg(16)->Arg(24)->Arg(32);
BENCHMARK(BM_OpenSslEncrypt)->Arg(16)->Arg(24)->Arg(32);
BENCHMARK(BM_SlAesDecrypt)->Arg(16)->Arg(24)->Arg(32);
BENCHMARK(BM_OpenSslDecrypt)->Arg(16)->Arg(24)->Arg(32);

// One writeSetting followed by one readSetting of a 64-byte value on a real
// database file: an UPDATE after the first round, as in normal use.
void BM_SettingWriteRead(benchmark::State &state)
{
    QTemporaryDir dir;
    SlWatchSettings settings(dir.path(), QString(), randomBytes(24));
    const QByteArray value = randomBytes(int(state.range(0)));
    bool found = false;
    for (auto _ : state) {
        settings.writeSetting(QStringLiteral("bench"), value);
        benchmark::DoNotOptimize(settings.readSetting(QStringLiteral("bench"), &found));
    }
    if (!found)
        state.SkipWithError("the value did not read back");
}
BENCHMARK(BM_SettingWriteRead)->Arg(64)->Arg(64 * 1024)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then OpenSSL's speed over ours for each pairing.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end())
                m_speed[run.benchmark_name()] = it->second.value;
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nOpenSSL EVP speed / SlAes speed (same data, same run):\n");
        for (const char *dir : {"Encrypt", "Decrypt"}) {
            for (int key : {16, 24, 32}) {
                const std::string suffix = std::string(dir) + "/" + std::to_string(key);
                const double ours = m_speed["BM_SlAes" + suffix];
                const double theirs = m_speed["BM_OpenSsl" + suffix];
                if (ours > 0 && theirs > 0) {
                    std::printf(
                        "  AES-%d CBC %s: SlAes %.1f MiB/s, OpenSSL %.1f MiB/s, ratio %.2f\n",
                        key * 8, dir, ours / 1048576.0, theirs / 1048576.0, theirs / ours);
                }
            }
        }
    }

private:
    std::map<std::string, double> m_speed;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
