#include "hidapidouble.h"

#include "device/slusbhiddevice.h"

#include <QtTest>

#include <thread>

namespace {
const QByteArray kPath = "/dev/hidraw-watch";

QByteArray numbered(int n)
{
    return QByteArray(1, char(n >> 8)) + QByteArray(31, char(n));
}

} // namespace

class tst_SlUSBHidDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { QCOMPARE(HidApiDouble::openHandleCount(kPath), 0); }
    void openFailsWithoutLeaks();
    void writeSendsOneReport_data();
    void writeSendsOneReport();
    void readsReportsInOrder();
    void unplugAndReopen();
    void readsAndWritesNeverShareAHandle();
};

void tst_SlUSBHidDevice::init()
{
    HidApiDouble::reset();
    HidApiDouble::plug({kPath});
}

void tst_SlUSBHidDevice::openFailsWithoutLeaks()
{
    HidApiDouble::plug({"/dev/hidraw-locked", true});
    SlUSBHidDevice device(32);
    // The empty path comes first: once a path was tried, an empty one means that path again.
    for (const char *path : {"", "/dev/hidraw-locked", "/dev/hidraw-gone"}) {
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression(*path ? "could not be open$" : "device path empty$"));
        QVERIFY2(!device.open(QString(path)), path);
        QVERIFY(!device.isOpen());
    }
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    QVERIFY(device.isSequential());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("device already opened$"));
    QVERIFY(!device.open(QString::fromLatin1(kPath)));
    QVERIFY(device.isOpen());
}

void tst_SlUSBHidDevice::writeSendsOneReport_data()
{
    QTest::addColumn<int>("reportSize");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("accepted");
    QTest::addColumn<QByteArray>("report"); // report-ID byte included

    const QByteArray id(1, '\0'), forty("0123456789abcdefghijklmnopqrstuvwxyzABCD");
    QTest::newRow("5 bytes padded")
        << 32 << QByteArray("hello") << qint64(5) << id + "hello" + QByteArray(27, '\0');
    QTest::newRow("40 bytes cut to 32") << 32 << forty << qint64(32) << id + forty.left(32);
    QTest::newRow("report size capped at 64")
        << 100 << QByteArray(100, 'r') << qint64(64) << id + QByteArray(64, 'r');
}

void tst_SlUSBHidDevice::writeSendsOneReport()
{
    QFETCH(int, reportSize);
    QFETCH(QByteArray, data);
    QFETCH(qint64, accepted);
    QFETCH(QByteArray, report);

    SlUSBHidDevice device(reportSize);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    QCOMPARE(device.write(data), accepted);
    QCOMPARE(HidApiDouble::outputReports(kPath), QList<QByteArray>{report});
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

    // One report at most per read, whatever the room.
    char buffer[100];
    QCOMPARE(device.read(buffer, sizeof buffer), qint64(32));
    QCOMPARE(QByteArray(buffer, 32), numbered(1));
    QCOMPARE(device.read(buffer, 10), qint64(10));
    QCOMPARE(QByteArray(buffer, 10), numbered(2).left(10));
    QCOMPARE(device.readAll(), numbered(2).mid(10));
    QCOMPARE(device.read(buffer, sizeof buffer), qint64(0));

    // Closing releases both handles; a device destroyed open does too (see cleanup). A second
    // close of a handle would abort in the double.
    QSignalSpy finished(&device, &QIODevice::readChannelFinished);
    device.close();
    device.close();
    QVERIFY(!device.isOpen());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
}

void tst_SlUSBHidDevice::unplugAndReopen()
{
    SlUSBHidDevice device(32);
    QSignalSpy finished(&device, &QIODevice::readChannelFinished);
    QVERIFY(device.open(QString::fromLatin1(kPath)));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("hid_read_timeout return -1$"));
    HidApiDouble::unplug(kPath);
    // Waits without running the event loop: the reader lets go, its notice stays queued.
    for (int ms = 0; HidApiDouble::openHandleCount(kPath) > 0 && ms < 2000; ++ms)
        QThread::msleep(1);
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
    QVERIFY(device.isOpen());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("write data fail. Device not open$"));
    QCOMPARE(device.write("hello"), qint64(-1));
    device.close();
    QCOMPARE(finished.count(), 1);

    // An empty path reopens the last one. The late notice of the lost session must not close
    // this one.
    HidApiDouble::plug({kPath});
    QVERIFY(device.open(QString()));
    QSignalSpy ready(&device, &QIODevice::readyRead);
    HidApiDouble::pushInput(kPath, numbered(7));
    QTRY_COMPARE(ready.count(), 1);
    QCOMPARE(device.readAll(), numbered(7));
    QVERIFY(device.isOpen());

    // Left to the notice, an unplug closes the device once.
    HidApiDouble::unplug(kPath);
    QTRY_COMPARE(finished.count(), 2);
    device.close();
    QCOMPARE(finished.count(), 2);
}

void tst_SlUSBHidDevice::readsAndWritesNeverShareAHandle()
{
    constexpr int kReports = 300;
    SlUSBHidDevice device(32);
    QVERIFY(device.open(QString::fromLatin1(kPath)));
    HidApiDouble::setWriteLatencyUs(kPath, 50);
    QByteArray received;
    connect(&device, &QIODevice::readyRead, this, [&] { received += device.readAll(); });
    std::thread feeder([] {
        for (int i = 0; i < kReports; ++i) {
            HidApiDouble::pushInput(kPath, numbered(i));
            QThread::usleep(100);
        }
    });
    QByteArray sent;
    QList<QByteArray> reports;
    for (int i = 0; i < kReports; ++i) {
        QCOMPARE(device.write(numbered(i)), qint64(32));
        sent += numbered(i);
        reports << QByteArray(1, '\0') + numbered(i);
        if (i % 16 == 0)
            QCoreApplication::processEvents();
    }
    feeder.join();
    QTRY_COMPARE(received, sent);
    QCOMPARE(HidApiDouble::outputReports(kPath), reports);

    // Losing the device while writing: the reader closes the write handle under the writers' lock.
    std::thread unplugger([] { HidApiDouble::unplug(kPath); });
    for (int i = 0; HidApiDouble::openHandleCount(kPath) > 0 && i < 20000; ++i)
        device.write(numbered(i));
    unplugger.join();
    QTRY_VERIFY(!device.isOpen());
}

QTEST_GUILESS_MAIN(tst_SlUSBHidDevice)
#include "tst_slusbhiddevice.moc"
