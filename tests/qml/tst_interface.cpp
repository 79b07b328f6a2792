#include "interfacefixture.h"

#include "../support/hidapi_double/hidapidouble.h"
#include "update/slappupdaterclient.h"

#include <QFile>
#include <QQmlComponent>
#include <QScreen>

// The window, the tray and the page switcher, driven as a user meets them.
class TstInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyResourceResolves_data();
    void everyResourceResolves();
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void pageSwitcherRules_data();
    void pageSwitcherRules();
    void updateProgressTexts_data();
    void updateProgressTexts();
    void updateCompleteShowsForThreeSeconds();
    void trayShowOnlyWhileHidden();
    void authorisedWatchBringsTheWindowUp();
    void refusedWatchShowsTheRuleCommand();

private:
    std::unique_ptr<InterfaceFixture> ui;
};

void TstInterface::initTestCase()
{
    ui = std::make_unique<InterfaceFixture>();
    QVERIFY(ui->load());
    QTRY_COMPARE(ui->page(), QStringLiteral("qrc:///user/Unplugged.qml"));
    QCOMPARE(ui->window->title(), QStringLiteral("Corvane"));
}

void TstInterface::cleanupTestCase()
{
    const QStringList warnings = ui->warnings;
    ui.reset();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void TstInterface::everyResourceResolves_data()
{
    QTest::addColumn<QString>("path");
    const QStringList groups = {
        "fonts/:Cricket Normal.ttf,Crystal.ttf,DS-DIGI.TTF,HelveticaNeue-Bold.ttf,"
        "HelveticaNeue-Light.ttf,HelveticaNeue-Medium.ttf,HelveticaNeue-Thin.ttf,"
        "HelveticaNeue-UltraLight.ttf,IV-16.ttf,liquidcr.ttf,MGJTypeface.ttf",
        ":tray_icon.png",
        "basic/:ArrowButton,Battery,BoldText,ButtonArrowLine,CaptionText,CircularSlider,"
        "ControlErrorFrame,DatePicker,HorizontalLine,IndexedComboBox,LabelTextField1,"
        "LabelTextField2,LabelTextField3,LCDText,ListButton,MediumText,MyCheckBox,MyComboBox,"
        "MyComboBoxBlackStyle,MyComboBoxStyle,MyRadioButton,MyShaderObject,MyShapedButton,"
        "MySimpleComboBox,MySimpleComboBoxModelBased,MySlider,NamedParam,NotifyWindow,"
        "PlaceHolderComboBox,S7Digit,StorageCircle,ThinText,Title1Text,Title2Text,Title3Text,"
        "UltraLightText,VerticalLine=.qml",
        "basic/images/:arrow,arrow_01,battery_element,battery_mirror,battery_mirror1,check,"
        "combobox_button,linePixel,linePixel_1,progressbar_1,progressbar_2,progressbar_3,"
        "Refresh-icon,storage-element=.png",
        "user/:main,BackgroundPageTemplate,FirmwareUpdatePage,RightPanel,Unplugged,"
        "UpdateCompletePage,UpdateProgressPage,usr=.qml",
        "user/images/:background1,BackgroundNoise,connect,connect1,G,Corvane,Corvane3,"
        "preorder_01,UpdateCompleteLogo,UpdateCompleteText,UpdateLogo,USBLogo,USBLogo1=.png",
        "singletone/:GlobalStyles.qml",
        "devices/tr31/usr/:main,General,Indication,Customize,DateTime,Battery,Statistics,"
        "Service,Settings,LeftPanel,CircleLabel,FilamentColoredButton=.qml",
        "devices/tr31/usr/images/:Tr31General,Tr31Settings,Tr31Customize,Tr31Service,"
        "tr31_customize_led_b,tr31_customize_led_c,tr31_customize_led_g,tr31_customize_led_p,"
        "tr31_customize_led_r,tr31_customize_led_w,tr31_customize_led_y=.png",
        "devices/tr31/usr/images/digits/:Tr31.qml,tr31_digit_0.png,tr31_digit_1.png,"
        "tr31_digit_2.png,tr31_digit_3.png,tr31_digit_4.png,tr31_digit_5.png,tr31_digit_6.png,"
        "tr31_digit_7.png,tr31_digit_8.png,tr31_digit_9.png",
        "devices/tr31/usr/images/lamp/:Tr31Lamp.qml,1.png,6.png,none.png,led_b.png,led_c.png,"
        "led_g.png,led_p.png,led_r.png,led_w.png,led_y.png",
    };
    // Each group: folder ":" names, and "=suffix" when the names share one.
    for (const QString &group : groups) {
        const QString folder = group.section(QLatin1Char(':'), 0, 0);
        QString names = group.section(QLatin1Char(':'), 1);
        const QString suffix = names.contains(QLatin1Char('=')) ? names.section('=', 1) : "";
        names = names.section(QLatin1Char('='), 0, 0);
        for (const QString &name : names.split(QLatin1Char(',')))
            QTest::newRow(qPrintable(folder + name + suffix)) << folder + name + suffix;
    }
}

void TstInterface::everyResourceResolves()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(QStringLiteral(":/") + path), qPrintable(path));
    if (!path.endsWith(QLatin1String(".qml")) || path == QLatin1String("user/main.qml"))
        return;
    QQmlComponent component(ui->engine.get(), QUrl(QStringLiteral("qrc:///") + path));
    QVERIFY2(component.status() == QQmlComponent::Ready, qPrintable(component.errorString()));
}

void TstInterface::windowFitsTheScreen_data()
{
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<int>("screenHeight");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("scaleRatio");
    QTest::newRow("1920x1080: capped") << 1920 << 1080 << 1200.0 << 800.0 << 1.0;
    QTest::newRow("1280x1024") << 1280 << 1024 << 1049.6 << 1049.6 / 1.5 << 0.874667;
    QTest::newRow("1080x1920 tall") << 1080 << 1920 << 885.6 << 590.4 << 0.738;
    QTest::newRow("3840x1600 wide") << 3840 << 1600 << 1200.0 << 800.0 << 1.0;
}

void TstInterface::windowFitsTheScreen()
{
    QFETCH(int, screenWidth);
    QFETCH(int, screenHeight);
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(double, scaleRatio);
    QVariant fit;
    QVERIFY(QMetaObject::invokeMethod(ui->window, "sizeFor", Q_RETURN_ARG(QVariant, fit),
                                      Q_ARG(QVariant, screenWidth), Q_ARG(QVariant, screenHeight)));
    const QVariantMap size = fit.toMap();
    QVERIFY(qAbs(size.value("width").toDouble() - width) < 0.01);
    QVERIFY(qAbs(size.value("height").toDouble() - height) < 0.01);
    QVERIFY(qAbs(size.value("scaleRatio").toDouble() - scaleRatio) < 0.001);

    // The window itself takes the size for its own screen, and cannot be resized.
    const QSize screen = ui->window->screen()->size();
    QVERIFY(QMetaObject::invokeMethod(ui->window, "sizeFor", Q_RETURN_ARG(QVariant, fit),
                                      Q_ARG(QVariant, screen.width()),
                                      Q_ARG(QVariant, screen.height())));
    QCOMPARE(ui->window->width(), int(fit.toMap().value("width").toDouble()));
    QCOMPARE(ui->window->minimumSize(), ui->window->maximumSize());
}

void TstInterface::pageSwitcherRules_data()
{
    QTest::addColumn<bool>("isUpdated");
    QTest::addColumn<int>("updaterState");
    QTest::addColumn<bool>("hasGadget");
    QTest::addColumn<bool>("basicInit");
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<bool>("firmwareOffered");
    QTest::addColumn<QString>("page");
    const int idle = SlAppUpdaterClient::Idle;
    const QString complete = "qrc:///user/UpdateCompletePage.qml";
    const QString progress = "qrc:///user/UpdateProgressPage.qml";
    QTest::newRow("updated beats all")
        << true << int(SlAppUpdaterClient::Downloading) << true << true << true << true << complete;
    for (auto state : {SlAppUpdaterClient::UpdateAvailable, SlAppUpdaterClient::Downloading,
                       SlAppUpdaterClient::DownloadFinished, SlAppUpdaterClient::Error,
                       SlAppUpdaterClient::ClosingApp})
        QTest::addRow("updater state %d", int(state))
            << false << int(state) << true << true << true << false << progress;
    QTest::newRow("checking is not busy") << false << int(SlAppUpdaterClient::Checking) << false
                                          << false << false << false << "qrc:///user/Unplugged.qml";
    QTest::newRow("no gadget") << false << idle << false << false << false << false
                               << "qrc:///user/Unplugged.qml";
    QTest::newRow("gadget not initialised")
        << false << idle << true << false << false << false << "qrc:///user/Unplugged.qml";
    QTest::newRow("not yet authorised: keep the page")
        << false << idle << true << true << false << false << QString("");
    QTest::newRow("authorised") << false << idle << true << true << true << false
                                << "qrc:///user/usr.qml";
    QTest::newRow("firmware offered")
        << false << idle << true << true << true << true << "qrc:///user/FirmwareUpdatePage.qml";
}

void TstInterface::pageSwitcherRules()
{
    QFETCH(bool, isUpdated);
    QFETCH(int, updaterState);
    QFETCH(bool, hasGadget);
    QFETCH(bool, basicInit);
    QFETCH(bool, authorized);
    QFETCH(bool, firmwareOffered);
    QFETCH(QString, page);
    QVariant chosen;
    QVERIFY(QMetaObject::invokeMethod(
        ui->window, "pageFor", Q_RETURN_ARG(QVariant, chosen), Q_ARG(QVariant, isUpdated),
        Q_ARG(QVariant, updaterState), Q_ARG(QVariant, hasGadget), Q_ARG(QVariant, basicInit),
        Q_ARG(QVariant, authorized), Q_ARG(QVariant, firmwareOffered)));
    QCOMPARE(chosen.toString(), page);
}

void TstInterface::updateProgressTexts_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("buttons");
    QTest::addColumn<bool>("bar");
    QTest::newRow("available") << int(SlAppUpdaterClient::UpdateAvailable)
                               << "A new version 1.4.0 of the Corvane app is available\n"
                                  "Would you like to install the update?"
                               << true << false;
    QTest::newRow("downloading") << int(SlAppUpdaterClient::Downloading)
                                 << "Please wait until your update is downloaded and installed"
                                 << false << true;
    QTest::newRow("error") << int(SlAppUpdaterClient::Error)
                           << "An error occurred during update application" << false << false;
    QTest::newRow("finished") << int(SlAppUpdaterClient::DownloadFinished) << "" << false << false;
    QTest::newRow("closing") << int(SlAppUpdaterClient::ClosingApp) << "" << false << false;
}

void TstInterface::updateProgressTexts()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(bool, buttons);
    QFETCH(bool, bar);
    // The page reads the updater only through its properties and its userAction slot.
    QQmlComponent component(ui->engine.get());
    component.setData(QByteArrayLiteral("import QtQuick 2.15\n"
                                        "import \"qrc:///user\"\n"
                                        "UpdateProgressPage {\n"
                                        "  property int lastAction: -1\n"
                                        "  updater: QtObject {\n"
                                        "    property int state\n"
                                        "    property string version: \"1.4.0\"\n"
                                        "    property real progress: 40\n"
                                        "    function userAction(a) { lastAction = a }\n"
                                        "  }\n"
                                        "}\n"),
                      QUrl(QStringLiteral("qrc:///tests/progress.qml")));
    std::unique_ptr<QObject> page(component.create());
    QVERIFY2(page, qPrintable(component.errorString()));
    page->property("updater").value<QObject *>()->setProperty("state", state);
    QCOMPARE(page->findChild<QObject *>("updateMessage")->property("text").toString(), text);
    auto *later = qobject_cast<QQuickItem *>(page->findChild<QObject *>("laterButton"));
    QCOMPARE(later->isVisible(), buttons);
    QCOMPARE(page->findChild<QQuickItem *>("downloadProgress")->isVisible(), bar);
    if (buttons) {
        QMetaObject::invokeMethod(later, "clicked");
        QCOMPARE(page->property("lastAction").toInt(), int(SlAppUpdaterClient::DiscardUpdate));
        QMetaObject::invokeMethod(page->findChild<QObject *>("updateButton"), "clicked");
        QCOMPARE(page->property("lastAction").toInt(), int(SlAppUpdaterClient::ApplyUpdate));
    }
}

void TstInterface::updateCompleteShowsForThreeSeconds()
{
    QElapsedTimer shown;
    ui->logic->setIsUpdated(true);
    shown.start();
    QTRY_COMPARE(ui->page(), QStringLiteral("qrc:///user/UpdateCompletePage.qml"));
    QTRY_COMPARE_WITH_TIMEOUT(ui->page(), QStringLiteral("qrc:///user/Unplugged.qml"), 6000);
    QVERIFY(shown.elapsed() >= 2900);
    QVERIFY(!ui->logic->isUpdated());
}

void TstInterface::trayShowOnlyWhileHidden()
{
    QObject *show = ui->find("trayShow");
    QCOMPARE(ui->find("trayQuit")->property("text").toString(), QStringLiteral("Quit"));
    QCOMPARE(show->property("text").toString(), QStringLiteral("Show"));
    QObject *autorun = ui->find("trayAutorun");
    QCOMPARE(autorun->property("text").toString(), QStringLiteral("Run app on system start"));
    QCOMPARE(autorun->property("checked").toBool(), ui->logic->autorun());

    QVERIFY(ui->window->isVisible());
    QVERIFY(!show->property("enabled").toBool());
    ui->window->close();
    QTRY_VERIFY(!ui->window->isVisible());
    QVERIFY(show->property("enabled").toBool());
    QMetaObject::invokeMethod(show, "triggered");
    QTRY_VERIFY(ui->window->isVisible());
    QVERIFY(!show->property("enabled").toBool());
    ui->window->close();
    emit ui->logic->maximize();
    QTRY_VERIFY(ui->window->isVisible());
}

void TstInterface::authorisedWatchBringsTheWindowUp()
{
    ui->window->close();
    QTRY_VERIFY(!ui->window->isVisible());
    QVERIFY(ui->connectWatch({QStringLiteral("--reconnect")}));
    QTRY_COMPARE_WITH_TIMEOUT(ui->page(), QStringLiteral("qrc:///user/usr.qml"), 10000);
    QVERIFY(ui->window->isVisible());
    QVERIFY(!ui->find("trayShow")->property("enabled").toBool());
    QTRY_VERIFY(ui->find("tr31Page"));

    // The watch leaves: back to the unplugged page.
    ui->sim.reset();
    QTRY_COMPARE_WITH_TIMEOUT(ui->page(), QStringLiteral("qrc:///user/Unplugged.qml"), 10000);
}

void TstInterface::refusedWatchShowsTheRuleCommand()
{
    // A watch on USB whose node this user may not open, as before the udev rule is installed.
    HidApiDouble::ScriptedDevice watch;
    watch.path = "/dev/hidraw7";
    watch.failOpen = true;
    HidApiDouble::plug(watch);
    QTRY_VERIFY(ui->logic->deviceAccessDenied());
    QQuickItem *page = ui->find("pageSwitcher")->property("item").value<QQuickItem *>();
    QQuickItem *hint = InterfaceFixture::findItem(page, QStringLiteral("accessHint"));
    QVERIFY(hint);
    QTRY_VERIFY(hint->isVisible());
    const QString command = InterfaceFixture::findItem(page, QStringLiteral("udevCommand"))
                                ->property("text")
                                .toString();
    QVERIFY(
        command.contains(QLatin1String("ATTRS{idVendor}==\"ffff\", ATTRS{idProduct}==\"099d\"")));
    QVERIFY(command.contains(QLatin1String("/etc/udev/rules.d/60-corvane-watch.rules")));

    HidApiDouble::unplug(watch.path);
    QTRY_VERIFY_WITH_TIMEOUT(!hint->isVisible(), 3000);
}

QTEST_MAIN(TstInterface)
#include "tst_interface.moc"
