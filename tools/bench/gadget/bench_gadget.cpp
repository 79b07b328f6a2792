// Gadget start-up figures: how long from a watch's TCP connect to an authorised gadget in the
// hub, and how much memory the real program holds with and without a watch attached.
//
//   bench_gadget [runs]        (default 200 runs; the memory part needs corvane and gadget-sim
//                               next to this program)

#include "../../../tests/app/processfixture.h"
#include "../../../tests/e2e/simrunner.h"
#include "../../../tests/gadget/fragmentpeer.h"

#include "app/slapplogic.h"
#include "device/sliodeviceserver.h"
#include "model/ggadget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace {

// The last lines the program logged, shown when a run fails.
std::deque<QString> recentLog;

void keepRecent(QtMsgType, const QMessageLogContext &, const QString &text)
{
    // The uploads of every gadget fail for want of a name server; they would crowd out the
    // lines about the link.
    if (text.startsWith(QLatin1String("httpCode:")) || text.startsWith(QLatin1String("signed")) ||
        text.startsWith(QLatin1String("simpleGet")))
        return;
    recentLog.push_back(text);
    if (recentLog.size() > 60)
        recentLog.pop_front();
}

void dumpRecentLog()
{
    for (const QString &line : recentLog)
        std::fprintf(stderr, "  | %s\n", qPrintable(line.left(160)));
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.at(size_t(p * double(v.size() - 1) + 0.5));
}

// Runs the event loop until cond() holds (checked whenever check() is called from a signal,
// and every millisecond), or the time-out passes. The time-out belongs to one wait: a deadline
// left armed would end a later wait early, a few seconds on, and look like a watch that never
// answered.
class Waiter
{
public:
    bool wait(const std::function<bool()> &cond, int timeoutMs)
    {
        if (cond())
            return true;
        QEventLoop loop;
        this->cond = cond;
        current = &loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [this] { check(); });
        poll.start(1);
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(timeoutMs);
        loop.exec();
        current = nullptr;
        return cond();
    }
    void check()
    {
        if (current && cond && cond())
            current->quit();
    }

private:
    QEventLoop *current = nullptr;
    std::function<bool()> cond;
};

// Connect to authorised, in microseconds, for each run; fewer than runs when one failed.
std::vector<double> measureHandshake(int runs)
{
    SlAppLogic hub;
    // The hub cuts every link from a leaving gadget to itself; ours hang on another object.
    QObject tracker;
    int alive = 0;
    bool done = false;
    Waiter waiter;
    QObject::connect(&hub, &SlAppLogic::deviceChanged, &hub, [&](GGadget *gadget) {
        if (!gadget)
            return;
        ++alive;
        QObject::connect(gadget, &QObject::destroyed, &tracker, [&] {
            --alive;
            waiter.check();
        });
        QObject::connect(gadget, &GGadget::isAuthorizedChanged, &tracker, [&] {
            done = true;
            waiter.check();
        });
    });
    std::vector<double> times;
    const QByteArray identity =
        FragmentPeer::identity(5, 20200315, "BENCH-1", QByteArray(24, 'k'), QByteArray(24, 's'));
    for (int i = 0; i < runs; ++i) {
        FragmentPeer peer;
        peer.answerRequests(identity);
        done = false;
        QElapsedTimer timer;
        timer.start();
        peer.connectTo(SlIODeviceServer::TcpPort);
        const bool ok = waiter.wait([&] { return done; }, 5000);
        const qint64 ns = timer.nsecsElapsed();
        if (!ok) {
            GGadget *gadget = hub.device();
            dumpRecentLog();
            std::fprintf(stderr,
                         "run %d: no authorisation within 5 s (hub: gadget %s, basic %d, "
                         "server %s; peer: socket state %d, %d packets received)\n",
                         i, gadget ? "present" : "none", gadget ? int(gadget->isBasicInit()) : -1,
                         hub.deviceServer()->isEnabled() ? "enabled" : "disabled",
                         int(peer.socket->state()), int(peer.packets.size()));
            break;
        }
        times.push_back(double(ns) / 1000.0);
        peer.socket->disconnectFromHost();
        // The next run starts only once the last gadget is gone, so that its teardown is not
        // part of the figure.
        if (!waiter.wait([&] { return !hub.device() && alive == 0; }, 5000)) {
            std::fprintf(stderr,
                         "run %d: the gadget did not go within 5 s (hub: gadget %s, %d alive; "
                         "peer: socket state %d)\n",
                         i, hub.device() ? "present" : "none", alive, int(peer.socket->state()));
            dumpRecentLog();
            break;
        }
    }
    return times;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void measureMemory()
{
    ProgramSandbox box;
    std::unique_ptr<QProcess> program(box.startLogged());
    if (!program->waitForStarted()) {
        std::printf("memory: %s could not be started\n", qPrintable(ProgramSandbox::program()));
        return;
    }
    QTest::qWait(2000);
    const qint64 idle = residentKiB(program->processId());
    SimRunner sim;
    sim.start(
        {QStringLiteral("--reconnect"), QStringLiteral("--reconnect-delay"), QStringLiteral("50")});
    const bool attached = box.waitForLog("authorize: gadget authorized with 51");
    QTest::qWait(1000);
    const qint64 withGadget = residentKiB(program->processId());
    sim.stop();
    box.waitForLog("GGadget::~GGadget");
    QTest::qWait(1000);
    const qint64 after = residentKiB(program->processId());
    ProgramSandbox::stop(program.get());
    std::printf("memory (VmRSS of corvane): without gadget %lld KiB, with an authorised gadget "
                "%lld KiB (%+lld KiB), after it left %lld KiB%s\n",
                idle, withGadget, withGadget - idle, after,
                attached ? "" : "  [watch was NOT authorised]");
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    for (const char *sub : {"home", "config", "runtime", "tmp"})
        QDir(dir.path()).mkpath(QString::fromLatin1(sub));
    qputenv("HOME", dir.filePath("home").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.filePath("runtime").toLocal8Bit());
    QApplication app(argc, argv);
    QDir::setCurrent(dir.filePath("home"));
    qInstallMessageHandler(keepRecent);

    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 200;
    const std::vector<double> times = measureHandshake(runs);
    if (!times.empty()) {
        std::printf("connect -> authorised (in-process hub, loopback peer answering like the "
                    "watch), %zu runs: median %.0f us, p10 %.0f us, p90 %.0f us\n",
                    times.size(), percentile(times, 0.5), percentile(times, 0.1),
                    percentile(times, 0.9));
    }
    measureMemory();
    if (int(times.size()) != runs) {
        std::fprintf(stderr, "%zu of %d runs completed\n", times.size(), runs);
        return 1;
    }
    return 0;
}
