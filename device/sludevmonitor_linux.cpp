#include "sludevmonitor.h"

#include <libudev.h>

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>

SlUdevMonitor::SlUdevMonitor(const QByteArray &subsystem, QObject *parent)
    : QObject(parent)
    , subsystem(subsystem)
{
    context = udev_new();
    if (!context) {
        qDebug() << Q_FUNC_INFO << "udev_new failed";
        return;
    }
    // The "udev" group speaks after udev has applied its rules, so the node's
    // permissions are final. Without a running udev that group stays silent;
    // the kernel's own events are then the only ones there are.
    const char *group = QFile::exists(QStringLiteral("/run/udev/control")) ? "udev" : "kernel";
    monitor = udev_monitor_new_from_netlink(context, group);
    // The filter runs in the kernel: events of other subsystems never wake us.
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, subsystem.constData(), nullptr) <
            0 ||
        udev_monitor_enable_receiving(monitor) < 0 || udev_monitor_get_fd(monitor) < 0) {
        qDebug() << Q_FUNC_INFO << "no udev monitor for" << subsystem << "on" << group;
        if (monitor)
            udev_monitor_unref(monitor);
        monitor = nullptr;
        return;
    }
    notifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SlUdevMonitor::onActivated);
}

SlUdevMonitor::~SlUdevMonitor()
{
    // The notifier must let go of the descriptor before the monitor closes it.
    delete notifier;
    if (monitor)
        udev_monitor_unref(monitor);
    if (context)
        udev_unref(context);
}

bool SlUdevMonitor::isWatching() const
{
    return monitor != nullptr;
}

void SlUdevMonitor::onActivated()
{
    // One device per wake-up: the notifier fires again while more are waiting.
    udev_device *device = udev_monitor_receive_device(monitor);
    if (!device)
        return;
    const char *deviceSubsystem = udev_device_get_subsystem(device);
    const bool ours = deviceSubsystem && subsystem == deviceSubsystem;
    udev_device_unref(device);
    if (ours)
        emit deviceChanged();
}
