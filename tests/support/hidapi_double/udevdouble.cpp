// The udev monitor of the device double: the libudev functions the program calls,
// fed by the double's plug() and unplug() as the kernel and udev feed the real
// ones. Each monitor is a socket pair: one byte per queued event makes its
// descriptor readable, so the program's socket notifier wakes as it would.
#include "hidapidouble.h"

#include <libudev.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <mutex>
#include <set>
#include <utility>

struct udev
{
    int refs = 1;
};

struct udev_monitor
{
    int refs = 1;
    int fds[2] = {-1, -1}; // [0] the program reads, [1] the double writes
    QByteArray subsystem;  // the filter; empty lets everything through
    bool receiving = false;
    std::deque<std::pair<QByteArray, QByteArray>> queue; // subsystem, action
};

struct udev_device
{
    QByteArray subsystem;
    QByteArray action;
};

namespace {
struct UdevState
{
    // Guards the monitor set and every monitor's queue: plug() may come from any thread.
    std::mutex mutex;
    std::set<udev_monitor *> monitors;
    bool available = true;
};

UdevState &udevState()
{
    static UdevState s;
    return s;
}
} // namespace

namespace HidApiDouble {

void setMonitorAvailable(bool available)
{
    std::lock_guard<std::mutex> locker(udevState().mutex);
    udevState().available = available;
}

void announce(const QByteArray &subsystem, const QByteArray &action)
{
    UdevState &s = udevState();
    std::lock_guard<std::mutex> locker(s.mutex);
    for (udev_monitor *monitor : s.monitors) {
        // Like the kernel's socket filter: what does not match never arrives.
        if (!monitor->receiving ||
            (!monitor->subsystem.isEmpty() && monitor->subsystem != subsystem))
            continue;
        monitor->queue.emplace_back(subsystem, action);
        const char byte = 1;
        if (::write(monitor->fds[1], &byte, 1) != 1)
            monitor->queue.pop_back();
    }
}

} // namespace HidApiDouble

extern "C" {

struct udev *udev_new(void)
{
    return new udev;
}

struct udev *udev_unref(struct udev *context)
{
    if (context && --context->refs == 0)
        delete context;
    return nullptr;
}

struct udev_monitor *udev_monitor_new_from_netlink(struct udev *context, const char *name)
{
    UdevState &s = udevState();
    std::lock_guard<std::mutex> locker(s.mutex);
    if (!context || !name || !s.available)
        return nullptr;
    auto *monitor = new udev_monitor;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, monitor->fds) != 0) {
        delete monitor;
        return nullptr;
    }
    s.monitors.insert(monitor);
    return monitor;
}

int udev_monitor_filter_add_match_subsystem_devtype(struct udev_monitor *monitor,
                                                    const char *subsystem, const char *)
{
    if (!monitor || !subsystem)
        return -EINVAL;
    std::lock_guard<std::mutex> locker(udevState().mutex);
    monitor->subsystem = subsystem;
    return 0;
}

int udev_monitor_enable_receiving(struct udev_monitor *monitor)
{
    if (!monitor)
        return -EINVAL;
    std::lock_guard<std::mutex> locker(udevState().mutex);
    monitor->receiving = true;
    return 0;
}

int udev_monitor_get_fd(struct udev_monitor *monitor)
{
    return monitor ? monitor->fds[0] : -EINVAL;
}

struct udev_device *udev_monitor_receive_device(struct udev_monitor *monitor)
{
    if (!monitor)
        return nullptr;
    std::lock_guard<std::mutex> locker(udevState().mutex);
    char byte;
    if (::read(monitor->fds[0], &byte, 1) != 1 || monitor->queue.empty())
        return nullptr;
    auto *device = new udev_device{monitor->queue.front().first, monitor->queue.front().second};
    monitor->queue.pop_front();
    return device;
}

struct udev_monitor *udev_monitor_unref(struct udev_monitor *monitor)
{
    if (!monitor || --monitor->refs > 0)
        return nullptr;
    std::lock_guard<std::mutex> locker(udevState().mutex);
    udevState().monitors.erase(monitor);
    ::close(monitor->fds[0]);
    ::close(monitor->fds[1]);
    delete monitor;
    return nullptr;
}

const char *udev_device_get_subsystem(struct udev_device *device)
{
    return device ? device->subsystem.constData() : nullptr;
}

const char *udev_device_get_action(struct udev_device *device)
{
    return device ? device->action.constData() : nullptr;
}

struct udev_device *udev_device_unref(struct udev_device *device)
{
    delete device;
    return nullptr;
}

} // extern "C"
