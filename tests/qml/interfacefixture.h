#pragma once

#include "../app/processfixture.h"
#include "../gadget-sim/simprocess.h"
#include "../gadget/fragmentpeer.h"

#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/typeregistry.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

// The interface as the program starts it: the real hub, the real resources and the real
// engine, with the QML warnings of the run collected so that a test can fail on them.
class InterfaceFixture
{
public:
    InterfaceFixture()
    {
        box.useForThisProcess();
        // The updater's and the uploads' requests are refused at once.
        qputenv("CORVANE_SERVICE_ORIGIN", "https://127.0.0.1:1");
        qputenv("QT_QUICK_BACKEND", "software");
        s_warnings = &warnings;
        s_previous = qInstallMessageHandler(&InterfaceFixture::collect);
        registerInterfaceTypes();
    }

    ~InterfaceFixture()
    {
        sim.reset();
        engine.reset();
        qInstallMessageHandler(s_previous);
        s_warnings = nullptr;
    }

    bool load()
    {
        // Another run's hub may still hold the gadget port for a moment.
        if (!FragmentPeer::waitForFreePort(SlIODeviceServer::TcpPort))
            return false;
        engine = std::make_unique<QQmlApplicationEngine>();
        logic = new SlAppLogic(engine.get());
        engine->rootContext()->setContextProperty(QStringLiteral("AppLogic"), logic);
        engine->rootContext()->setContextProperty(QStringLiteral("Helper"),
                                                  new SlHelper(engine.get()));
        engine->load(QUrl(QStringLiteral("qrc:///user/main.qml")));
        window = engine->rootObjects().isEmpty()
                     ? nullptr
                     : qobject_cast<QQuickWindow *>(engine->rootObjects().first());
        return window != nullptr;
    }

    QObject *find(const char *name) const { return window->findChild<QObject *>(name); }

    // Items made by a Repeater or put into another file's content have no object parent of
    // their own: they are found through the item tree.
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

    QString page() const { return find("pageSwitcher")->property("source").toUrl().toString(); }

    // A simulated TR-31 watch dialling the program's gadget port.
    bool connectWatch(const QStringList &arguments = {})
    {
        sim = std::make_unique<SimProcess>();
        sim->start(arguments);
        return sim->waitForEvent(QStringLiteral("connected"), 10000) >= 0;
    }

    ProgramSandbox box;
    std::unique_ptr<QQmlApplicationEngine> engine;
    SlAppLogic *logic = nullptr;
    QQuickWindow *window = nullptr;
    std::unique_ptr<SimProcess> sim;
    QStringList warnings;

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        // The engine names the file of every warning it gives about the interface.
        if (s_warnings && type >= QtWarningMsg &&
            (text.contains(QLatin1String("qrc:/")) || text.contains(QLatin1String("file:/"))))
            s_warnings->append(text);
        if (s_previous)
            s_previous(type, context, text);
    }

    static inline QStringList *s_warnings = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};
