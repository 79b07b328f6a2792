#ifndef SLUSBHIDDEVICE_H
#define SLUSBHIDDEVICE_H

#include <QBuffer>
#include <QIODevice>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

struct hid_device_;
typedef struct hid_device_ hid_device;

// A sequential byte stream over one opened HID device: each write sends one
// output report, a reader thread collects input reports.
//
// hidapi keeps per-handle state (its error string) that every call rewrites
// without a lock, so no two calls on one handle may overlap. The device therefore
// opens its path twice: the reader thread alone uses the read handle, from its
// first hid_read_timeout to its hid_close, and writers use the write handle under
// handleMutex. A write never waits for a read timeout, and the reader is never
// interrupted. Both handles are closed exactly once, the read handle only by the
// reader after its last read.
//
// readyRead and readChannelFinished are emitted on the thread the device lives in.
// The locks are standard mutexes, and the reader a standard thread joined on shut-down, so
// that the thread sanitizer, which cannot see into the distribution's Qt, sees every ordering
// between reader and writers, and the reader's last writes before the device is gone.
class SlUSBHidDevice : public QIODevice
{
    Q_OBJECT
public:
    explicit SlUSBHidDevice(int reportSize, QObject *parent = nullptr);
    ~SlUSBHidDevice() override;

    bool isSequential() const override;
    void close() override;

    virtual bool open(QString path);

    QString path() const;
    int reportSize() const;
    // Sends one output report; safe from any thread, as it touches no state of the stream.
    // Returns the bytes of data sent, or -1.
    qint64 writeReport(const char *data, qint64 len);
    // errno of the last failed open (EACCES when the node's permissions keep us out), else 0.
    int openError() const { return m_openError; }

protected:
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;

private slots:
    // Queued from the reader by name: nothing the reader allocated is read here.
    void onReaderData();
    void onReaderStopped();

private:
    // Opening without a path makes no sense for this device.
    using QIODevice::open;

    void readLoop(hid_device *readHandle);
    void shutDown();

    // The write handle; null while closed or after the reader lost the device.
    hid_device *handle = nullptr;
    const int m_reportSize;
    // Guards rxBuffer: the reader appends at its end, readData takes from its front.
    std::mutex rxMutex;
    QBuffer rxBuffer;
    QString m_path;
    int m_openError = 0;
    std::thread reader;

    // Guards handle and serialises every hidapi call on it.
    std::mutex handleMutex;
    // Cleared to make the reader leave its loop within one read timeout.
    std::atomic<bool> readerRunning{false};
    // Set by a reader that lost the device; cleared once its session is shut down,
    // so that a late notice from an earlier session is ignored.
    std::atomic<bool> readerLost{false};
};

#endif // SLUSBHIDDEVICE_H
