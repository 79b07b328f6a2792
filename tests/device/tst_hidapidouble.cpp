#include "hidapidouble.h"

#include <hidapi.h>

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

namespace {
const QByteArray kPath = "/dev/hidraw-double";

unsigned char *bytes(QByteArray &array)
{
    return reinterpret_cast<unsigned char *>(array.data());
}
} // namespace

// The double is how every HID path gets tested, so its own promises are checked.
class tst_HidApiDouble : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readWaitsForItsTimeout();
    void unplugWakesBlockedRead();
    void everyHandleGetsEveryReportUpToALimit();
    void overlappingCallsAreCaught();
    void callsOnClosedHandlesAreCaught();
};

void tst_HidApiDouble::init()
{
    HidApiDouble::reset();
    HidApiDouble::ScriptedDevice scripted;
    scripted.path = kPath;
    HidApiDouble::plug(scripted);
}

void tst_HidApiDouble::readWaitsForItsTimeout()
{
    hid_device *handle = hid_open_path(kPath.constData());
    QVERIFY(handle);
    QByteArray buffer(32, '\0');
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(hid_read_timeout(handle, bytes(buffer), 32, 60), 0);
    QVERIFY(clock.elapsed() >= 55);

    HidApiDouble::pushInput(kPath, QByteArray(40, 'x'));
    QCOMPARE(hid_read_timeout(handle, bytes(buffer), 32, 60), 32);
    QCOMPARE(buffer, QByteArray(32, 'x'));
    hid_close(handle);
}

void tst_HidApiDouble::unplugWakesBlockedRead()
{
    hid_device *handle = hid_open_path(kPath.constData());
    std::atomic<int> result{99};
    std::thread read([handle, &result] {
        unsigned char buffer[32];
        result = hid_read_timeout(handle, buffer, sizeof buffer, 5000);
    });
    QThread::msleep(20);
    QElapsedTimer clock;
    clock.start();
    HidApiDouble::unplug(kPath);
    read.join();
    QCOMPARE(result.load(), -1);
    QVERIFY(clock.elapsed() < 1000);
    const unsigned char report[33] = {};
    QCOMPARE(hid_write(handle, report, sizeof report), -1);
    QVERIFY(!hid_open_path(kPath.constData()));
    hid_close(handle);
    QCOMPARE(HidApiDouble::openHandleCount(kPath), 0);
}

void tst_HidApiDouble::everyHandleGetsEveryReportUpToALimit()
{
    hid_device *first = hid_open_path(kPath.constData());
    hid_device *second = hid_open_path(kPath.constData());
    for (int i = 0; i < 70; ++i)
        HidApiDouble::pushInput(kPath, QByteArray(32, char(i)));
    QByteArray buffer(32, '\0');
    for (hid_device *handle : {first, second}) {
        int reports = 0;
        while (hid_read_timeout(handle, bytes(buffer), 32, 0) > 0)
            ++reports;
        QCOMPARE(reports, 64);
        QCOMPARE(buffer, QByteArray(32, char(63)));
    }
    hid_close(first);
    hid_close(second);
}

void tst_HidApiDouble::overlappingCallsAreCaught()
{
#if defined(__SANITIZE_THREAD__)
    QSKIP("overlapping on purpose is a data race the thread sanitizer rightly reports");
#endif
    HidApiDouble::setAbortOnMisuse(false);
    hid_device *handle = hid_open_path(kPath.constData());
    std::thread read([handle] {
        unsigned char buffer[32];
        hid_read_timeout(handle, buffer, sizeof buffer, 300);
    });
    QThread::msleep(50);
    const unsigned char report[33] = {};
    QCOMPARE(hid_write(handle, report, sizeof report), 33);
    read.join();
    QCOMPARE(HidApiDouble::overlapCount(), 1);
    hid_close(handle);
}

void tst_HidApiDouble::callsOnClosedHandlesAreCaught()
{
    HidApiDouble::setAbortOnMisuse(false);
    hid_device *handle = hid_open_path(kPath.constData());
    hid_close(handle);
    const unsigned char report[33] = {};
    QCOMPARE(hid_write(handle, report, sizeof report), -1);
    hid_close(handle);
    QCOMPARE(HidApiDouble::staleHandleCount(), 2);
    QCOMPARE(HidApiDouble::closeCount(), 1);
}

QTEST_GUILESS_MAIN(tst_HidApiDouble)
#include "tst_hidapidouble.moc"
