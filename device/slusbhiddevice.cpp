#include "slusbhiddevice.h"

#include <hidapi.h>

#include <QDebug>

#include <cerrno>
#include <cstring>

namespace {
constexpr int kReadTimeoutMs = 200;
// One output report: the report-ID byte and at most 64 payload bytes.
constexpr int kReportBufferSize = 65;
} // namespace

SlUSBHidDevice::SlUSBHidDevice(int reportSize, QObject *parent)
    : QIODevice(parent)
    , m_reportSize(qBound(1, reportSize, kReportBufferSize - 1))
{
    rxBuffer.open(QIODevice::ReadWrite);
    hid_init();
}

SlUSBHidDevice::~SlUSBHidDevice()
{
    qDebug() << Q_FUNC_INFO << this;
    if (isOpen())
        shutDown();
}

bool SlUSBHidDevice::isSequential() const
{
    return true;
}

void SlUSBHidDevice::close()
{
    if (!isOpen())
        return;
    shutDown();
}

bool SlUSBHidDevice::open(QString path)
{
    if (path.isEmpty() && m_path.isEmpty()) {
        qDebug() << Q_FUNC_INFO << "device path empty";
        return false;
    }
    if (isOpen()) {
        qDebug() << Q_FUNC_INFO << "device already opened";
        return false;
    }
    if (!path.isEmpty())
        m_path = path;

    const QByteArray nativePath = m_path.toLatin1();
    errno = 0;
    hid_device *readHandle = hid_open_path(nativePath.constData());
    hid_device *writeHandle = readHandle ? hid_open_path(nativePath.constData()) : nullptr;
    m_openError = writeHandle ? 0 : errno;
    if (!writeHandle) {
        if (readHandle)
            hid_close(readHandle);
        qDebug() << Q_FUNC_INFO << "device with path" << m_path << "could not be open";
        return false;
    }

    {
        std::lock_guard<std::mutex> locker(rxMutex);
        rxBuffer.buffer().clear();
        rxBuffer.seek(0);
    }
    {
        std::lock_guard<std::mutex> locker(handleMutex);
        handle = writeHandle;
    }
    QIODevice::open(QIODevice::ReadWrite);

    readerLost = false;
    readerRunning = true;
    reader = std::thread([this, readHandle] { readLoop(readHandle); });
    return true;
}

QString SlUSBHidDevice::path() const
{
    return m_path;
}

int SlUSBHidDevice::reportSize() const
{
    return m_reportSize;
}

qint64 SlUSBHidDevice::readData(char *data, qint64 maxlen)
{
    if (!isOpen()) {
        qDebug() << Q_FUNC_INFO << "device do not opened";
        return -1;
    }
    std::lock_guard<std::mutex> locker(rxMutex);
    const qint64 taken = rxBuffer.read(data, qMin<qint64>(maxlen, m_reportSize));
    if (rxBuffer.atEnd()) {
        rxBuffer.buffer().clear();
        rxBuffer.seek(0);
    }
    return qMax<qint64>(taken, 0);
}

qint64 SlUSBHidDevice::writeData(const char *data, qint64 len)
{
    return writeReport(data, len);
}

qint64 SlUSBHidDevice::writeReport(const char *data, qint64 len)
{
    std::lock_guard<std::mutex> locker(handleMutex);
    if (!handle) {
        qDebug() << Q_FUNC_INFO << "write data fail. Device not open";
        return -1;
    }
    qint64 payload = len;
    if (len > m_reportSize) {
        qDebug() << Q_FUNC_INFO << "lenght must be <=" << m_reportSize;
        payload = m_reportSize;
    }
    unsigned char report[kReportBufferSize] = {};
    std::memcpy(report + 1, data, static_cast<size_t>(payload));
    const int result = hid_write(handle, report, static_cast<size_t>(m_reportSize) + 1);
    qDebug() << Q_FUNC_INFO << "hid write return" << result;
    // The caller learns how many of its bytes went out; the padding and the
    // report-ID byte are ours.
    return result < 0 ? -1 : payload;
}

void SlUSBHidDevice::readLoop(hid_device *readHandle)
{
    QByteArray report(m_reportSize, Qt::Uninitialized);
    int result = 0;
    while (readerRunning.load()) {
        result = hid_read_timeout(readHandle, reinterpret_cast<unsigned char *>(report.data()),
                                  static_cast<size_t>(m_reportSize), kReadTimeoutMs);
        if (result < 0) {
            qDebug() << Q_FUNC_INFO << "hid_read_timeout return" << result;
            break;
        }
        if (result > 0) {
            {
                std::lock_guard<std::mutex> locker(rxMutex);
                rxBuffer.buffer().append(report.constData(), result);
            }
            QMetaObject::invokeMethod(this, "onReaderData", Qt::QueuedConnection);
        }
    }
    hid_close(readHandle);
    if (result < 0) {
        // The device is gone: later writes fail at once instead of reaching hidapi.
        {
            std::lock_guard<std::mutex> locker(handleMutex);
            if (handle)
                hid_close(handle);
            handle = nullptr;
        }
        readerLost = true;
        QMetaObject::invokeMethod(this, "onReaderStopped", Qt::QueuedConnection);
    }
}

void SlUSBHidDevice::onReaderData()
{
    if (isOpen())
        emit readyRead();
}

void SlUSBHidDevice::onReaderStopped()
{
    if (!readerLost || !isOpen())
        return;
    shutDown();
}

void SlUSBHidDevice::shutDown()
{
    readerRunning = false;
    if (reader.joinable())
        reader.join();
    {
        std::lock_guard<std::mutex> locker(handleMutex);
        if (handle)
            hid_close(handle);
        handle = nullptr;
    }
    readerLost = false;
    QIODevice::close();
    emit readChannelFinished();
}
