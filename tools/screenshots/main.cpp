// Renders every page of the interface to PNG files for review: the full-window pages, the
// update page in each updater state, and the TR-31 pages with the simulated watch connected.
//   screenshots <folder>
#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/typeregistry.h"
#include "update/slappupdaterclient.h"

#include "device/sliodeviceserver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

// Runs the event loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class Shooter
{
public:
    Shooter(QQuickWindow *window, const QString &folder)
        : m_window(window)
        , m_folder(folder)
    {}

    bool shoot(const QString &name)
    {
        // Animations (progress bars, tube numbers) run their course first.
        settle(1300);
        const QString file = QDir(m_folder).filePath(name + QStringLiteral(".png"));
        if (!m_window->grabWindow().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return false;
        }
        std::printf("%s\n", qPrintable(file));
        return true;
    }

private:
    QQuickWindow *m_window;
    QString m_folder;
};

QQuickItem *findItem(QQuickItem *item, const char *name)
{
    if (!item || item->objectName() == QLatin1String(name))
        return item;
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *c : children)
        if (QQuickItem *found = findItem(c, name))
            return found;
    return nullptr;
}

QObject *child(QObject *root, const char *name)
{
    return root->findChild<QObject *>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char *argv[])
{
    // Nothing of the user's own: private folders, and no real service.
    QTemporaryDir home;
    for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, home.path().toLocal8Bit());
    qputenv("CORVANE_SERVICE_ORIGIN", "https://127.0.0.1:1");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", qPrintable(args.value(0)));
        return 2;
    }
    const QString folder = args.at(1);
    QDir().mkpath(folder);

    // A running Corvane holds the gadget port and would take the simulated watch.
    const bool portFree = waitFor(
        [] {
            QTcpServer probe;
            return probe.listen(QHostAddress::LocalHost, SlIODeviceServer::TcpPort);
        },
        60000);
    if (!portFree) {
        std::fprintf(stderr, "port %d is taken: quit Corvane first\n", SlIODeviceServer::TcpPort);
        return 1;
    }

    registerInterfaceTypes();
    QQmlApplicationEngine engine;
    auto *logic = new SlAppLogic(&engine);
    engine.rootContext()->setContextProperty(QStringLiteral("AppLogic"), logic);
    engine.rootContext()->setContextProperty(QStringLiteral("Helper"), new SlHelper(&engine));
    engine.load(QUrl(QStringLiteral("qrc:///user/main.qml")));
    auto *window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    if (!window)
        return 1;
    QObject *pages = child(window, "pageSwitcher");
    Shooter shooter(window, folder);
    bool ok = shooter.shoot(QStringLiteral("01-unplugged"));
    // The hint for a watch the user may not open, shown as when the hub reports it.
    if (QQuickItem *hint = findItem(pages->property("item").value<QQuickItem *>(), "accessHint")) {
        hint->setVisible(true);
        ok = shooter.shoot(QStringLiteral("01b-unplugged-no-permission")) && ok;
        hint->setVisible(false);
    }

    logic->setIsUpdated(true);
    ok = shooter.shoot(QStringLiteral("02-update-complete")) && ok;
    logic->setIsUpdated(false);

    // The update page in each state, with a stand-in updater so no server is needed.
    QQmlComponent fake(&engine);
    fake.setData("import QtQuick 2.15\nQtObject { property int state; property string version: "
                 "\"1.4.0\"; property real progress: 40; function userAction(a) {} }\n",
                 QUrl(QStringLiteral("qrc:///tools/updater.qml")));
    QObject *updater = fake.create();
    const QList<QPair<int, QString>> states = {
        {SlAppUpdaterClient::UpdateAvailable, QStringLiteral("03-update-available")},
        {SlAppUpdaterClient::Downloading, QStringLiteral("04-update-downloading")},
        {SlAppUpdaterClient::Error, QStringLiteral("05-update-error")},
        {SlAppUpdaterClient::DownloadFinished, QStringLiteral("06-update-finished")}};
    for (const auto &state : states) {
        pages->setProperty("source", QUrl(QStringLiteral("qrc:///user/UpdateProgressPage.qml")));
        auto *page = pages->property("item").value<QObject *>();
        updater->setProperty("state", state.first);
        page->setProperty("updater", QVariant::fromValue(updater));
        ok = shooter.shoot(state.second) && ok;
    }
    pages->setProperty("source", QUrl(QStringLiteral("qrc:///user/FirmwareUpdatePage.qml")));
    ok = shooter.shoot(QStringLiteral("07-firmware-offer")) && ok;
    pages->setProperty("source", QUrl(QStringLiteral("qrc:///user/Unplugged.qml")));

    // The watch: the simulator beside this program.
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/gadget-sim"),
              {QStringLiteral("--reconnect"), QStringLiteral("--clock"),
               QStringLiteral("2026-12-07T10:42:00"), QStringLiteral("--frozen-clock")});
    const bool connected = waitFor([&] {
        return pages->property("source").toUrl().toString() ==
                   QLatin1String("qrc:///user/usr.qml") &&
               child(window, "tr31Page");
    });
    if (!connected) {
        std::fprintf(stderr, "the simulated watch did not connect\n");
        return 1;
    }
    const QStringList names = {"general",  "battery",    "indication", "time-and-date",
                               "settings", "statistics", "service"};
    QObject *panel = child(window, "leftPanel")->property("item").value<QObject *>();
    for (int i = 0; i < names.size(); ++i) {
        panel->setProperty("currentIndex", i);
        ok = shooter.shoot(QStringLiteral("%1-%2").arg(10 + i).arg(names.at(i))) && ok;
    }
    // The customize page opens from the indication page.
    panel->setProperty("currentIndex", 2);
    auto *container = child(window, "tr31Page")->parent();
    QMetaObject::invokeMethod(container, "openOverlay", Q_ARG(QVariant, "Customize.qml"));
    ok = shooter.shoot(QStringLiteral("17-customize")) && ok;

    sim.kill();
    sim.waitForFinished();
    return ok ? 0 : 1;
}
