#include "hidapidouble.h"

#include "device/slusbhidinfo.h"
#include "device/slusbhidserver.h"

#include <QSignalSpy>
#include <QTest>

namespace {
HidApiDouble::ScriptedDevice watch(const QByteArray &path, const QString &serial)
{
    HidApiDouble::ScriptedDevice scripted;
    scripted.path = path;
    scripted.serialNumber = serial;
    scripted.manufacturer = QStringLiteral("Maker");
    scripted.product = QStringLiteral("TR-31 \u00e9");
    return scripted;
}

SlUSBHIDInfo infoAt(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(0).value<SlUSBHIDInfo>();
}
} // namespace

class tst_SlUSBHIDServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void idleUntilStarted();
    void reportsEveryMatchingDeviceEveryPass();
    void missingStringsBecomeEmpty();
    void otherIdentitiesIgnored();
    void timerDrivesPasses();
};

void tst_SlUSBHIDServer::init()
{
    HidApiDouble::reset();
}

void tst_SlUSBHIDServer::idleUntilStarted()
{
    HidApiDouble::plug(watch("/dev/hidraw0", "A1"));
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);
    QVERIFY(!server.isActive());
    QTest::qWait(250);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(HidApiDouble::enumerateCount(), 0);
}

void tst_SlUSBHIDServer::reportsEveryMatchingDeviceEveryPass()
{
    HidApiDouble::plug(watch("/dev/hidraw0", "A1"));
    HidApiDouble::plug(watch("/dev/hidraw\xe9", "B2"));
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);

    QMetaObject::invokeMethod(&server, "onTimerTimeout");
    QMetaObject::invokeMethod(&server, "onTimerTimeout");

    QCOMPARE(spy.count(), 4);
    QCOMPARE(infoAt(spy, 0).path, QStringLiteral("/dev/hidraw0"));
    QCOMPARE(infoAt(spy, 1).path, QString::fromLatin1("/dev/hidraw\xe9"));
    QCOMPARE(infoAt(spy, 0).vendorId, quint16(0xFFFF));
    QCOMPARE(infoAt(spy, 0).productId, quint16(0x099D));
    QCOMPARE(infoAt(spy, 0).serialNumber, QStringLiteral("A1"));
    QCOMPARE(infoAt(spy, 0).manufacturer, QStringLiteral("Maker"));
    QCOMPARE(infoAt(spy, 1).product, QStringLiteral("TR-31 \u00e9"));
    QCOMPARE(infoAt(spy, 2), infoAt(spy, 0));
    QCOMPARE(infoAt(spy, 3), infoAt(spy, 1));
    QVERIFY(HidApiDouble::initCount() >= 2);
    QCOMPARE(HidApiDouble::outstandingEnumerations(), 0);
}

void tst_SlUSBHIDServer::missingStringsBecomeEmpty()
{
    HidApiDouble::ScriptedDevice bare;
    bare.path = "/dev/hidraw3";
    HidApiDouble::plug(bare);
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);

    QMetaObject::invokeMethod(&server, "onTimerTimeout");

    QCOMPARE(spy.count(), 1);
    QVERIFY(infoAt(spy, 0).serialNumber.isEmpty());
    QVERIFY(infoAt(spy, 0).manufacturer.isEmpty());
    QVERIFY(infoAt(spy, 0).product.isEmpty());
}

void tst_SlUSBHIDServer::otherIdentitiesIgnored()
{
    HidApiDouble::ScriptedDevice keyboard;
    keyboard.path = "/dev/hidraw1";
    keyboard.vendorId = 0x046D;
    HidApiDouble::plug(keyboard);
    HidApiDouble::ScriptedDevice sibling;
    sibling.path = "/dev/hidraw2";
    sibling.productId = 0x099E;
    HidApiDouble::plug(sibling);
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);

    QMetaObject::invokeMethod(&server, "onTimerTimeout");

    QCOMPARE(spy.count(), 0);
    QCOMPARE(HidApiDouble::enumerateCount(), 1);
}

void tst_SlUSBHIDServer::timerDrivesPasses()
{
    HidApiDouble::plug(watch("/dev/hidraw0", "A1"));
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);

    server.start(10);
    QVERIFY(server.isActive());
    QTRY_VERIFY(spy.count() >= 3);
    server.stop();
    QVERIFY(!server.isActive());
    const int passes = HidApiDouble::enumerateCount();
    QTest::qWait(50);
    QCOMPARE(HidApiDouble::enumerateCount(), passes);

    server.start();
    QVERIFY(server.isActive());
    QTRY_VERIFY_WITH_TIMEOUT(HidApiDouble::enumerateCount() > passes, 1000);
}

QTEST_GUILESS_MAIN(tst_SlUSBHIDServer)
#include "tst_slusbhidserver.moc"
