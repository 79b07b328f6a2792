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
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStandardPaths>

#include <algorithm>
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

struct Options
{
    QCommandLineOption service{QStringLiteral("service"),
                               QStringLiteral("Run application in service mode")};
    QCommandLineOption hidden{QStringLiteral("hidden"),
                              QStringLiteral("Run application in hidden mode")};
    QCommandLineOption debugFile{QStringLiteral("debug-file"),
                                 QStringLiteral("Write logs to specified file"),
                                 QStringLiteral("debug-file"), QStringLiteral("debug.log")};

    explicit Options(QCommandLineParser &parser)
    {
        parser.setApplicationDescription(
            QStringLiteral("Companion for the TR-31 Nixie-tube watch"));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(service);
        parser.addOption(hidden);
        parser.addOption(debugFile);
    }
};

void setIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(Endpoints::serviceHostName());
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationVersion(AppInfo::currentVersionText());
}

// --help and --version answer on a terminal without a display, and create no folder.
void answerTextOnlyRequest(int &argc, char *argv[])
{
    const QByteArrayList textOnly = {"-h", "--help", "--help-all", "-v", "--version"};
    if (argc < 2 || std::none_of(argv + 1, argv + argc,
                                 [&](const char *arg) { return textOnly.contains(arg); }))
        return;
    QCoreApplication app(argc, argv);
    setIdentity();
    QCommandLineParser parser;
    const Options options(parser);
    // Exits, unless the flag was the value of another option.
    parser.process(app);
}

// The value of a long option read straight from the arguments, for use before the parser runs.
QString rawOptionValue(int argc, char *argv[], const char *name)
{
    const QByteArray option(name);
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == option && i + 1 < argc)
            return QString::fromLocal8Bit(argv[i + 1]);
        if (arg.startsWith(option + '='))
            return QString::fromLocal8Bit(arg.mid(option.size() + 1));
    }
    return {};
}
} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // The names come first: they place the user's files, also a log that a start ending before
    // its options are read must still reach.
    setIdentity();
    answerTextOnlyRequest(argc, argv);
    // The first lines of a run come before the options say where logs go.
    LogHandler::beginBuffering(AppInfo::userFilePath(rawOptionValue(argc, argv, "--debug-file")));
    // Qt 5's bearer management would wake every 10 s to poll the network interfaces for
    // QNetworkAccessManager's online state, which nothing here reads; idle, it was the
    // program's only wake-up. A value the user set stays.
    if (!qEnvironmentVariableIsSet("QT_BEARER_POLL_TIMEOUT"))
        qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));

    QApplication app(argc, argv);
    auto engine = std::make_unique<QQmlApplicationEngine>();
    Platform::quitOnTerminationRequest();

    const QString cfgDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    qDebug().noquote() << "cfgDir is" << cfgDir;
    QDir().mkpath(cfgDir);

    QCommandLineParser parser;
    const Options options(parser);
    parser.process(app);

    AppInfo::setServiceMode(parser.isSet(options.service));
    int logMode = LogHandler::DefaultOutput;
    if (parser.isSet(options.debugFile)) {
        AppInfo::setLogFileName(AppInfo::userFilePath(parser.value(options.debugFile)));
        logMode = LogHandler::AppendToFile;
    }

    if (!AppInfo::isServiceMode())
        app.setQuitOnLastWindowClosed(false);

    // A settings file of an old version is looked for in the program's own folder. Files the
    // program writes for the user go to the user's data folder (AppInfo::userFilePath).
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    LogHandler::installLogHandler(AppInfo::logFileName(), logMode);
    if (logMode == LogHandler::AppendToFile)
        qDebug().noquote() << "log file is" << AppInfo::logFileName();

    SlQtAppOneInstance guard(QString::fromLatin1(kApplicationId));
    if (!guard.tryToRun()) {
        if (guard.errorString().isEmpty()) {
            qDebug() << "Application already running";
            return 0;
        }
        qCritical().noquote() << "Cannot start:" << guard.errorString();
        return 1;
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
    const QUrl mainQml(QStringLiteral("qrc:///user/main.qml"));
    engine->load(mainQml);
    if (engine->rootObjects().isEmpty()) {
        // Without a window nothing would ever end this run, and it would keep the slot from
        // every later start.
        QQmlComponent probe(engine.get(), mainQml);
        const QString cause = probe.isError() ? probe.errorString().trimmed()
                                              : QStringLiteral("no window was created");
        qCritical().noquote() << "Cannot load the interface:" << cause;
        guard.release();
        return 1;
    }
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
