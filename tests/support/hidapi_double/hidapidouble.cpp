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
    std::set<hid_device *> handles;
};

struct State
{
    // Guards everything below and every handle's input queue. Standard types, so
    // that the thread sanitizer sees the ordering they give.
    std::mutex mutex;
    // Woken when input arrives, output is recorded or a device goes away.
    std::condition_variable changed;
    QMap<QByteArray, std::shared_ptr<Device>> devices;
    std::set<hid_device *> liveHandles;
    int opens = 0;
    int closes = 0;
    int inits = 0;
    int enumerates = 0;
    int outstandingEnumerations = 0;
    std::atomic<int> overlaps{0};
    std::atomic<int> staleHandles{0};
    std::atomic<bool> abortOnMisuse{true};
};

State &state()
{
    static State s;
    return s;
}

wchar_t *copyWide(const QString &text)
{
    if (text.isEmpty())
        return nullptr;
    const std::wstring wide = text.toStdWString();
    auto *copy = static_cast<wchar_t *>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(copy, wide.c_str(), wide.size() + 1);
    return copy;
}

void misuse(const char *what)
{
    if (state().abortOnMisuse.load())
        qFatal("hidapi double: %s", what);
}

} // namespace

struct hid_device_
{
    std::shared_ptr<Device> device;
    QList<QByteArray> input;
    // Freed and replaced by every call without a lock, exactly as hidapi 0.13 does
    // with its per-handle error string.
    wchar_t *lastError = nullptr;
    std::atomic<int> callsInside{0};
};

namespace {

void registerError(hid_device *dev, const wchar_t *message)
{
    std::free(dev->lastError);
    dev->lastError = nullptr;
    if (message) {
        const size_t length = std::wcslen(message);
        dev->lastError = static_cast<wchar_t *>(std::malloc((length + 1) * sizeof(wchar_t)));
        std::wmemcpy(dev->lastError, message, length + 1);
    }
}

// Returns false for a handle that is not open; the caller must not touch it then.
bool enterCall(hid_device *dev)
{
    State &s = state();
    {
        std::unique_lock<std::mutex> locker(s.mutex);
        if (s.liveHandles.count(dev) == 0) {
            ++s.staleHandles;
            locker.unlock();
            misuse("call on a closed or unknown handle");
            return false;
        }
    }
    if (dev->callsInside.fetch_add(1) != 0) {
        ++s.overlaps;
        misuse("overlapping calls on one handle");
    }
    return true;
}

void leaveCall(hid_device *dev)
{
    dev->callsInside.fetch_sub(1);
}

} // namespace

namespace HidApiDouble {

void reset()
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    for (const auto &device : qAsConst(s.devices))
        device->plugged = false;
    s.devices.clear();
    s.opens = s.closes = s.inits = s.enumerates = s.outstandingEnumerations = 0;
    s.overlaps = 0;
    s.staleHandles = 0;
    s.abortOnMisuse = true;
    s.changed.notify_all();
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
}

void unplug(const QByteArray &path)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    if (auto device = s.devices.take(path))
        device->plugged = false;
    s.changed.notify_all();
}

void pushInput(const QByteArray &path, const QByteArray &report)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    const auto device = s.devices.value(path);
    if (!device)
        return;
    for (hid_device *handle : device->handles) {
        if (handle->input.size() < kInputQueueLimit)
            handle->input.append(report);
    }
    s.changed.notify_all();
}

QList<QByteArray> outputReports(const QByteArray &path)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    const auto device = s.devices.value(path);
    return device ? device->outputs : QList<QByteArray>();
}

bool waitForOutputReports(const QByteArray &path, int count, int timeoutMs)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    return s.changed.wait_for(locker, std::chrono::milliseconds(timeoutMs), [&] {
        const auto device = s.devices.value(path);
        return device && device->outputs.size() >= count;
    });
}

void setWriteLatencyUs(const QByteArray &path, int microseconds)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    if (const auto device = s.devices.value(path))
        device->writeLatencyUs = microseconds;
}

int openHandleCount(const QByteArray &path)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    int count = 0;
    for (hid_device *handle : s.liveHandles) {
        if (handle->device->scripted.path == path)
            ++count;
    }
    return count;
}

int openCount()
{
    std::lock_guard<std::mutex> locker(state().mutex);
    return state().opens;
}

int closeCount()
{
    std::lock_guard<std::mutex> locker(state().mutex);
    return state().closes;
}

int initCount()
{
    std::lock_guard<std::mutex> locker(state().mutex);
    return state().inits;
}

int enumerateCount()
{
    std::lock_guard<std::mutex> locker(state().mutex);
    return state().enumerates;
}

int outstandingEnumerations()
{
    std::lock_guard<std::mutex> locker(state().mutex);
    return state().outstandingEnumerations;
}

int overlapCount()
{
    return state().overlaps.load();
}

int staleHandleCount()
{
    return state().staleHandles.load();
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
    ++state().inits;
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    State &s = state();
    std::unique_lock<std::mutex> locker(s.mutex);
    ++s.enumerates;
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
        info->interface_number = -1;
        info->bus_type = HID_API_BUS_USB;
        *link = info;
        link = &info->next;
    }
    if (first)
        ++s.outstandingEnumerations;
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    if (!devs)
        return;
    {
        std::lock_guard<std::mutex> locker(state().mutex);
        --state().outstandingEnumerations;
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
    std::unique_lock<std::mutex> locker(s.mutex);
    const auto device = s.devices.value(QByteArray(path));
    if (!device || device->scripted.failOpen) {
        // As the hidraw backend leaves it after open(2) failed.
        errno = device ? EACCES : ENOENT;
        return nullptr;
    }
    auto *handle = new hid_device;
    handle->device = device;
    device->handles.insert(handle);
    s.liveHandles.insert(handle);
    ++s.opens;
    return handle;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!enterCall(dev))
        return -1;
    State &s = state();
    int latencyUs = 0;
    bool plugged = false;
    {
        std::unique_lock<std::mutex> locker(s.mutex);
        plugged = dev->device->plugged;
        latencyUs = dev->device->writeLatencyUs;
    }
    int result = -1;
    if (plugged && data && length > 0) {
        if (latencyUs > 0)
            QThread::usleep(static_cast<unsigned long>(latencyUs));
        std::unique_lock<std::mutex> locker(s.mutex);
        dev->device->outputs.append(
            QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(length)));
        s.changed.notify_all();
        result = static_cast<int>(length);
    }
    registerError(dev, result < 0 ? L"No such device" : nullptr);
    leaveCall(dev);
    return result;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data,
                                                 size_t length, int milliseconds)
{
    if (!enterCall(dev))
        return -1;
    registerError(dev, nullptr);
    State &s = state();
    int result = 0;
    {
        std::unique_lock<std::mutex> locker(s.mutex);
        const auto wakeUp = [dev] {
            return !dev->device->plugged || !dev->input.isEmpty();
        };
        if (milliseconds < 0)
            s.changed.wait(locker, wakeUp);
        else
            s.changed.wait_for(locker, std::chrono::milliseconds(milliseconds), wakeUp);
        if (!dev->device->plugged) {
            result = -1;
        } else if (!dev->input.isEmpty()) {
            const QByteArray report = dev->input.takeFirst();
            result = static_cast<int>(qMin<size_t>(length, static_cast<size_t>(report.size())));
            std::memcpy(data, report.constData(), static_cast<size_t>(result));
        }
    }
    if (result < 0)
        registerError(dev, L"No such device");
    leaveCall(dev);
    return result;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    if (!dev)
        return;
    if (!enterCall(dev))
        return;
    State &s = state();
    {
        std::unique_lock<std::mutex> locker(s.mutex);
        s.liveHandles.erase(dev);
        dev->device->handles.erase(dev);
        ++s.closes;
    }
    leaveCall(dev);
    std::free(dev->lastError);
    delete dev;
}

} // extern "C"
