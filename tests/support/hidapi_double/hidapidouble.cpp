#include "hidapidouble.h"

#include <hidapi.h>

#include <QMap>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <set>

namespace {

// The kernel's hidraw keeps at most this many unread reports per open file.
constexpr int kInputQueueLimit = 64;

struct Device
{
    HidApiDouble::ScriptedDevice scripted;
    bool plugged = true;
    int writeLatencyUs = 0;
    QList<QByteArray> outputs;
};

struct State
{
    // Guards everything below and every handle's input queue. Standard types, so
    // that the thread sanitizer sees the ordering they give.
    std::mutex mutex;
    // Woken when input arrives or a device goes away.
    std::condition_variable changed;
    QMap<QByteArray, std::shared_ptr<Device>> devices;
    std::set<hid_device *> liveHandles;
    HidApiDouble::Counts counts;
    std::atomic<bool> abortOnMisuse{true};
};

State &state()
{
    static State s;
    return s;
}

wchar_t *copyWide(const QString &text)
{
    return text.isEmpty() ? nullptr : wcsdup(text.toStdWString().c_str());
}

} // namespace

struct hid_device_
{
    std::shared_ptr<Device> device;
    QList<QByteArray> input;
    std::atomic<int> callsInside{0};
};

namespace {

// Returns false for a handle that is not open; the caller must not touch it then.
// A call that returns true ends with --dev->callsInside.
bool enterCall(hid_device *dev)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    const bool live = s.liveHandles.count(dev) != 0;
    const char *fault = nullptr;
    if (!live) {
        ++s.counts.staleHandles;
        fault = "call on a closed or unknown handle";
    } else if (dev->callsInside.fetch_add(1) != 0) {
        ++s.counts.overlaps;
        fault = "overlapping calls on one handle";
    }
    locker.unlock();
    if (fault && s.abortOnMisuse.load())
        qFatal("hidapi double: %s", fault);
    return live;
}

} // namespace

namespace HidApiDouble {

void reset()
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    for (const auto &device : qAsConst(s.devices))
        device->plugged = false;
    s.devices.clear();
    s.counts = Counts();
    s.abortOnMisuse = true;
    s.changed.notify_all();
    setMonitorAvailable(true);
}

void plug(const ScriptedDevice &scripted)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    if (auto old = s.devices.value(scripted.path))
        old->plugged = false;
    auto device = std::make_shared<Device>();
    device->scripted = scripted;
    s.devices.insert(scripted.path, device);
    s.changed.notify_all();
    locker.unlock();
    announce("hidraw", "add");
}

void unplug(const QByteArray &path)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    const auto device = s.devices.take(path);
    if (device)
        device->plugged = false;
    s.changed.notify_all();
    locker.unlock();
    if (device)
        announce("hidraw", "remove");
}

void pushInput(const QByteArray &path, const QByteArray &report)
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    const auto device = s.devices.value(path);
    for (hid_device *handle : s.liveHandles) {
        if (device && handle->device == device && handle->input.size() < kInputQueueLimit)
            handle->input.append(report);
    }
    s.changed.notify_all();
}

QList<QByteArray> outputReports(const QByteArray &path)
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    const auto device = s.devices.value(path);
    return device ? device->outputs : QList<QByteArray>();
}

void setWriteLatencyUs(const QByteArray &path, int microseconds)
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    if (const auto device = s.devices.value(path))
        device->writeLatencyUs = microseconds;
}

int openHandleCount(const QByteArray &path)
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    int count = 0;
    for (hid_device *handle : s.liveHandles)
        count += handle->device->scripted.path == path;
    return count;
}

Counts counts()
{
    std::lock_guard<std::mutex> locker(state().mutex);
    return state().counts;
}

void setAbortOnMisuse(bool abort)
{
    state().abortOnMisuse = abort;
}

} // namespace HidApiDouble

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    std::lock_guard<std::mutex> locker(state().mutex);
    ++state().counts.inits;
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    ++s.counts.enumerations;
    hid_device_info *first = nullptr;
    hid_device_info **link = &first;
    for (const auto &device : qAsConst(s.devices)) {
        const HidApiDouble::ScriptedDevice &scripted = device->scripted;
        if ((vendor_id != 0 && scripted.vendorId != vendor_id) ||
            (product_id != 0 && scripted.productId != product_id))
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(scripted.path.constData());
        info->vendor_id = scripted.vendorId;
        info->product_id = scripted.productId;
        info->serial_number = copyWide(scripted.serialNumber);
        info->manufacturer_string = copyWide(scripted.manufacturer);
        info->product_string = copyWide(scripted.product);
        *link = info;
        link = &info->next;
    }
    s.counts.unfreedLists += first != nullptr;
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    if (devs) {
        std::lock_guard<std::mutex> locker(state().mutex);
        --state().counts.unfreedLists;
    }
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    State &s = state();
    std::lock_guard<std::mutex> locker(s.mutex);
    const auto device = s.devices.value(QByteArray(path));
    if (!device || device->scripted.failOpen) {
        // As the hidraw backend leaves it after open(2) failed.
        errno = device ? EACCES : ENOENT;
        return nullptr;
    }
    auto *handle = new hid_device;
    handle->device = device;
    s.liveHandles.insert(handle);
    return handle;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!enterCall(dev))
        return -1;
    std::unique_lock<std::mutex> locker(state().mutex);
    int result = -1;
    if (dev->device->plugged && data && length > 0) {
        if (const int latencyUs = dev->device->writeLatencyUs) {
            locker.unlock();
            QThread::usleep(static_cast<unsigned long>(latencyUs));
            locker.lock();
        }
        dev->device->outputs.append(
            QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(length)));
        result = static_cast<int>(length);
    }
    --dev->callsInside;
    return result;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data,
                                                 size_t length, int milliseconds)
{
    if (!enterCall(dev))
        return -1;
    std::unique_lock<std::mutex> locker(state().mutex);
    state().changed.wait_for(locker, std::chrono::milliseconds(milliseconds),
                             [dev] { return !dev->device->plugged || !dev->input.isEmpty(); });
    int result = 0;
    if (!dev->device->plugged) {
        result = -1;
    } else if (!dev->input.isEmpty()) {
        const QByteArray report = dev->input.takeFirst();
        result = static_cast<int>(qMin<size_t>(length, static_cast<size_t>(report.size())));
        std::memcpy(data, report.constData(), static_cast<size_t>(result));
    }
    --dev->callsInside;
    return result;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    if (!dev || !enterCall(dev))
        return;
    {
        std::lock_guard<std::mutex> locker(state().mutex);
        state().liveHandles.erase(dev);
    }
    delete dev;
}

} // extern "C"
