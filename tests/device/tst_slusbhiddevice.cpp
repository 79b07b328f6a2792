#include "hidapidouble.h"

#include "device/slusbhiddevice.h"
#include "device/slwfragmentator.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

namespace {
const QByteArray kPath = "/dev/hidraw-watch";

HidApiDouble::ScriptedDevice scripted(const QByteArray &path, bool failOpen = false)
{
    HidApiDouble::ScriptedDevice s;
    s.path = path;
    s.failOpen = failOpen;
    return s;
}

QByteArray numbered(int n, int size = 32)
{
    QByteArray report(size, char(n & 0xFF));
    report[0] = char(n >> 8);
    report[1] = char(n & 0xFF);
    return report;
}

// Waits without running the event loop, so that queued notices stay queued.
bool waitWithoutEvents(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}
} // namespace

class tst_SlUSBHidDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openFailures_data();
    void openFailures();
    void openWhileOpen();
    void writeSendsOneReport_data();
    void writeSendsOneReport();
    void reportSizeCappedAt64();
    void readsReportsInOrder();
    void readingEmptyBufferReturnsAtOnce();
    void closeReleasesHandlesOnce();
    void unplugClosesOnce();
    void writeAfterUnplugBeforeNotice();
    void reopenUsesStoredPath();
    void destructorReleasesHandles();
    void readsAndWritesNeverShareAHandle();
    void unplugDuringReads();
    void unplugDuringFramedWorkerWrite();
};

void tst_SlUSBHidDevice::init()
{
    HidApiDouble::reset();
    HidApiDouble::plug(scripted(kPath));
}

void tst_SlUSBHidDevice::cleanup()
{
    QCOMPARE(HidApiDouble::overlapCount(), 0);
    QCOMPARE(HidApiDouble::staleHandleCount(), 0);
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
}

void tst_SlUSBHidDevice::openFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");

    QTest::newRow("no path at all") << QString() << QStringLiteral("device path empty$");
    QTest::newRow("device refuses to open")
        << QStringLiteral("/dev/hidraw-locked")
        << QStringLiteral("device with path \"/dev/hidraw-locked\" could not be open$");
    QTest::newRow("device not there") << QStringLiteral("/dev/hidraw-gone")
                                      << QStringLiteral("device with path .* could not be open$");
}

void tst_SlUSBHidDevice::openFailures()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    HidApiDouble::plug(scripted("/dev/hidraw-locked", true));

    SlUSBHidDevice device(32);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
    QVERIFY(!device.open(path));
    QVERIFY(!device.isOpen());
    QCOMPARE(HidApiDouble::openHandleCount(path.toLatin1()), 0);
    QCOMPARE(HidApiDouble::openCount(), HidApiDouble::closeCount());
}

void tst_SlUSBHidDevice::openWhileOpen()
{
    SlUSBHidDevice device(32);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    const int opens = HidApiDouble::openCount();
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("device already opened$"));
    QVERIFY(!device.open(QString::fromLatin1(kPath)));
    QVERIFY(device.isOpen());
    QCOMPARE(HidApiDouble::openCount(), opens);
    QVERIFY(device.isSequential());
}

void tst_SlUSBHidDevice::writeSendsOneReport_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("accepted");
    QTest::addColumn<QByteArray>("report");

    const QByteArray forty = QByteArray("0123456789abcdefghijklmnopqrstuvwxyzABCD");
    QTest::newRow("5 bytes padded")
        << QByteArray("\x01\x02\x03\x04\x05") << qint64(5)
        << QByteArray(1, '\0') + QByteArray("\x01\x02\x03\x04\x05") + QByteArray(27, '\0');
    QTest::newRow("one full fragment")
        << forty.left(32) << qint64(32) << QByteArray(1, '\0') + forty.left(32);
    QTest::newRow("40 bytes cut to 32")
        << forty << qint64(32) << QByteArray(1, '\0') + forty.left(32);
}

void tst_SlUSBHidDevice::writeSendsOneReport()
{
    QFETCH(QByteArray, data);
    QFETCH(qint64, accepted);
    QFETCH(QByteArray, report);

    SlUSBHidDevice device(32);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    if (data.size() > 32)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("lenght must be <= 32$"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("hid write return 33$"));
    QCOMPARE(device.write(data), accepted);
    QCOMPARE(HidApiDouble::outputReports(kPath), QList<QByteArray>{report});
}

void tst_SlUSBHidDevice::reportSizeCappedAt64()
{
    SlUSBHidDevice device(100);
    QCOMPARE(device.reportSize(), 64);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    QCOMPARE(device.write(QByteArray(100, 'r')), qint64(64));
    QCOMPARE(HidApiDouble::outputReports(kPath).value(0).size(), 65);
}

void tst_SlUSBHidDevice::readsReportsInOrder()
{
    SlUSBHidDevice device(32);
    QSignalSpy ready(&device, &QIODevice::readyRead);
    bool onOwnThread = true;
    connect(
        &device, &QIODevice::readyRead, this,
        [&] { onOwnThread = onOwnThread && QThread::currentThread() == device.thread(); },
        Qt::DirectConnection);
    QVERIFY(device.open(QString::fromLatin1(kPath)));

    HidApiDouble::pushInput(kPath, numbered(1));
    HidApiDouble::pushInput(kPath, numbered(2));
    QTRY_COMPARE(ready.count(), 2);
    QVERIFY(onOwnThread);

    char buffer[100];
    QCOMPARE(device.read(buffer, sizeof buffer), qint64(32));
    QCOMPARE(QByteArray(buffer, 32), numbered(1));
    QCOMPARE(device.read(buffer, 10), qint64(10));
    QCOMPARE(QByteArray(buffer, 10), numbered(2).left(10));
    QCOMPARE(device.readAll(), numbered(2).mid(10));
    QCOMPARE(device.read(buffer, sizeof buffer), qint64(0));
}

void tst_SlUSBHidDevice::readingEmptyBufferReturnsAtOnce()
{
    SlUSBHidDevice device(32);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    char buffer[32];
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(device.read(buffer, sizeof buffer), qint64(0));
    QVERIFY(clock.elapsed() < 100);
}

void tst_SlUSBHidDevice::closeReleasesHandlesOnce()
{
    SlUSBHidDevice device(32);
    QSignalSpy finished(&device, &QIODevice::readChannelFinished);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 2);

    device.close();
    QVERIFY(!device.isOpen());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
    QCOMPARE(HidApiDouble::closeCount(), 2);

    device.close();
    QTest::qWait(20);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(HidApiDouble::closeCount(), 2);
}

void tst_SlUSBHidDevice::unplugClosesOnce()
{
    auto device = std::make_unique<SlUSBHidDevice>(32);
    QSignalSpy finished(device.get(), &QIODevice::readChannelFinished);
    QVERIFY(device->open(QString::fromLatin1(kPath)));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("hid_read_timeout return -1$"));
    HidApiDouble::unplug(kPath);
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!device->isOpen());
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
    QCOMPARE(HidApiDouble::closeCount(), 2);

    device->close();
    device.reset();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(HidApiDouble::closeCount(), 2);
}

void tst_SlUSBHidDevice::writeAfterUnplugBeforeNotice()
{
    SlUSBHidDevice device(32);
    QSignalSpy finished(&device, &QIODevice::readChannelFinished);
    QVERIFY(device.open(QString::fromLatin1(kPath)));

    HidApiDouble::unplug(kPath);
    QVERIFY(waitWithoutEvents([] { return HidApiDouble::openHandleCount(kPath) == 0; }, 2000));
    // The reader has let go, but its notice has not reached this thread yet.
    QVERIFY(device.isOpen());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("write data fail. Device not open$"));
    QCOMPARE(device.write("hello"), qint64(-1));

    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!device.isOpen());
}

void tst_SlUSBHidDevice::reopenUsesStoredPath()
{
    SlUSBHidDevice device(32);
    QSignalSpy finished(&device, &QIODevice::readChannelFinished);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    device.close();

    QVERIFY(device.open(QString()));
    QCOMPARE(device.path(), QString::fromLatin1(kPath));
    QCOMPARE(device.write("a"), qint64(1));

    HidApiDouble::unplug(kPath);
    QTRY_COMPARE(finished.count(), 2);
    HidApiDouble::plug(scripted(kPath));
    QVERIFY(device.open(QString()));
    QSignalSpy ready(&device, &QIODevice::readyRead);
    HidApiDouble::pushInput(kPath, numbered(7));
    QTRY_COMPARE(ready.count(), 1);
    QCOMPARE(device.readAll(), numbered(7));
    // A notice from the reader of the unplugged session must not close this one.
    QTest::qWait(20);
    QVERIFY(device.isOpen());
    device.close();
    QCOMPARE(finished.count(), 3);
}

void tst_SlUSBHidDevice::destructorReleasesHandles()
{
    auto *device = new SlUSBHidDevice(32);
    QVERIFY(device->open(QString::fromLatin1(kPath)));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("~SlUSBHidDevice"));
    delete device;
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
    QCOMPARE(HidApiDouble::closeCount(), 2);
}

void tst_SlUSBHidDevice::readsAndWritesNeverShareAHandle()
{
    constexpr int kReports = 300;
    SlUSBHidDevice device(32);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    HidApiDouble::setWriteLatencyUs(kPath, 50);
    QByteArray received;
    connect(&device, &QIODevice::readyRead, this, [&] { received += device.readAll(); });

    std::atomic<bool> fed{false};
    std::thread feeder([&fed] {
        for (int i = 0; i < kReports; ++i) {
            HidApiDouble::pushInput(kPath, numbered(i));
            QThread::usleep(100);
        }
        fed = true;
    });
    for (int i = 0; i < kReports; ++i) {
        QCOMPARE(device.write(numbered(i)), qint64(32));
        if (i % 16 == 0)
            QCoreApplication::processEvents();
    }
    QTRY_VERIFY(fed.load());
    feeder.join();
    QTRY_COMPARE(received.size(), kReports * 32);

    const QList<QByteArray> outputs = HidApiDouble::outputReports(kPath);
    QCOMPARE(outputs.size(), kReports);
    for (int i = 0; i < kReports; ++i) {
        QCOMPARE(received.mid(i * 32, 32), numbered(i));
        QCOMPARE(outputs.at(i).mid(1), numbered(i));
    }
}

void tst_SlUSBHidDevice::unplugDuringReads()
{
    SlUSBHidDevice device(32);
    QSignalSpy finished(&device, &QIODevice::readChannelFinished);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    int bytes = 0;
    connect(&device, &QIODevice::readyRead, this, [&] { bytes += int(device.readAll().size()); });

    std::atomic<bool> feeding{true};
    std::thread feeder([&feeding] {
        for (int i = 0; feeding; ++i) {
            HidApiDouble::pushInput(kPath, numbered(i));
            QThread::usleep(50);
        }
    });
    QTRY_VERIFY(bytes >= 32 * 20);
    HidApiDouble::unplug(kPath);
    QTRY_COMPARE(finished.count(), 1);
    feeding = false;
    feeder.join();
    QCOMPARE(bytes % 32, 0);
    QTest::qWait(20);
    QCOMPARE(finished.count(), 1);
}

void tst_SlUSBHidDevice::unplugDuringFramedWorkerWrite()
{
    auto *device = new SlUSBHidDevice(32);
    QSignalSpy finished(device, &QIODevice::readChannelFinished);
    QVERIFY(device->open(QString::fromLatin1(kPath)));
    auto framing = std::make_unique<SlWFragmentator>(device);
    framing->setWriteDelay(1);

    std::atomic<qint64> result{99};
    std::thread writer(
        [&framing, &result] { result = framing->write(QByteArray(23 * 2000, 'Z')); });
    QTRY_VERIFY(HidApiDouble::outputReports(kPath).size() >= 20);
    HidApiDouble::unplug(kPath);
    QTRY_VERIFY(result.load() != 99);
    writer.join();
    QCOMPARE(result.load(), qint64(0));
    QTRY_COMPARE(finished.count(), 1);
    framing.reset();
}

QTEST_GUILESS_MAIN(tst_SlUSBHidDevice)
#include "tst_slusbhiddevice.moc"
