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
// Like hidapi 0.13, each handle keeps an error string that every call frees and
// replaces without locking. Two calls on one handle at the same time therefore
// race (and the sanitizers see it); on top of that the double counts such overlaps
// and calls on closed handles, and aborts on them unless told otherwise.
namespace HidApiDouble {

struct ScriptedDevice
{
    QByteArray path;
    unsigned short vendorId = 0xFFFF;
    unsigned short productId = 0x099D;
    QString serialNumber;
    QString manufacturer;
    QString product;
    // A device that is listed but refuses to open, as when permissions are missing.
    bool failOpen = false;
};

// Forgets every device and handle and clears all counters. Handles still open are
// leaked on purpose: their owner may still call into them.
void reset();

// Lists the device from now on. A path that is plugged already is replaced.
void plug(const ScriptedDevice &scripted);
// Removes the device from the list and makes the reads and writes of its open
// handles fail from now on; blocked reads return at once.
void unplug(const QByteArray &path);

// Queues one input report for every open handle of the device.
void pushInput(const QByteArray &path, const QByteArray &report);
// Output reports written to the device since it was plugged, report-ID byte included.
QList<QByteArray> outputReports(const QByteArray &path);
// Waits up to timeoutMs for at least count output reports; returns whether they came.
bool waitForOutputReports(const QByteArray &path, int count, int timeoutMs);
// Makes every hid_write on the device take this long, like a real interrupt transfer.
void setWriteLatencyUs(const QByteArray &path, int microseconds);

int openHandleCount(const QByteArray &path);
int openCount();  // successful hid_open_path calls
int closeCount(); // hid_close calls
int initCount();
int enumerateCount();
int outstandingEnumerations(); // hid_enumerate results not yet freed
int overlapCount();            // calls on one handle that overlapped
int staleHandleCount();        // calls with a closed or unknown handle

// Aborting is the default, so a fault shows up right where it happens. Tests that
// want to assert on the counters switch it off.
void setAbortOnMisuse(bool abort);

} // namespace HidApiDouble

#endif // HIDAPIDOUBLE_H
