#include "../app/processfixture.h"
#include "../device/rawlink.h"
#include "../e2e/simrunner.h"
#include "../gadget/fragmentpeer.h"

#include "app/slapplogic.h"
#include "model/crc32.h"
#include "model/ggadget.h"
#include "model/slproperty.h"
#include "update/slfirmwareupdater.h"
#include "web/slservicehub.h"
#include "web/slwebservice.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Just enough of a hub for the updater: one gadget that the test plugs and unplugs.
class TestHub : public SlServiceHub
{
public:
    SlWebService *webService() override { return &web; }
    SlWatchSettings *settings() override { return nullptr; }
    GGadget *device() const override { return gadget; }
    bool isServiceMode() const override { return false; }
    void plug(GGadget *g)
    {
        gadget = g;
        emit gadgetChanged(g);
    }

    SlWebService web;
    GGadget *gadget = nullptr;
};

QByteArray randomImage(int size)
{
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char &c : image)
        c = char(generator.bounded(256));
    return image;
}

QString crcText(const QByteArray &image)
{
    return QString::number(crc32(image), 16).rightJustified(8, QLatin1Char('0'));
}

} // namespace

class tst_FirmwareTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageStates_data();
    void pageStates();
    void transferUnderTraffic();
    void quitDuringTransfer();

private:
    ProgramSandbox box;
    // Loads image into updater from a file, as the page's local file choice does.
    void offer(SlFirmwareUpdater &updater, const QByteArray &image);
};

void tst_FirmwareTransfer::initTestCase()
{
    box.useForThisProcess();
    box.useMachineId("00112233445566778899aabbccddeeff");
    // No service: its requests are refused at once.
    qputenv("CORVANE_SERVICE_ORIGIN", "https://127.0.0.1:9");
}

void tst_FirmwareTransfer::offer(SlFirmwareUpdater &updater, const QByteArray &image)
{
    QFile file(box.path(QStringLiteral("fw.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();
    updater.setFWFile(QUrl::fromLocalFile(file.fileName()));
    QVERIFY(updater.isUpdateAvailable());
}

// Every end of a transfer gives the page back its buttons and says what happened; only an
// image the watch took ends the offer, and a failed one can be tried again.
void tst_FirmwareTransfer::pageStates_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("offered");
    QTest::newRow("taken") << "taken"
                           << "The firmware was updated." << false;
    QTest::newRow("refused by the link, still connected")
        << "refused"
        << "The watch did not take the firmware" << true;
    QTest::newRow("watch gone") << "gone"
                                << "The watch was disconnected" << false;
}

void tst_FirmwareTransfer::pageStates()
{
    QFETCH(QString, ending);
    QFETCH(QString, status);
    QFETCH(bool, offered);
    TestHub hub;
    auto *raw = new RawLink;
    auto gadget = std::make_unique<GGadget>(raw);
    hub.plug(gadget.get());
    SlFirmwareUpdater updater;
    updater.setAppLogic(&hub);
    offer(updater, randomImage(2300));
    QSignalSpy updating(&updater, &SlFirmwareUpdater::isUpdatingChanged);
    if (ending == "refused") {
        raw->afterWrite = [raw] {
            if (raw->writes.size() == 50)
                raw->forceResult = true;
        };
    }
    updater.startUpdate();
    QVERIFY(updater.isUpdating());
    if (ending == "gone") {
        QTRY_VERIFY(!raw->writes.isEmpty());
        hub.plug(nullptr);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isUpdating(), 5000);
    QCOMPARE(updating.count(), 2);
    QVERIFY2(updater.status().startsWith(status), qPrintable(updater.status()));
    QCOMPARE(updater.isUpdateAvailable(), offered);
    if (ending != "refused")
        return;
    // The user tries again once the link works: the whole image goes out and is taken.
    raw->forceResult = false;
    raw->afterWrite = nullptr;
    raw->writes.clear();
    updater.startUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isUpdating(), 5000);
    QCOMPARE(updater.status(), QStringLiteral("The firmware was updated."));
    QCOMPARE(raw->writes.size(), (2304 + 22) / 23);
    QCOMPARE(FHeader::fromBytes(raw->writes.first().constData()).offset, 0x100000u);
}

// The image reaches the simulated watch whole, at its address, while the watch sends its clock
// every few milliseconds and parameters are written all along; the watch's parameter memory
// sees only those writes.
void tst_FirmwareTransfer::transferUnderTraffic()
{
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    SlAppLogic hub;
    SlFirmwareUpdater updater;
    updater.setAppLogic(&hub);
    SimRunner sim;
    sim.start({"--push-clock", "3"});
    QTRY_VERIFY_WITH_TIMEOUT(hub.device() && hub.device()->isAuthorized(), 10000);
    SlProperty *brightness = hub.device()->findProperty(QStringLiteral("indicBrightness"));
    QVERIFY(brightness);

    const QByteArray image = randomImage(200 * 1000);
    offer(updater, image);
    int written = 0;
    QTimer traffic;
    connect(&traffic, &QTimer::timeout, [&] { brightness->setValue(10 + written++ % 50); });
    traffic.start(2);
    updater.startUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(!updater.isUpdating(), 60000);
    traffic.stop();
    QCOMPARE(updater.status(), QStringLiteral("The firmware was updated."));
    QVERIFY(sim.waitFor(
        QStringLiteral("firmware ok size=%1 crc=%2").arg(image.size()).arg(crcText(image))));
    QVERIFY(written > 10);
    const QStringList events = sim.events();
    QCOMPARE(events.filter(QStringLiteral("firmware")).size(), 1);
    const QStringList writes = events.filter(QRegularExpression(QStringLiteral("^write")));
    QVERIFY(!writes.isEmpty());
    for (const QString &line : writes)
        QVERIFY2(line.startsWith(QStringLiteral("write offset=145 size=1 name=indicBrightness")),
                 qPrintable(line));
    QVERIFY(sim.waitFor(QStringLiteral("write offset=145 size=1 name=indicBrightness value=") +
                        QString::number(10 + (written - 1) % 50)));
}

// Quitting mid-transfer: the hub goes as at the end of the program, the transfer stops and
// the watch is told the program left.
void tst_FirmwareTransfer::quitDuringTransfer()
{
    QVERIFY(FragmentPeer::waitForFreePort(6666));
    auto hub = std::make_unique<SlAppLogic>();
    SlFirmwareUpdater updater;
    updater.setAppLogic(hub.get());
    SimRunner sim;
    sim.start({"--push-clock", "5"});
    QTRY_VERIFY_WITH_TIMEOUT(hub->device() && hub->device()->isAuthorized(), 10000);
    hub->device()->setWriteDelay(1); // at the pace of a HID link: about ten seconds
    offer(updater, randomImage(200 * 1000));
    updater.startUpdate();
    QTRY_VERIFY(updater.progress() > 5);
    hub.reset();
    QVERIFY(sim.waitFor(QStringLiteral("detached")));
    QCOMPARE(sim.count(QStringLiteral("firmware ok")), 0);
}

QTEST_MAIN(tst_FirmwareTransfer)
#include "tst_firmwaretransfer.moc"
