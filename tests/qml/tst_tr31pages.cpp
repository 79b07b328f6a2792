#include "interfacefixture.h"

#include "model/ggadget.h"
#include "model/slproperty.h"

#include <QQmlComponent>

// The TR-31 pages against the simulated watch: what each element shows, and what reaches the
// watch when the user changes it.
class TstTr31Pages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void menuPicksThePage_data();
    void menuPicksThePage();
    void comboBoxesShowAndWrite_data();
    void comboBoxesShowAndWrite();
    void cyclingButtonsWrap_data();
    void cyclingButtonsWrap();
    void sliderWritesAndLampsFollow();
    void batteryTubeCapsAt99();
    void timeArrowsWriteCommandsAndHideWhileSyncing();
    void customizeCancelPutsBackAllFive();
    void resetToDefaults();
    void missingParameterShowsAndWritesNothing();
    void tubeNumberPadsAndScrolls();

private:
    QQuickItem *openPage(int menuIndex);
    QObject *pageItem(const char *name);
    void setParameter(const char *name, const QVariant &value);
    // Waits for the watch to report a write of the parameter with this value.
    bool waitForWrite(const QString &name, const QString &value);
    // Waits for an event of the watch that starts with the text.
    bool waitForEvent(const QString &start);

    std::unique_ptr<InterfaceFixture> ui;
};

void TstTr31Pages::initTestCase()
{
    ui = std::make_unique<InterfaceFixture>();
    QVERIFY(ui->load());
    QVERIFY(ui->connectWatch({QStringLiteral("--clock"), QStringLiteral("2026-12-07T10:42:00"),
                              QStringLiteral("--frozen-clock")}));
    QTRY_COMPARE_WITH_TIMEOUT(ui->page(), QStringLiteral("qrc:///user/usr.qml"), 10000);
    QTRY_VERIFY(ui->find("tr31Page"));
}

void TstTr31Pages::cleanupTestCase()
{
    const QStringList warnings = ui->warnings;
    ui.reset();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

QQuickItem *TstTr31Pages::openPage(int menuIndex)
{
    QObject *panel = ui->find("leftPanel")->property("item").value<QObject *>();
    panel->setProperty("currentIndex", menuIndex);
    return ui->find("tr31Page")->property("item").value<QQuickItem *>();
}

QObject *TstTr31Pages::pageItem(const char *name)
{
    return InterfaceFixture::findItem(ui->find("tr31Page")->property("item").value<QQuickItem *>(),
                                      QString::fromLatin1(name));
}

// Writes the parameter as a page would and waits until the tree holds the value.
void TstTr31Pages::setParameter(const char *name, const QVariant &value)
{
    SlProperty *node = ui->logic->device()->findProperty(QString::fromLatin1(name));
    QVERIFY2(node, name);
    node->setValue(value);
    QTRY_COMPARE(node->value(), value);
}

bool TstTr31Pages::waitForWrite(const QString &name, const QString &value)
{
    const QString wanted = QStringLiteral("name=%1 value=%2").arg(name, value);
    QElapsedTimer timer;
    timer.start();
    do {
        for (const QString &line : qAsConst(ui->sim->events))
            if (line.endsWith(wanted))
                return true;
        QTest::qWait(20);
    } while (timer.elapsed() < 5000);
    qWarning() << "no write" << wanted << "among" << ui->sim->events.filter("write");
    return false;
}

bool TstTr31Pages::waitForEvent(const QString &start)
{
    return ui->sim->waitForEvent(start, 5000) >= 0;
}

void TstTr31Pages::menuPicksThePage_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("file");
    const QStringList files = {"General.qml",  "Battery.qml",    "Indication.qml", "DateTime.qml",
                               "Settings.qml", "Statistics.qml", "Service.qml"};
    for (int i = 0; i < files.size(); ++i)
        QTest::newRow(qPrintable(files.at(i))) << i << files.at(i);
    QTest::newRow("no selection") << -1 << QString();
}

void TstTr31Pages::menuPicksThePage()
{
    QFETCH(int, index);
    QFETCH(QString, file);
    openPage(index);
    QCOMPARE(ui->find("tr31Page")->property("source").toUrl().fileName(), file);
}

void TstTr31Pages::comboBoxesShowAndWrite_data()
{
    QTest::addColumn<int>("menu");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    QTest::newRow("backlight green") << 2 << "backlightBox"
                                     << "indicBackType" << 3 << "GREEN"
                                     << "5";
    QTest::newRow("day duration") << 2 << "duration_indicDuration_dd_ms"
                                  << "indicDuration_dd_ms" << 4 << "4.000"
                                  << "4000";
    QTest::newRow("switch-on effect") << 2 << "effectBox"
                                      << "indicEffect" << 1 << "FLASH"
                                      << "1";
    QTest::newRow("second click") << 4 << "click_eventButtonPress2"
                                  << "eventButtonPress2" << 2 << "BATTERY %"
                                  << "3";
    QTest::newRow("schedule") << 4 << "scheduleBox"
                              << "automaticSwitchMode" << 5 << "EVERY 1 HOUR"
                              << "5";
}

void TstTr31Pages::comboBoxesShowAndWrite()
{
    QFETCH(int, menu);
    QFETCH(QString, box);
    QFETCH(QString, parameter);
    QFETCH(int, entry);
    QFETCH(QString, text);
    QFETCH(QString, written);
    openPage(menu);
    QObject *combo = pageItem(qPrintable(box));
    QVERIFY(combo);
    QMetaObject::invokeMethod(combo, "pick", Q_ARG(QVariant, entry));
    QVERIFY(waitForWrite(parameter, written));
    QCOMPARE(combo->property("currentText").toString(), text);

    // A value from elsewhere (a job, another window) shows at once.
    setParameter(qPrintable(parameter),
                 combo->property("entries").toList().first().toMap().value("value"));
    QTRY_COMPARE(combo->property("currentIndex").toInt(), 0);
}

void TstTr31Pages::cyclingButtonsWrap_data()
{
    QTest::addColumn<int>("menu");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QVariant>("start");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("written");
    QTest::newRow("24 hours wraps to 12") << 3 << "timeFormatButton"
                                          << "timeFormat" << QVariant(1) << "24 HOURS"
                                          << "0";
    QTest::newRow("charge wraps to disabled") << 4 << "cycle_accelMode"
                                              << "accelMode" << QVariant(4) << "CHARGE"
                                              << "0";
    QTest::newRow("low to medium") << 4 << "cycle_accelerometerSensitivity"
                                   << "accelerometerSensitivity" << QVariant(0) << "LOW"
                                   << "1";
}

void TstTr31Pages::cyclingButtonsWrap()
{
    QFETCH(int, menu);
    QFETCH(QString, button);
    QFETCH(QString, parameter);
    QFETCH(QVariant, start);
    QFETCH(QString, shown);
    QFETCH(QString, written);
    openPage(menu);
    setParameter(qPrintable(parameter), start);
    QObject *cycle = pageItem(qPrintable(button));
    QVERIFY(cycle);
    QTRY_COMPARE(cycle->property("currentText").toString(), shown);
    ui->sim->events.clear();
    QMetaObject::invokeMethod(cycle, "advance");
    QVERIFY(waitForWrite(parameter, written));
}

void TstTr31Pages::sliderWritesAndLampsFollow()
{
    openPage(2);
    QObject *slider = pageItem("brightnessSlider");
    QMetaObject::invokeMethod(slider, "setValue", Q_ARG(QVariant, 40));
    QVERIFY(waitForWrite(QStringLiteral("indicBrightness"), QStringLiteral("40")));
    QCOMPARE(slider->property("value").toInt(), 40);
    QObject *digit =
        InterfaceFixture::findItem(qobject_cast<QQuickItem *>(pageItem("lamp1")), "lampDigit");
    QVERIFY(digit);
    QVERIFY(qAbs(digit->property("opacity").toDouble() - 0.65) < 1e-6);

    // The backlight pictures follow the combo box, also the entry hovered in its open list.
    QObject *box = pageItem("backlightBox");
    QMetaObject::invokeMethod(box, "pick", Q_ARG(QVariant, 1));
    QTRY_COMPARE(pageItem("lamp6")->property("backlightImage").toString(),
                 QStringLiteral("led_r.png"));
    box->setProperty("popupVisible", true);
    // The open list lays its entries out on the next frame.
    QQuickItem *green = nullptr;
    QTRY_VERIFY((green = InterfaceFixture::findItem(qobject_cast<QQuickItem *>(box),
                                                    QStringLiteral("entry_3"))) &&
                green->isVisible() && green->height() > 0);
    QTest::mouseMove(ui->window, green->mapToScene(QPointF(10, 10)).toPoint());
    QTRY_COMPARE(pageItem("lamp1")->property("backlightImage").toString(),
                 QStringLiteral("led_g.png"));
    // Closing the list without a pick shows the watch's own backlight again.
    box->setProperty("popupVisible", false);
    QTRY_COMPARE(pageItem("lamp1")->property("backlightImage").toString(),
                 QStringLiteral("led_r.png"));
}

void TstTr31Pages::batteryTubeCapsAt99()
{
    openPage(0);
    setParameter("batteryLevel", 100);
    QTRY_COMPARE(pageItem("batteryTube")->property("shown").toString(), QStringLiteral("99"));
    setParameter("batteryLevel", 7);
    QTRY_COMPARE(pageItem("batteryTube")->property("shown").toString(), QStringLiteral("07"));
}

void TstTr31Pages::timeArrowsWriteCommandsAndHideWhileSyncing()
{
    setParameter("syncFlag", false);
    QQuickItem *page = openPage(3);
    QTRY_COMPARE(pageItem("timeTube")->property("shown").toString(), QStringLiteral("10"));
    auto *arrows = qobject_cast<QQuickItem *>(pageItem("unitsArrows"));
    QTRY_VERIFY(arrows->isVisible());
    QMetaObject::invokeMethod(pageItem("unitsUp"), "clicked");
    QVERIFY(waitForEvent(
        QStringLiteral("timecmd action=%1 ").arg(int(SlAppLogic::INCREMENT_HOUR_UNITS))));
    page->setProperty("mode", 1);
    page->setProperty("part", 1);
    QCOMPARE(pageItem("timeTube")->property("shown").toString(), QStringLiteral("07"));
    QMetaObject::invokeMethod(pageItem("tensDown"), "clicked");
    QVERIFY(waitForEvent(
        QStringLiteral("timecmd action=%1 ").arg(int(SlAppLogic::DECREMENT_DAY_TENS))));

    setParameter("syncFlag", true);
    QTRY_VERIFY(!arrows->isVisible());
    QVERIFY(!qobject_cast<QQuickItem *>(pageItem("tensArrows"))->isVisible());
    setParameter("syncFlag", false);
}

void TstTr31Pages::customizeCancelPutsBackAllFive()
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
    QVERIFY(waitForWrite("indicBack_dd", "3"));
    ui->sim->events.clear();
    QMetaObject::invokeMethod(pageItem("cancelButton"), "clicked");
    // The tree sends only what differs from the watch: the two changed fields go back.
    QVERIFY(waitForWrite("indicBack_hh", "0"));
    QVERIFY(waitForWrite("indicBack_dd", "2"));
    for (int i = 0; i < fields.size(); ++i)
        QTRY_COMPARE(ui->logic->device()->findProperty(fields.at(i))->value().toInt(), i % 5);
    QTRY_COMPARE(ui->find("tr31Page")->property("source").toUrl().fileName(),
                 QStringLiteral("Indication.qml"));
}

void TstTr31Pages::resetToDefaults()
{
    openPage(6);
    QCOMPARE(pageItem("serviceSerial")->property("text").toString(),
             ui->logic->device()->serial().toUpper());
    QMetaObject::invokeMethod(pageItem("resetButton"), "clicked");
    QVERIFY(waitForEvent(QStringLiteral("factory-reset")));
}

void TstTr31Pages::missingParameterShowsAndWritesNothing()
{
    QQmlComponent component(ui->engine.get());
    component.setData(
        QByteArrayLiteral(
            "import QtQuick 2.15\n"
            "import \"qrc:///basic\"\n"
            "Item {\n"
            "  property alias cycle: cycle\n"
            "  property alias box: box\n"
            "  property alias slider: slider\n"
            "  ListButton { id: cycle; paramName: \"noSuchParameter\";\n"
            "    entries: [{\"name\": \"A\", \"value\": 0}] }\n"
            "  MySimpleComboBoxModelBased { id: box; paramName: \"noSuchParameter\";\n"
            "    entries: [{\"name\": \"A\", \"value\": 0}] }\n"
            "  MySlider { id: slider; paramName: \"noSuchParameter\" }\n"
            "}\n"),
        QUrl(QStringLiteral("qrc:///tests/missing.qml")));
    std::unique_ptr<QObject> item(component.create());
    QVERIFY2(item, qPrintable(component.errorString()));
    ui->sim->events.clear();
    auto *cycle = item->property("cycle").value<QObject *>();
    auto *box = item->property("box").value<QObject *>();
    QCOMPARE(cycle->property("currentText").toString(), QString());
    QCOMPARE(box->property("currentText").toString(), QString());
    QMetaObject::invokeMethod(cycle, "advance");
    QMetaObject::invokeMethod(box, "pick", Q_ARG(QVariant, 0));
    QMetaObject::invokeMethod(item->property("slider").value<QObject *>(), "setValue",
                              Q_ARG(QVariant, 50));
    QTest::qWait(300);
    QCOMPARE(ui->sim->events.filter(QStringLiteral("write")), QStringList());
}

void TstTr31Pages::tubeNumberPadsAndScrolls()
{
    QQmlComponent component(ui->engine.get());
    component.setData("import QtQuick 2.15\nimport \"qrc:///devices/tr31/usr/images/digits\"\n"
                      "Tr31 { places: 3; value: 7 }\n",
                      QUrl(QStringLiteral("qrc:///tests/tube.qml")));
    std::unique_ptr<QObject> tube(component.create());
    QVERIFY2(tube, qPrintable(component.errorString()));
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

QTEST_MAIN(TstTr31Pages)
#include "tst_tr31pages.moc"
