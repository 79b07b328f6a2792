#include "hidapidouble.h"

#include "device/slusbhidinfo.h"
#include "device/slusbhidserver.h"

#include <QSignalSpy>
#include <QTest>

namespace {
HidApiDouble::ScriptedDevice device(const QByteArray &path, const QString &serial = QString(),
                                    unsigned short vendorId = 0xFFFF,
                                    unsigned short productId = 0x099D)
{
    HidApiDouble::ScriptedDevice scripted;
    scripted.path = path;
    scripted.vendorId = vendorId;
    scripted.productId = productId;
    if (!serial.isEmpty()) {
        scripted.serialNumber = serial;
        scripted.manufacturer = QStringLiteral("Maker");
        scripted.product = QStringLiteral("TR-31 \u00e9");
    }
    return scripted;
}
} // namespace

class tst_SlUSBHIDServer : public QObject
{
    Q_OBJECT

private slots:
    void init() { HidApiDouble::reset(); }
    void reportsEveryMatchingDeviceEveryPass();
    void timerDrivesPasses();
};

void tst_SlUSBHIDServer::reportsEveryMatchingDeviceEveryPass()
{
    HidApiDouble::plug(device("/dev/hidraw0", "A1"));
    HidApiDouble::plug(device("/dev/hidraw1", "K", 0x046D));         // another maker's keyboard
    HidApiDouble::plug(device("/dev/hidraw2", "S", 0xFFFF, 0x099E)); // a sibling product
    HidApiDouble::plug(device("/dev/hidraw3"));                      // no strings at all
    HidApiDouble::plug(device("/dev/hidraw\xe9", "B2"));
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);

    QMetaObject::invokeMethod(&server, "onTimerTimeout");
    QMetaObject::invokeMethod(&server, "onTimerTimeout");

    QStringList seen;
    for (const QList<QVariant> &args : qAsConst(spy)) {
        const auto info = args.at(0).value<SlUSBHIDInfo>();
        seen << QStringLiteral("%1|%2|%3|%4|%5|%6")
                    .arg(info.path)
                    .arg(info.vendorId, 0, 16)
                    .arg(info.productId, 0, 16)
                    .arg(info.serialNumber, info.manufacturer, info.product);
    }
    const QStringList pass{
        "/dev/hidraw0|ffff|99d|A1|Maker|TR-31 \u00e9", "/dev/hidraw3|ffff|99d|||",
        QString::fromLatin1("/dev/hidraw\xe9|ffff|99d|B2|Maker|TR-31 ") + QChar(0xe9)};
    QCOMPARE(seen, pass + pass);
    QVERIFY(HidApiDouble::counts().inits >= 2);
    QCOMPARE(HidApiDouble::counts().unfreedLists, 0);
}

void tst_SlUSBHIDServer::timerDrivesPasses()
{
    HidApiDouble::plug(device("/dev/hidraw0", "A1"));
    SlUSBHIDServer server(0xFFFF, 0x099D);
    QSignalSpy spy(&server, &SlUSBHIDServer::deviceAvailable);
    QTest::qWait(250);
    QCOMPARE(spy.count(), 0);

    server.start(10);
    QTRY_VERIFY(spy.count() >= 3);
    server.stop();
    const int passes = spy.count();
    QTest::qWait(50);
    QCOMPARE(spy.count(), passes);

    server.start();
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() > passes, 1000);
}

QTEST_GUILESS_MAIN(tst_SlUSBHIDServer)
#include "tst_slusbhidserver.moc"
