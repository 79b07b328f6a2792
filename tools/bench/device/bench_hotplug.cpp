// Hot-plug latency: from the udev event of a plugged watch to the device server's
// newDeviceConnected (the watch listed, opened and queued for the hub), over the program's
// udev monitor path with the test double's udev and hidapi standing in for the kernel. For
// comparison, the same with the monitor unavailable, where the 200 ms poll finds the watch.
//
//   bench_hotplug [plugs]        (default 200)

#include "hidapidouble.h"

#include "device/sliodeviceserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIODevice>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QByteArray kWatchPath = "/dev/hidraw-bench";

void report(const char *what, std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    const auto at = [&us](double q) {
        return us[std::min(us.size() - 1, size_t(q * us.size()))];
    };
    std::printf("%-34s %6zu plugs  median %9.1f us  p90 %9.1f us  max %9.1f us\n", what, us.size(),
                at(0.5), at(0.9), us.back());
}

std::vector<double> measure(int plugs)
{
    SlIODeviceServer server;
    std::unique_ptr<QIODevice> taken;
    QElapsedTimer sincePlug;
    std::vector<double> us;
    QObject::connect(&server, &SlIODeviceServer::newDeviceConnected, [&] {
        us.push_back(sincePlug.nsecsElapsed() / 1000.0);
        server.setEnabled(false);
        taken.reset(server.nextDevice());
        QCoreApplication::exit();
    });
    server.setEnabled(true);
    for (int i = 0; i < plugs; ++i) {
        // The hub's part after a session: the watch goes, the server is switched on again.
        QCoreApplication::processEvents();
        sincePlug.start();
        HidApiDouble::plug({kWatchPath});
        QCoreApplication::exec();
        HidApiDouble::unplug(kWatchPath);
        taken.reset();
        server.setEnabled(true);
    }
    return us;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int plugs = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    report("udev event to newDeviceConnected", measure(plugs));
    HidApiDouble::setMonitorAvailable(false);
    report("poll (no monitor) to newDeviceConnected", measure(std::min(plugs, 20)));
    return 0;
}
