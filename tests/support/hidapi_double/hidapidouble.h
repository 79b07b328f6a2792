#ifndef HIDAPIDOUBLE_H
#define HIDAPIDOUBLE_H

#include <QByteArray>
#include <QList>
#include <QString>

// Control side of the scripted hidapi. The hid_* functions of the double behave
// like the hidraw backend: every open handle of a device gets its own copy of each
// input report (at most 64 queued, further ones dropped), reads block up to their
// timeout, writes are recorded per device, and an unplugged device makes every
// read and write on its handles fail with a negative result.
//
// hidapi keeps per-handle state that every call rewrites without a lock, so two
// calls on one handle at the same time are a fault of the caller, as is a call on
// a closed handle. The double counts both and aborts on them unless told otherwise.
namespace HidApiDouble {

struct ScriptedDevice
{
    QByteArray path;
    // A device that is listed but refuses to open, as when permissions are missing.
    bool failOpen = false;
    unsigned short vendorId = 0xFFFF;
    unsigned short productId = 0x099D;
    QString serialNumber{};
    QString manufacturer{};
    QString product{};
};

struct Counts
{
    int inits = 0;
    int enumerations = 0;
    int unfreedLists = 0; // hid_enumerate results not yet freed
    int overlaps = 0;     // calls on one handle that overlapped
    int staleHandles = 0; // calls with a closed or unknown handle
};

// Forgets every device and handle and clears the counts. Handles still open are
// leaked on purpose: their owner may still call into them.
void reset();

// Lists the device from now on and announces a hidraw "add" event to every udev
// monitor. A path that is plugged already is replaced.
void plug(const ScriptedDevice &scripted);
// Removes the device from the list, makes the reads and writes of its open
// handles fail from now on (blocked reads return at once) and announces a
// hidraw "remove" event.
void unplug(const QByteArray &path);

// The double's udev (udevdouble.cpp): every monitor the program opens receives
// the events announced while it is receiving and its subsystem filter matches.
// Sends one event of any subsystem, without changing the device list.
void announce(const QByteArray &subsystem, const QByteArray &action);
// false: opening a monitor fails, as on a system without udev. reset() makes it true.
void setMonitorAvailable(bool available);

// Queues one input report for every open handle of the device.
void pushInput(const QByteArray &path, const QByteArray &report);
// Output reports written to the device since it was plugged, report-ID byte included.
QList<QByteArray> outputReports(const QByteArray &path);
// Makes every hid_write on the device take this long, like a real interrupt transfer.
void setWriteLatencyUs(const QByteArray &path, int microseconds);

int openHandleCount(const QByteArray &path);
Counts counts();

// Aborting is the default, so a fault shows up right where it happens, in every
// test that drives the program's HID code. Only the double's own test switches it
// off to see the counts rise.
void setAbortOnMisuse(bool abort);

} // namespace HidApiDouble

#endif // HIDAPIDOUBLE_H
