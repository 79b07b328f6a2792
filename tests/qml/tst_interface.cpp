#include "../app/processfixture.h"
#include "../gadget-sim/simprocess.h"
#include "../gadget/fragmentpeer.h"
#include "../support/hidapi_double/hidapidouble.h"

#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/typeregistry.h"
#include "model/ggadget.h"
#include "model/slproperty.h"
#include "update/slappupdaterclient.h"

#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using U = SlAppUpdaterClient;

// The engine names the file of every warning it gives about the interface; any fails the run.
static QStringList g_warnings;
static QtMessageHandler g_previous = nullptr;
static void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type >= QtWarningMsg && (text.contains("qrc:/") || text.contains("file:/")))
        g_warnings.append(text);
    if (g_previous)
        g_previous(type, context, text);
}

// Items made by a Repeater or put into another file's content have no object parent of their
// own: they are found through the item tree.
static QQuickItem *findItem(QQuickItem *item, const QString &name)
{
    if (!item || item->objectName() == name)
        return item;
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        if (QQuickItem *found = findItem(child, name))
            return found;
    return nullptr;
}

// The interface as the program starts it: the real hub, resources and engine, offscreen. The
// window, the tray and the page switcher come first without a watch; then a simulated TR-31
// watch with a frozen clock connects for the device pages, and leaves at the end.
class TstInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyResourceResolves();
    void typesCreatableFromQml();
    void windowFitsTheScreen();
    void pageSwitcherRules();
    void updateProgressTexts();
    void updateCompleteShowsForThreeSeconds();
    void trayShowOnlyWhileHidden();
    void refusedWatchShowsTheRuleCommand();
    void authorisedWatchBringsTheWindowUp();
    void menuPicksThePage();
    void menuHighlightsOnlyThePageShown();
    void savedParametersSayWhereTheyWent();
    void everyControlNamesItsParameter();
    void elementsShowAndWrite_data();
    void elementsShowAndWrite();
    void lampsFollowSliderAndBacklight();
    void timeArrowsWriteCommandsAndHideWhileSyncing();
    void customizeCancelPutsBackAllFive();
    void resetToDefaults();
    void missingParameterShowsAndWritesNothing();
    void tubeNumberPadsAndScrolls();

private:
    QObject *find(const char *name) const { return window->findChild<QObject *>(name); }
    QString page() const { return find("pageSwitcher")->property("source").toUrl().toString(); }
    // What the named loader shows.
    QQuickItem *loaded(const char *loader) const
    {
        return find(loader)->property("item").value<QQuickItem *>();
    }
    QQuickItem *openPage(int menuIndex)
    {
        loaded("leftPanel")->setProperty("currentIndex", menuIndex);
        return loaded("tr31Page");
    }
    QQuickItem *pageItem(const QString &name) const { return findItem(loaded("tr31Page"), name); }
    // Writes the parameter as a page would and waits until the tree holds the value.
    void setParameter(const char *name, const QVariant &value)
    {
        SlProperty *node = logic->device()->findProperty(QString::fromLatin1(name));
        QVERIFY2(node, name);
        node->setValue(value);
        QTRY_COMPARE(node->value(), value);
    }
    // Waits for an event of the watch that matches the pattern.
    bool sawEvent(const QString &pattern)
    {
        const QRegularExpression wanted(pattern);
        if (QTest::qWaitFor([&] { return !sim->events.filter(wanted).isEmpty(); }, 5000))
            return true;
        qWarning() << "no event" << pattern << "among" << sim->events;
        return false;
    }
    std::unique_ptr<QObject> create(const QByteArray &qml)
    {
        QQmlComponent component(engine.get());
        component.setData("import QtQuick 2.15\n" + qml,
                          QUrl(QStringLiteral("qrc:///tests/t.qml")));
        std::unique_ptr<QObject> object(component.create());
        if (!object)
            qWarning() << component.errorString();
        return object;
    }

    ProgramSandbox box;
    std::unique_ptr<QQmlApplicationEngine> engine;
    SlAppLogic *logic = nullptr;
    QQuickWindow *window = nullptr;
    std::unique_ptr<SimProcess> sim;
};

void TstInterface::initTestCase()
{
    box.useForThisProcess();
    // The updater's and the uploads' requests are refused at once.
    qputenv("CORVANE_SERVICE_ORIGIN", "https://127.0.0.1:1");
    qputenv("QT_QUICK_BACKEND", "software");
    g_previous = qInstallMessageHandler(collect);
    registerInterfaceTypes();
    // Another run's hub may still hold the gadget port for a moment.
    QVERIFY(FragmentPeer::waitForFreePort(SlIODeviceServer::TcpPort));
    engine = std::make_unique<QQmlApplicationEngine>();
    logic = new SlAppLogic(engine.get());
    engine->rootContext()->setContextProperty(QStringLiteral("AppLogic"), logic);
    engine->rootContext()->setContextProperty(QStringLiteral("Helper"), new SlHelper(engine.get()));
    engine->load(QUrl(QStringLiteral("qrc:///user/main.qml")));
    QVERIFY(!engine->rootObjects().isEmpty());
    QVERIFY(window = qobject_cast<QQuickWindow *>(engine->rootObjects().first()));
    QCOMPARE(window->title(), QStringLiteral("Corvane"));
}

void TstInterface::cleanupTestCase()
{
    // A leaving watch brings the unplugged page back.
    sim.reset();
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("qrc:///user/Unplugged.qml"), 10000);
    engine.reset();
    qInstallMessageHandler(g_previous);
    QVERIFY2(g_warnings.isEmpty(), qPrintable(g_warnings.join(QLatin1Char('\n'))));
}

void TstInterface::everyResourceResolves()
{
    // The resources are made from the folders' contents: every picture, font and page there.
    const QDir folder(QStringLiteral(CORVANE_SOURCE_DIR "/qml"));
    QDirIterator files(folder.path(), {"*.qml", "*.png", "*.ttf", "*.TTF"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = folder.relativeFilePath(files.next());
        QVERIFY2(QFile::exists(QStringLiteral(":/") + path), qPrintable(path));
        if (!path.endsWith(QLatin1String(".qml")) || path == QLatin1String("user/main.qml"))
            continue;
        QQmlComponent component(engine.get(), QUrl(QStringLiteral("qrc:///") + path));
        QVERIFY2(component.status() == QQmlComponent::Ready, qPrintable(component.errorString()));
    }
}

void TstInterface::typesCreatableFromQml()
{
    const struct
    {
        const char *module, *name, *className;
    } rows[] = {
        {"sl.watch.image", "WatchImage", "SlWatchImage"},
        {"sl.watch.logic", "TaskBarUtility", "TaskBarUtility"},
        {"sl.watch.logic", "SlProperty", "SlProperty"},
        {"sl.watch.logic", "StatModelTranslator", "SlStatModelTranslator"},
        {"sl.private.helper", "Helper", "SlHelper"},
        {"sl.watch.logic", "GGadget", "GGadget"},
        {"sl.watch.server", "SlWebService", "SlWebService"},
        {"sl.watch.logic", "SlWatchBanner", "SlWatchBanner"},
        {"sl.watch.logic", "SlUser", "SlUser"},
        {"sl.watch.logic", "TimeSync", "SlTimeSync"},
        {"sl.watch.logic", "PasswordManipulator", "SlPasswordManipulator"},
        {"sl.watch.logic", "TimeManipulator", "SlTimeManipulator"},
        {"sl.watch.ntp", "NTPClient", "SlNTPClient"},
    };
    for (const auto &row : rows) {
        std::unique_ptr<QObject> object =
            create(QStringLiteral("import %1 1.0\n%2 {}\n").arg(row.module, row.name).toUtf8());
        QVERIFY2(object, row.name);
        QCOMPARE(object->metaObject()->className(), row.className);
    }
}

void TstInterface::windowFitsTheScreen()
{
    const auto sizeFor = [this](int width, int height) {
        QVariant fit;
        QMetaObject::invokeMethod(window, "sizeFor", Q_RETURN_ARG(QVariant, fit),
                                  Q_ARG(QVariant, width), Q_ARG(QVariant, height));
        return fit.toMap();
    };
    const struct
    {
        int screenWidth, screenHeight;
        double width, height, scaleRatio;
    } rows[] = {
        {1920, 1080, 1200.0, 800.0, 1.0}, // capped
        {1280, 1024, 1049.6, 1049.6 / 1.5, 0.874667},
        {1080, 1920, 885.6, 590.4, 0.738}, // tall
    };
    for (const auto &row : rows) {
        const QVariantMap size = sizeFor(row.screenWidth, row.screenHeight);
        QVERIFY(qAbs(size.value("width").toDouble() - row.width) < 0.01);
        QVERIFY(qAbs(size.value("height").toDouble() - row.height) < 0.01);
        QVERIFY(qAbs(size.value("scaleRatio").toDouble() - row.scaleRatio) < 0.001);
    }
    // The window itself takes the size for its own screen, and cannot be resized.
    const QSize screen = window->screen()->size();
    QCOMPARE(window->width(), int(sizeFor(screen.width(), screen.height())["width"].toDouble()));
    QCOMPARE(window->minimumSize(), window->maximumSize());
}

void TstInterface::pageSwitcherRules()
{
    const struct
    {
        bool isUpdated;
        int updaterState;
        bool hasGadget, basicInit, authorized, firmwareOffered;
        const char *page; // none: the page stays
    } rows[] = {
        {true, U::Downloading, true, true, true, true, "UpdateCompletePage"},
        {false, U::UpdateAvailable, true, true, true, false, "UpdateProgressPage"},
        {false, U::Downloading, true, true, true, false, "UpdateProgressPage"},
        {false, U::DownloadFinished, true, true, true, false, "UpdateProgressPage"},
        {false, U::Error, true, true, true, false, "UpdateProgressPage"},
        {false, U::ClosingApp, true, true, true, false, "UpdateProgressPage"},
        {false, U::Checking, false, false, false, false, "Unplugged"},
        {false, U::Idle, false, false, false, false, "Unplugged"},
        {false, U::Idle, true, false, false, false, "Unplugged"},
        {false, U::Idle, true, true, false, false, nullptr},
        {false, U::Idle, true, true, true, false, "usr"},
        {false, U::Idle, true, true, true, true, "FirmwareUpdatePage"},
    };
    for (const auto &row : rows) {
        QVariant chosen;
        QVERIFY(QMetaObject::invokeMethod(
            window, "pageFor", Q_RETURN_ARG(QVariant, chosen), Q_ARG(QVariant, row.isUpdated),
            Q_ARG(QVariant, row.updaterState), Q_ARG(QVariant, row.hasGadget),
            Q_ARG(QVariant, row.basicInit), Q_ARG(QVariant, row.authorized),
            Q_ARG(QVariant, row.firmwareOffered)));
        QCOMPARE(chosen.toString(),
                 row.page ? QStringLiteral("qrc:///user/%1.qml").arg(row.page) : QString(""));
    }
}

void TstInterface::updateProgressTexts()
{
    // The page reads the updater only through its properties and its userAction slot. Shown on
    // its own, it needs the control styles that the page switcher readies for every page but
    // the first.
    QVERIFY(create("import sl.watch.styles 1.0\n"
                   "QtObject { Component.onCompleted: GlobalStyles.fullSet = true }\n"));
    std::unique_ptr<QObject> page = create("import \"qrc:///user\"\n"
                                           "UpdateProgressPage {\n"
                                           "  property int lastAction: -1\n"
                                           "  updater: QtObject {\n"
                                           "    property int state\n"
                                           "    property int error\n"
                                           "    property string version: \"1.4.0\"\n"
                                           "    property real progress: 40\n"
                                           "    function userAction(a) { lastAction = a }\n"
                                           "  }\n"
                                           "}\n");
    QVERIFY(page);
    const struct
    {
        int state, error;
        const char *text;
        bool buttons, bar;
    } rows[] = {
        {U::Downloading, 0, "Please wait until your update is downloaded and installed", false,
         true},
        {U::Error, U::DownloadError, "The update could not be downloaded from the Corvane service",
         false, false},
        {U::Error, U::WriteError, "The update could not be saved on this computer", false, false},
        {U::Error, U::StartUpdaterError, "The updater could not be started", false, false},
        {U::DownloadFinished, 0, "", false, false},
        {U::ClosingApp, 0, "", false, false},
        // The state the buttons below are clicked in.
        {U::UpdateAvailable, 0,
         "A new version 1.4.0 of the Corvane app is available\nWould you like to install the "
         "update?",
         true, false},
    };
    auto *later = page->findChild<QQuickItem *>("laterButton");
    for (const auto &row : rows) {
        page->property("updater").value<QObject *>()->setProperty("error", row.error);
        page->property("updater").value<QObject *>()->setProperty("state", row.state);
        QCOMPARE(page->findChild<QObject *>("updateMessage")->property("text").toString(),
                 QString(row.text));
        QCOMPARE(later->isVisible(), row.buttons);
        QCOMPARE(page->findChild<QQuickItem *>("downloadProgress")->isVisible(), row.bar);
    }
    QMetaObject::invokeMethod(later, "clicked");
    QCOMPARE(page->property("lastAction").toInt(), int(U::DiscardUpdate));
    QMetaObject::invokeMethod(page->findChild<QObject *>("updateButton"), "clicked");
    QCOMPARE(page->property("lastAction").toInt(), int(U::ApplyUpdate));
}

void TstInterface::updateCompleteShowsForThreeSeconds()
{
    QElapsedTimer shown;
    logic->setIsUpdated(true);
    shown.start();
    QTRY_COMPARE(page(), QStringLiteral("qrc:///user/UpdateCompletePage.qml"));
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("qrc:///user/Unplugged.qml"), 6000);
    QVERIFY(shown.elapsed() >= 2900);
}

void TstInterface::trayShowOnlyWhileHidden()
{
    QObject *show = find("trayShow");
    QCOMPARE(find("trayQuit")->property("text").toString(), QStringLiteral("Quit"));
    QCOMPARE(show->property("text").toString(), QStringLiteral("Show"));
    QCOMPARE(find("trayAutorun")->property("text").toString(),
             QStringLiteral("Run app on system start"));
    QCOMPARE(find("trayAutorun")->property("checked").toBool(), logic->autorun());

    QVERIFY(!show->property("enabled").toBool());
    window->close();
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(show->property("enabled").toBool());
    QMetaObject::invokeMethod(show, "triggered");
    QTRY_VERIFY(window->isVisible());
    window->close();
    emit logic->maximize();
    QTRY_VERIFY(window->isVisible());
}

void TstInterface::refusedWatchShowsTheRuleCommand()
{
    // A watch on USB whose node this user may not open, as before the udev rule is installed.
    HidApiDouble::ScriptedDevice watch;
    watch.path = "/dev/hidraw7";
    watch.failOpen = true;
    HidApiDouble::plug(watch);
    QTRY_VERIFY(logic->deviceAccessDenied());
    QQuickItem *page = loaded("pageSwitcher");
    QQuickItem *hint = findItem(page, QStringLiteral("accessHint"));
    QVERIFY(hint);
    QTRY_VERIFY(hint->isVisible());
    const QString command =
        findItem(page, QStringLiteral("udevCommand"))->property("text").toString();
    QVERIFY(
        command.contains(QLatin1String("ATTRS{idVendor}==\"ffff\", ATTRS{idProduct}==\"099d\"")));
    QVERIFY(command.contains(QLatin1String("/etc/udev/rules.d/60-corvane-watch.rules")));

    HidApiDouble::unplug(watch.path);
    QTRY_VERIFY_WITH_TIMEOUT(!hint->isVisible(), 3000);
}

void TstInterface::authorisedWatchBringsTheWindowUp()
{
    window->close();
    QTRY_VERIFY(!window->isVisible());
    sim = std::make_unique<SimProcess>();
    sim->start({"--reconnect", "--clock", "2026-12-07T10:42:00", "--frozen-clock"});
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("qrc:///user/usr.qml"), 10000);
    QVERIFY(window->isVisible());
    QTRY_VERIFY(find("tr31Page"));
}

void TstInterface::menuPicksThePage()
{
    const QStringList files = {"General.qml",  "Battery.qml",    "Indication.qml", "DateTime.qml",
                               "Settings.qml", "Statistics.qml", "Service.qml"};
    // -1: no selection, no page.
    for (int i = -1; i < files.size(); ++i) {
        openPage(i);
        QCOMPARE(find("tr31Page")->property("source").toUrl().fileName(), files.value(i));
    }
}

// Real clicks and arrow keys on the loaded window: after each, one entry is highlighted, the
// one whose page is shown.
void TstInterface::menuHighlightsOnlyThePageShown()
{
    const QStringList files = {"General.qml",  "Battery.qml",    "Indication.qml", "DateTime.qml",
                               "Settings.qml", "Statistics.qml", "Service.qml"};
    QQuickItem *panel = loaded("leftPanel");
    const auto button = [&](int i) {
        return findItem(panel, "menu_" + files.at(i));
    };
    const auto highlighted = [&] {
        QStringList on;
        for (int i = 0; i < files.size(); ++i)
            if (button(i)->property("checked").toBool())
                on.append(files.at(i));
        return on;
    };
    // Clicks by menu index, then -1 for the arrow up and -2 for the arrow down.
    const QList<QPair<int, int>> steps = {{1, 1}, {0, 0},  {2, 2},  {2, 2}, {-2, 3}, {-2, 4},
                                          {6, 6}, {-2, 6}, {-1, 5}, {0, 0}, {-1, 0}, {5, 5}};
    for (const auto &step : steps) {
        if (step.first >= 0) {
            QQuickItem *target = button(step.first);
            const QPointF centre =
                target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
            QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        } else {
            QTest::keyClick(window, step.first == -1 ? Qt::Key_Up : Qt::Key_Down);
        }
        const QString shown = files.at(step.second);
        QTRY_COMPARE(find("tr31Page")->property("source").toUrl().fileName(), shown);
        QCOMPARE(highlighted(), QStringList{shown});
    }

    // The watch leaves and comes back: the new menu starts at the first page.
    sim.reset();
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("qrc:///user/Unplugged.qml"), 10000);
    sim = std::make_unique<SimProcess>();
    sim->start({"--reconnect", "--clock", "2026-12-07T10:42:00", "--frozen-clock"});
    QTRY_VERIFY_WITH_TIMEOUT(find("tr31Page"), 10000);
    panel = loaded("leftPanel");
    QTRY_COMPARE(find("tr31Page")->property("source").toUrl().fileName(), files.first());
    QCOMPARE(highlighted(), QStringList{files.first()});
}

// The program's folder is not the user's: the file goes to the user's data folder, and the
// window says where.
void TstInterface::savedParametersSayWhereTheyWent()
{
    QVERIFY(QMetaObject::invokeMethod(window, "saveAllParams"));
    QObject *note = find("savedNote");
    QVERIFY(note->property("visible").toBool());
    const QString path =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/properties.bsp";
    QVERIFY(path.startsWith(box.path("home/")));
    QCOMPARE(note->property("text").toString(), "Parameters saved to\n" + path);
    QVERIFY(QFileInfo(path).size() > 0);
    note->setProperty("visible", false);
}

// One element of a page: a value the watch holds shows as the text; then the user's action
// writes the value (the tree writes only what differs from the watch).
static const struct Element
{
    const char *tag;
    int menu;
    const char *item, *parameter;
    int held;
    const char *property, *shown, *action;
    int argument;
    const char *written;
} kElements[] = {
    {"backlight", 2, "backlightBox", "indicBackType", 5, "currentText", "GREEN", "pick", 4, "3"},
    {"day duration", 2, "duration_indicDuration_dd_ms", "indicDuration_dd_ms", 4000, "currentText",
     "4.000", "pick", 0, "300"},
    {"effect", 2, "effectBox", "indicEffect", 1, "currentText", "FLASH", "pick", 0, "0"},
    {"second click", 4, "click_eventButtonPress2", "eventButtonPress2", 3, "currentText",
     "BATTERY %", "pick", 0, "1"},
    {"schedule", 4, "scheduleBox", "automaticSwitchMode", 5, "currentText", "EVERY 1 HOUR", "pick",
     0, "0"},
    {"24 hours wraps to 12", 3, "timeFormatButton", "timeFormat", 1, "currentText", "24 HOURS",
     "advance", -1, "0"},
    {"charge wraps to disabled", 4, "cycle_accelMode", "accelMode", 4, "currentText", "CHARGE",
     "advance", -1, "0"},
    {"low to medium", 4, "cycle_accelerometerSensitivity", "accelerometerSensitivity", 0,
     "currentText", "LOW", "advance", -1, "1"},
    {"brightness", 2, "brightnessSlider", "indicBrightness", 20, "value", "20", "setValue", 40,
     "40"},
    {"battery capped at 99", 0, "batteryTube", "batteryLevel", 100, "shown", "99", nullptr, 0,
     nullptr},
    {"lamps dim with brightness", 2, "lampDigit", "indicBrightness", 40, "opacity", "0.65", nullptr,
     0, nullptr},
};

// Every control and every shown value of the seven pages, by page and object name: a control
// names the parameter it reads and writes; a shown value is the simulated watch's value of its
// parameter (all of them differ), as the page formats it.
static const struct Control
{
    int menu;
    const char *item, *parameter, *shown;
} kControls[] = {
    {0, "predictedWTIndic", "predictedWTIndic", "95"},
    {0, "predictedWTStby", "predictedWTStby", "336"},
    {0, "indicSwitchCount", "indicSwitchCount", "1873"},
    {0, "indicWorkTime", "indicWorkTime", "877"},
    {1, "predictedWTIndic", "predictedWTIndic", "95"},
    {1, "predictedWTStby", "predictedWTStby", "336"},
    {1, "lastChargeDaysAgo", "lastChargeDaysAgo", "3"},
    {1, "lastChargeLevel", "lastChargeLevel", "100"},
    {1, "batteryVoltage", "batteryVoltage", "3.99"},
    {1, "batteryChargeCycles", "batteryChargeCycles", "42"},
    {2, "brightnessSlider", "indicBrightness", nullptr},
    {2, "indicCurrent", "indicCurrent", "2.5"},
    {2, "backlightBox", "indicBackType", nullptr},
    {2, "duration_indicDuration_hhms", "indicDuration_hhms", nullptr},
    {2, "duration_indicDuration_mminute_ms", "indicDuration_mminute_ms", nullptr},
    {2, "duration_indicDuration_dd_ms", "indicDuration_dd_ms", nullptr},
    {2, "duration_indicDuration_mmonth_ms", "indicDuration_mmonth_ms", nullptr},
    {2, "duration_indicDurationChargems", "indicDurationChargems", nullptr},
    {2, "effectBox", "indicEffect", nullptr},
    {3, "duration_0", "indicDuration_hhms", nullptr},
    {3, "duration_1", "indicDuration_mminute_ms", nullptr},
    {3, "syncButton", "syncFlag", nullptr},
    {3, "timeFormatButton", "timeFormat", nullptr},
    {4, "click_eventButtonPress1", "eventButtonPress1", nullptr},
    {4, "click_eventButtonPress2", "eventButtonPress2", nullptr},
    {4, "click_eventButtonPress3", "eventButtonPress3", nullptr},
    {4, "scheduleBox", "automaticSwitchMode", nullptr},
    {4, "cycle_accelMode", "accelMode", nullptr},
    {4, "cycle_accelerometerSensitivity", "accelerometerSensitivity", nullptr},
    {4, "cycle_personalization", "personalization", nullptr},
    {5, "stat_indicSwitchCount", "indicSwitchCount", "1873"},
    {5, "stat_indicWorkTime", "indicWorkTime", "877"},
    {5, "stat_batteryChargeCycles", "batteryChargeCycles", "42"},
    {5, "stat_button1ClickCount", "button1ClickCount", "2311"},
    {5, "stat_startOfUseDaysAgo", "startOfUseDaysAgo", "90"},
};

static QString controlLine(int menu, const QString &item, const QString &parameter,
                           const QVariant &shown)
{
    return shown.isValid() ? QStringLiteral("%1 %2 shows %3").arg(menu).arg(item, shown.toString())
                           : QStringLiteral("%1 %2=%3").arg(menu).arg(item, parameter);
}

// Every named control and shown value of a page, walking the visual tree so that repeated
// delegates count too; the two animated tubes are checked by the element and tube tests.
static void collectControls(QQuickItem *item, int menu, QStringList &out)
{
    if (!item)
        return;
    const QVariant parameter = item->property("paramName");
    const QVariant shown = item->property("value");
    const QString name = item->objectName();
    if (!name.isEmpty() && name != "batteryTube" && name != "timeTube" &&
        (parameter.isValid() || shown.isValid()))
        out << controlLine(menu, item->objectName(), parameter.toString(),
                           parameter.isValid() ? QVariant() : shown);
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        collectControls(child, menu, out);
}

void TstInterface::everyControlNamesItsParameter()
{
    for (int menu = 0; menu < 7; ++menu) {
        QStringList expected;
        for (const Control &c : kControls)
            if (c.menu == menu)
                expected << controlLine(c.menu, c.item, c.parameter,
                                        c.shown ? QVariant(c.shown) : QVariant());
        expected.sort();
        openPage(menu);
        const auto shown = [&] {
            QStringList out;
            collectControls(loaded("tr31Page"), menu, out);
            out.sort();
            return out;
        };
        QTRY_COMPARE(shown(), expected);
    }
}

void TstInterface::elementsShowAndWrite_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kElements)); ++i)
        QTest::newRow(kElements[i].tag) << i;
}

void TstInterface::elementsShowAndWrite()
{
    QFETCH(int, row);
    const Element &e = kElements[row];
    openPage(e.menu);
    setParameter(e.parameter, e.held);
    QObject *item = pageItem(e.item);
    QVERIFY(item);
    QTRY_COMPARE(item->property(e.property).toString(), QString(e.shown));
    if (!e.action) {
        // A shown value is where an animation ends, not one it passes on its way.
        QTest::qWait(1200);
        QCOMPARE(item->property(e.property).toString(), QString(e.shown));
        return;
    }
    sim->events.clear();
    QVERIFY(e.argument < 0
                ? QMetaObject::invokeMethod(item, e.action)
                : QMetaObject::invokeMethod(item, e.action, Q_ARG(QVariant, e.argument)));
    QVERIFY(sawEvent(QStringLiteral(" name=%1 value=%2$").arg(e.parameter, e.written)));
}

void TstInterface::lampsFollowSliderAndBacklight()
{
    openPage(2);
    const auto backlight = [this](const char *lamp) {
        return pageItem(lamp)->property("backlightImage").toString();
    };
    // The backlight pictures follow the combo box, also the entry hovered in its open list.
    QQuickItem *box = pageItem("backlightBox");
    QMetaObject::invokeMethod(box, "pick", Q_ARG(QVariant, 1));
    QTRY_COMPARE(backlight("lamp6"), QStringLiteral("led_r.png"));
    box->setProperty("popupVisible", true);
    // The open list lays its entries out on the next frame.
    QQuickItem *green = nullptr;
    QTRY_VERIFY((green = findItem(box, QStringLiteral("entry_3"))) && green->isVisible() &&
                green->height() > 0);
    QTest::mouseMove(window, green->mapToScene(QPointF(10, 10)).toPoint());
    QTRY_COMPARE(backlight("lamp1"), QStringLiteral("led_g.png"));
    // Closing the list without a pick shows the watch's own backlight again.
    box->setProperty("popupVisible", false);
    QTRY_COMPARE(backlight("lamp1"), QStringLiteral("led_r.png"));
}

void TstInterface::timeArrowsWriteCommandsAndHideWhileSyncing()
{
    setParameter("syncFlag", false);
    QQuickItem *page = openPage(3);
    QTRY_COMPARE(pageItem("timeTube")->property("shown").toString(), QStringLiteral("10"));
    auto *arrows = pageItem("unitsArrows");
    QTRY_VERIFY(arrows->isVisible());
    QMetaObject::invokeMethod(pageItem("unitsUp"), "clicked");
    QVERIFY(sawEvent(QStringLiteral("^timecmd action=%1 ").arg(SlAppLogic::INCREMENT_HOUR_UNITS)));
    page->setProperty("mode", 1);
    page->setProperty("part", 1);
    QCOMPARE(pageItem("timeTube")->property("shown").toString(), QStringLiteral("07"));
    QMetaObject::invokeMethod(pageItem("tensDown"), "clicked");
    QVERIFY(sawEvent(QStringLiteral("^timecmd action=%1 ").arg(SlAppLogic::DECREMENT_DAY_TENS)));

    setParameter("syncFlag", true);
    QTRY_VERIFY(!arrows->isVisible());
    QVERIFY(!pageItem("tensArrows")->isVisible());
    setParameter("syncFlag", false);
}

void TstInterface::customizeCancelPutsBackAllFive()
{
    const QList<QByteArray> fields = {"indicBack_hh", "indicBack_mminute", "indicBack_dd",
                                      "indicBack_mmonth", "indicBackBatChg"};
    for (int i = 0; i < fields.size(); ++i)
        setParameter(fields.at(i), i % 5);
    openPage(2);
    setParameter("indicBackType", 0);
    QObject *customize = pageItem("customizeButton");
    QTRY_VERIFY(customize->property("enabled").toBool());
    QMetaObject::invokeMethod(customize, "clicked");
    QTRY_VERIFY(pageItem("field_indicBack_hh"));

    QMetaObject::invokeMethod(pageItem("field_indicBack_hh"), "pick", Q_ARG(QVariant, 2));
    QMetaObject::invokeMethod(pageItem("field_indicBack_dd"), "pick", Q_ARG(QVariant, 4));
    QVERIFY(sawEvent("name=indicBack_dd value=3$"));
    sim->events.clear();
    QMetaObject::invokeMethod(pageItem("cancelButton"), "clicked");
    // The tree sends only what differs from the watch: the two changed fields go back.
    QVERIFY(sawEvent("name=indicBack_hh value=0$"));
    QVERIFY(sawEvent("name=indicBack_dd value=2$"));
    for (int i = 0; i < fields.size(); ++i)
        QTRY_COMPARE(logic->device()->findProperty(fields.at(i))->value().toInt(), i % 5);
    QTRY_COMPARE(find("tr31Page")->property("source").toUrl().fileName(),
                 QStringLiteral("Indication.qml"));
}

void TstInterface::resetToDefaults()
{
    openPage(6);
    QCOMPARE(pageItem("serviceSerial")->property("text").toString(),
             logic->device()->serial().toUpper());
    QMetaObject::invokeMethod(pageItem("resetButton"), "clicked");
    QVERIFY(sawEvent(QStringLiteral("^factory-reset")));
}

void TstInterface::missingParameterShowsAndWritesNothing()
{
    std::unique_ptr<QObject> item =
        create("import \"qrc:///basic\"\n"
               "Item {\n"
               "  ListButton { objectName: \"cycle\";\n"
               "    paramName: \"noSuch\";\n"
               "    entries: [{\"name\": \"A\", \"value\": 0}] }\n"
               "  MySimpleComboBoxModelBased { objectName: \"box\";\n"
               "    paramName: \"noSuch\";\n"
               "    entries: [{\"name\": \"A\", \"value\": 0}] }\n"
               "  MySlider { objectName: \"slider\"; paramName: \"noSuch\" }\n"
               "}\n");
    QVERIFY(item);
    sim->events.clear();
    auto *cycle = item->findChild<QObject *>("cycle");
    auto *box = item->findChild<QObject *>("box");
    QCOMPARE(cycle->property("currentText").toString(), QString());
    QCOMPARE(box->property("currentText").toString(), QString());
    QMetaObject::invokeMethod(cycle, "advance");
    QMetaObject::invokeMethod(box, "pick", Q_ARG(QVariant, 0));
    QMetaObject::invokeMethod(item->findChild<QObject *>("slider"), "setValue",
                              Q_ARG(QVariant, 50));
    QTest::qWait(300);
    QCOMPARE(sim->events.filter(QStringLiteral("write")), QStringList());
}

void TstInterface::tubeNumberPadsAndScrolls()
{
    std::unique_ptr<QObject> tube = create("import \"qrc:///devices/tr31/usr/images/digits\"\n"
                                           "Tr31 { places: 3; value: 7 }\n");
    QVERIFY(tube);
    QCOMPARE(tube->property("shown").toString(), QStringLiteral("007"));

    // Longer than its places: the window moves one place a second and wraps round.
    tube->setProperty("value", 12345);
    QCOMPARE(tube->property("shown").toString(), QStringLiteral("123"));
    QTRY_COMPARE_WITH_TIMEOUT(tube->property("shown").toString(), QStringLiteral("234"), 1500);
    QTRY_COMPARE_WITH_TIMEOUT(tube->property("shown").toString(), QStringLiteral("451"), 3500);
    // A new value starts from its first digits.
    tube->setProperty("value", 98765);
    QCOMPARE(tube->property("shown").toString(), QStringLiteral("987"));
    tube->setProperty("value", 42);
    QCOMPARE(tube->property("shown").toString(), QStringLiteral("042"));
}

QTEST_MAIN(TstInterface)
#include "tst_interface.moc"
