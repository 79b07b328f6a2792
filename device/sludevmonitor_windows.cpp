#include "sludevmonitor.h"

// Windows has no udev: the caller polls the device list.
SlUdevMonitor::SlUdevMonitor(const QByteArray &subsystem, QObject *parent)
    : QObject(parent)
    , subsystem(subsystem)
{}

SlUdevMonitor::~SlUdevMonitor() = default;

bool SlUdevMonitor::isWatching() const
{
    return false;
}

void SlUdevMonitor::onActivated() {}
