#include "hidapidouble.h"

#include <hidapi.h>

#include <QTest>

#include <thread>

// Every test of the program's HID code relies on the double aborting on misuse and on its
// count of open handles: those must be able to rise, or they would pass any code.
class tst_HidApiDouble : public QObject
{
    Q_OBJECT

private slots:
    void countsAndQueues()
    {
        const char *const path = "/dev/hidraw-double";
        const unsigned char report[33] = {};
        HidApiDouble::ScriptedDevice scripted;
        scripted.path = path;
        HidApiDouble::plug(scripted);
        HidApiDouble::setAbortOnMisuse(false);
        hid_device *first = hid_open_path(path), *second = hid_open_path(path);
        QCOMPARE(HidApiDouble::openHandleCount(path), 2);
        for (int i = 0; i < 70; ++i)
            HidApiDouble::pushInput(path, QByteArray(40, char(i)));
        unsigned char buffer[32];
        for (hid_device *handle : {first, second}) {
            int reports = 0; // each handle its own copy, at most 64, cut to the reader's length
            while (hid_read_timeout(handle, buffer, sizeof buffer, 0) == 32)
                ++reports;
            QCOMPARE(reports, 64);
        }
        std::thread read([&] { hid_read_timeout(first, buffer, sizeof buffer, 3000); });
        QTest::qSleep(50);
        hid_write(first, report, sizeof report); // while the read waits
        HidApiDouble::pushInput(path, QByteArray(32, 'x'));
        read.join();
        HidApiDouble::unplug(path); // reads and writes fail, queued input or not
        QCOMPARE(hid_read_timeout(second, buffer, sizeof buffer, 0), -1);
        QCOMPARE(hid_write(first, report, sizeof report), -1);
        QVERIFY(!hid_open_path(path));
        hid_close(first);
        hid_close(second);
        QCOMPARE(HidApiDouble::openHandleCount(path), 0);
        hid_close(first);
        QCOMPARE(hid_write(second, report, sizeof report), -1);
        QCOMPARE(HidApiDouble::counts().overlaps, 1);
        QCOMPARE(HidApiDouble::counts().staleHandles, 2);
    }
};

QTEST_GUILESS_MAIN(tst_HidApiDouble)
#include "tst_hidapidouble.moc"
