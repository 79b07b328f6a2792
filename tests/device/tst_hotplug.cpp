#include "hidapidouble.h"

#include "device/sliodeviceserver.h"
#include "device/slusbhiddevice.h"
#include "device/slusbhidserver.h"

#include <QtTest>

#include <memory>

namespace {
const QByteArray kWatchPath = "/dev/hidraw-tr31";

int enumerations()
{
    return HidApiDouble::counts().enumerations;
}

SlUSBHIDServer *usbServerOf(SlIODeviceServer &server)
{
    return server.findChild<SlUSBHIDServer *>();
}
} // namespace

// The device server walks the HID list when it is switched on and when udev
// reports a hidraw device, and polls only where it must.
class tst_Hotplug : public QObject
{
    Q_OBJECT

private slots:
    void init() { HidApiDouble::reset(); }
    void cleanup() { taken.reset(); }
    void passesOnlyOnHidrawEvents();
    void refusedWatchPolledUntilGone();
    void pollsWithoutMonitor();

private:
    std::unique_ptr<QIODevice> taken;
};

void tst_Hotplug::passesOnlyOnHidrawEvents()
{
    SlIODeviceServer server;
    QVERIFY(usbServerOf(server));
    connect(&server, &SlIODeviceServer::newDeviceConnected, this, [this, &server] {
        server.setEnabled(false);
        taken.reset(server.nextDevice());
    });
    server.setEnabled(true);
    QTRY_COMPARE(enumerations(), 1);
    QVERIFY(!usbServerOf(server)->isPolling());

    // Nothing happens, and another subsystem's event is filtered out before it wakes us.
    HidApiDouble::announce("input", "add");
    QTest::qWait(300);
    QCOMPARE(enumerations(), 1);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("new usb device connected$"));
    HidApiDouble::plug({kWatchPath});
    QTRY_VERIFY(taken);
    QCOMPARE(qobject_cast<SlUSBHidDevice *>(taken.get())->path(), QString::fromLatin1(kWatchPath));
    QCOMPARE(enumerations(), 2);

    // While the session runs the server is off: an unplug event walks nothing.
    QSignalSpy gone(taken.get(), &QIODevice::readChannelFinished);
    HidApiDouble::unplug(kWatchPath);
    QTRY_COMPARE(gone.count(), 1);
    QTest::qWait(50);
    QCOMPARE(enumerations(), 2);

    // Plugged while the server was off: the pass on switching on finds it.
    taken.reset();
    HidApiDouble::plug({kWatchPath});
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("new usb device connected$"));
    server.setEnabled(true);
    QTRY_VERIFY(taken);
    QCOMPARE(enumerations(), 3);
}

void tst_Hotplug::refusedWatchPolledUntilGone()
{
    SlIODeviceServer server;
    server.setEnabled(true);
    QTRY_COMPARE(enumerations(), 1);

    // No event comes when a udev rule makes the node openable, so a refused watch is polled.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("could not be open$"));
    HidApiDouble::plug({kWatchPath, true});
    QTRY_VERIFY(server.isAccessDenied());
    QVERIFY(usbServerOf(server)->isPolling());
    const int refusedAt = enumerations();
    QTRY_VERIFY_WITH_TIMEOUT(enumerations() >= refusedAt + 2, 2000);

    HidApiDouble::unplug(kWatchPath);
    QTRY_VERIFY_WITH_TIMEOUT(!server.isAccessDenied(), 3000);
    QVERIFY(!usbServerOf(server)->isPolling());
    const int goneAt = enumerations();
    QTest::qWait(450);
    QCOMPARE(enumerations(), goneAt);
}

void tst_Hotplug::pollsWithoutMonitor()
{
    HidApiDouble::setMonitorAvailable(false);
    SlIODeviceServer server;
    server.setEnabled(true);
    QVERIFY(usbServerOf(server)->isPolling());
    QTRY_VERIFY_WITH_TIMEOUT(enumerations() >= 2, 1000);
    server.setEnabled(false);
    QVERIFY(!usbServerOf(server)->isPolling());
}

QTEST_GUILESS_MAIN(tst_Hotplug)
#include "tst_hotplug.moc"
