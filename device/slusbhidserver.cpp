#include "slusbhidserver.h"

#include "device/sludevmonitor.h"

#include <hidapi.h>

#include <QTimer>
#include <QVector>

namespace {
constexpr int kDefaultPollInterval = 200;

QString wideText(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}
} // namespace

SlUSBHIDServer::SlUSBHIDServer(quint16 vendorId, quint16 productId, QObject *parent)
    : QObject(parent)
    , timer(new QTimer(this))
    , vendorId(vendorId)
    , productId(productId)
    , pollInterval(kDefaultPollInterval)
{
    connect(timer, &QTimer::timeout, this, &SlUSBHIDServer::onTimerTimeout);
}

bool SlUSBHIDServer::isActive() const
{
    return running;
}

bool SlUSBHIDServer::useHotplugEvents()
{
    if (!hotplug) {
        hotplug = new SlUdevMonitor(QByteArrayLiteral("hidraw"), this);
        connect(hotplug, &SlUdevMonitor::deviceChanged, this, &SlUSBHIDServer::onHotplugEvent);
        updateTimer();
    }
    return hotplug->isWatching();
}

void SlUSBHIDServer::setFallbackPolling(bool on)
{
    if (fallbackPolling == on)
        return;
    fallbackPolling = on;
    updateTimer();
}

bool SlUSBHIDServer::isPolling() const
{
    return timer->isActive();
}

bool SlUSBHIDServer::needsPolling() const
{
    return !hotplug || !hotplug->isWatching() || fallbackPolling;
}

void SlUSBHIDServer::updateTimer()
{
    if (running && needsPolling()) {
        if (!timer->isActive() || timer->interval() != pollInterval)
            timer->start(pollInterval);
    } else {
        timer->stop();
    }
}

// Coalesces a burst of events (and a start) into one pass, run from the event
// loop so that a receiver never sees a pass inside its own call to start().
void SlUSBHIDServer::queuePass()
{
    if (passQueued)
        return;
    passQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            passQueued = false;
            if (running)
                onTimerTimeout();
        },
        Qt::QueuedConnection);
}

void SlUSBHIDServer::onHotplugEvent()
{
    if (running)
        queuePass();
}

void SlUSBHIDServer::start(int interval)
{
    running = true;
    pollInterval = interval;
    updateTimer();
    // What was plugged in before the monitor listened, or while stopped.
    if (!needsPolling())
        queuePass();
}

void SlUSBHIDServer::start()
{
    start(kDefaultPollInterval);
}

void SlUSBHIDServer::stop()
{
    running = false;
    timer->stop();
}

void SlUSBHIDServer::onTimerTimeout()
{
    hid_init();
    hid_device_info *list = hid_enumerate(vendorId, productId);

    // The list is released before anyone hears of it, so a receiver that opens
    // the device (or stops polling) never works on borrowed memory.
    QVector<SlUSBHIDInfo> found;
    for (const hid_device_info *record = list; record; record = record->next) {
        SlUSBHIDInfo info;
        info.vendorId = record->vendor_id;
        info.productId = record->product_id;
        info.path = record->path ? QString::fromLatin1(record->path) : QString();
        info.serialNumber = wideText(record->serial_number);
        info.manufacturer = wideText(record->manufacturer_string);
        info.product = wideText(record->product_string);
        found.append(info);
    }
    hid_free_enumeration(list);

    for (const SlUSBHIDInfo &info : qAsConst(found))
        emit deviceAvailable(info);
}
