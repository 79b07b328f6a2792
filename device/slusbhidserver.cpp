#include "slusbhidserver.h"

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
{
    connect(timer, &QTimer::timeout, this, &SlUSBHIDServer::onTimerTimeout);
}

bool SlUSBHIDServer::isActive() const
{
    return timer->isActive();
}

void SlUSBHIDServer::start(int interval)
{
    timer->start(interval);
}

void SlUSBHIDServer::start()
{
    start(kDefaultPollInterval);
}

void SlUSBHIDServer::stop()
{
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
