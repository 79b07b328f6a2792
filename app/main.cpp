#include "app/appinfo.h"
#include "app/endpoints.h"
#include "app/loghandler.h"
#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/slqtapponeinstance.h"
#include "app/taskbarutility.h"
#include "app/typeregistry.h"
#include "platform/platform.h"
#include "storage/slwatchsettings.h"
#include "update/slappupdaterclient.h"
#include "web/slwebservice.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStandardPaths>

#include <limits>
#include <memory>

namespace {
const char kApplicationId[] = "5b0c7e2a-9f41-4d8e-a3c6-1e7f20b94d5c";

// Without a working OpenGL (a virtual machine without 3D, a remote session, the offscreen
// platform) the scene graph would end the program at its first frame; it draws in software
// there instead. An explicit choice of backend is left alone.
void chooseSceneGraphBackend()
{
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") ||
        qEnvironmentVariableIsSet("QMLSCENE_DEVICE"))
        return;
    QOpenGLContext probe;
    if (probe.create())
        return;
    qDebug() << "No OpenGL here: the interface is drawn in software";
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
}
} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // The first lines of a run come before the options say where logs go.
    LogHandler::beginBuffering();
    // Qt 5's bearer management would wake every 10 s to poll the network interfaces for
    // QNetworkAccessManager's online state, which nothing here reads; idle, it was the
    // program's only wake-up. A value the user set stays.
    if (!qEnvironmentVariableIsSet("QT_BEARER_POLL_TIMEOUT"))
        qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));

    QApplication app(argc, argv);
    auto engine = std::make_unique<QQmlApplicationEngine>();
    Platform::quitOnTerminationRequest();

    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(Endpoints::serviceHostName());
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));

    const QString cfgDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    qDebug().noquote() << "cfgDir is" << cfgDir;
    QDir().mkpath(cfgDir);

    QCommandLineParser parser;
    const QCommandLineOption serviceOption(QStringLiteral("service"),
                                           QStringLiteral("Run application in service mode"));
    const QCommandLineOption hiddenOption(QStringLiteral("hidden"),
                                          QStringLiteral("Run application in hidden mode"));
    const QCommandLineOption debugFileOption(
        QStringLiteral("debug-file"), QStringLiteral("Write logs to specified file"),
        QStringLiteral("debug-file"), QStringLiteral("debug.log"));
    parser.addOption(serviceOption);
    parser.addOption(hiddenOption);
    parser.addOption(debugFileOption);
    parser.process(app);

    AppInfo::setServiceMode(parser.isSet(serviceOption));
    int logMode = LogHandler::DefaultOutput;
    if (parser.isSet(debugFileOption)) {
        AppInfo::setLogFileName(parser.value(debugFileOption));
        logMode = LogHandler::AppendToFile;
    }

    if (!AppInfo::isServiceMode())
        app.setQuitOnLastWindowClosed(false);

    // Relative file names (the log, property files) resolve against the
    // program's own folder, wherever it was started from.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    LogHandler::installLogHandler(AppInfo::logFileName(), logMode);

    SlQtAppOneInstance guard(QString::fromLatin1(kApplicationId));
    if (!guard.tryToRun()) {
        qDebug() << "Application already running";
        return 0;
    }

    registerInterfaceTypes();

    auto *appLogic = new SlAppLogic(engine.get());
    // The interface makes its own updater; it reaches the service the hub talks to, with the
    // TLS settings the hub already read.
    SlAppUpdaterClient::setDefaultServiceOrigin(appLogic->webService()->serviceHost());
    SlAppUpdaterClient::setDefaultSslConfiguration(appLogic->webService()->sslConfiguration());
    auto *helper = new SlHelper(engine.get());
    engine->rootContext()->setContextProperty(QStringLiteral("AppLogic"), appLogic);
    engine->rootContext()->setContextProperty(QStringLiteral("Helper"), helper);

    SlWatchSettings *settings = appLogic->settings();
    if (settings->isFirstRun()) {
        // The program should come back after the next log-on, as it did after
        // installation; later runs leave the entry as the user set it.
        if (!TaskBarUtility::isAutorun()) {
            TaskBarUtility::setAutorun(true);
            emit appLogic->autorunChanged(true);
        }
        if (!settings->setFirstRun(false))
            qDebug() << "setFirstRun: cannot store the flag";
        qInfo() << "This is the first run of this application";
    }

    QObject::connect(&guard, &SlQtAppOneInstance::anotherInstanceWasOpen, appLogic,
                     &SlAppLogic::maximize);

    chooseSceneGraphBackend();
    engine->load(QUrl(QStringLiteral("qrc:///user/main.qml")));
    // How long a start takes until the user sees something (the interface benchmark reads it).
    if (auto *window = engine->rootObjects().isEmpty()
                           ? nullptr
                           : qobject_cast<QQuickWindow *>(engine->rootObjects().first())) {
        // Emitted on the render thread: more than one may be queued before the first arrives.
        struct Once
        {
            bool logged = false;
            QMetaObject::Connection connection;
        };
        auto once = std::make_shared<Once>();
        once->connection =
            QObject::connect(window, &QQuickWindow::frameSwapped, window, [once, sinceStart] {
                if (once->logged)
                    return;
                once->logged = true;
                QObject::disconnect(once->connection);
                qDebug("first frame after %lld ms", sinceStart.elapsed());
            });
    }

    return app.exec();
}
