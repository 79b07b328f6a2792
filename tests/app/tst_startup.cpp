#include "processfixture.h"

#include <QRegularExpression>
#include <QScopedPointer>

#include <sys/stat.h>
#include <unistd.h>

// The real program started as a process. The format of the log lines is the log handler's
// test's; here the order of a run's first lines and the single-instance slot.
class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void init() { box.reset(new ProgramSandbox); }
    void singleInstanceLifeCycle();
    void refusedStartsInARow();
    void twoUsersEachRunTheirOwn();
    void brokenInterfaceEndsTheStart();
    void endBeforeTheOptionsReachesTheLog();
    void badCommandLine();
    void helpAndVersion_data();
    void helpAndVersion();
    void withoutLogFileNothingIsWritten();
    void relativeLogFileLandsInTheDataFolder();
    void startAtLogOnShowsNoWindow();

private:
    // Waits until the program has started listening that many times in all.
    bool waitForListening(int times)
    {
        return QTest::qWaitFor([&] { return box->logCount("localServer.listen true") == times; },
                               10000);
    }
    // A start while another run holds the slot ends at once, with success.
    void expectRefused()
    {
        QScopedPointer<QProcess> refused(box->startLogged());
        QVERIFY(refused->waitForFinished(10000));
        QCOMPARE(refused->exitStatus(), QProcess::NormalExit);
        QCOMPARE(refused->exitCode(), 0);
    }

    // A fresh sandbox for each test: its log counts start from nothing.
    QScopedPointer<ProgramSandbox> box;
};

void TstStartup::singleInstanceLifeCycle()
{
    const QString entry = box->path(QStringLiteral("config/autostart/com.corvane.watch.desktop"));
    QScopedPointer<QProcess> first(box->startLogged());
    QVERIFY(waitForListening(1));
    const QByteArray firstLine = box->readFile("run.log").split('\n').first();
    const QString expected =
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ Debug: cfgDir is %1\r$")
            .arg(QRegularExpression::escape(box->path(QStringLiteral("config/Corvane/Corvane"))));
    QVERIFY2(QRegularExpression(expected).match(QString::fromUtf8(firstLine)).hasMatch(),
             firstLine.constData());
    // The first run makes the autostart entry; its content is the platform test's.
    QVERIFY(box->waitForLog("Unknown: This is the first run of this application"));
    QVERIFY(QFile::exists(entry));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        expectRefused();
        QCOMPARE(box->logCount("Debug: Application already running"), attempt);
        // The running one is raised once per refused start.
        QTRY_COMPARE_WITH_TIMEOUT(
            box->logCount("Debug: Another instance was open. Maximize current instance window"),
            attempt, 5000);
    }
    QCOMPARE(first->state(), QProcess::Running);
    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(box->logCount("Debug: ~SlAppLogic SlAppLogic(0x"), 1);
    QVERIFY(QFile::exists(box->path(QStringLiteral("config/Corvane/Corvane/settings.sqlite"))));

    // The user switched autostart off: later starts leave it so. A killed run leaves the slot
    // to the next.
    QVERIFY(QFile::remove(entry));
    QScopedPointer<QProcess> second(box->startLogged());
    QVERIFY(waitForListening(2));
    second->kill();
    QVERIFY(second->waitForFinished(5000));
    QScopedPointer<QProcess> next(box->startLogged());
    QVERIFY(waitForListening(3));
    QTest::qWait(300);
    QCOMPARE(next->state(), QProcess::Running);
    QCOMPARE(box->logCount("Application already running"), 2);
    expectRefused();
    QCOMPARE(box->logCount("Application already running"), 3);
    ProgramSandbox::stop(next.data());
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(box->logCount("This is the first run"), 1);
}

// The running copy reads, answers and closes every knock: a long row of refused starts raises
// it every time.
void TstStartup::refusedStartsInARow()
{
    QScopedPointer<QProcess> first(box->startLogged());
    QVERIFY(waitForListening(1));
    const int starts = 100;
    for (int i = 0; i < starts; ++i)
        expectRefused();
    QTRY_COMPARE_WITH_TIMEOUT(box->logCount("Another instance was open"), starts, 5000);
    QCOMPARE(box->logCount("did not answer"), 0);
    ProgramSandbox::stop(first.data());
}

// Two users with one temporary folder and no runtime folder of their own each run their own
// program; only the first holds the gadget port, and the other says so once and runs on.
void TstStartup::twoUsersEachRunTheirOwn()
{
    if (::geteuid() != 0)
        QSKIP("starting a program as another user needs root");
    const uid_t other = 65534;
    const QString otherHome = box->path(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(otherHome));
    QCOMPARE(::chown(QFile::encodeName(otherHome).constData(), other, other), 0);
    QCOMPARE(::chmod(QFile::encodeName(box->path(QStringLiteral("tmp"))).constData(), 01777), 0);
    QCOMPARE(::chmod(QFile::encodeName(box->path(QString())).constData(), 0711), 0);

    QProcessEnvironment env = box->environment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    QProcessEnvironment otherEnv = env;
    otherEnv.insert(QStringLiteral("HOME"), otherHome);
    otherEnv.insert(QStringLiteral("XDG_CONFIG_HOME"), otherHome + QStringLiteral("/config"));
    const QString otherLog = otherHome + QStringLiteral("/run.log");
    const auto otherCount = [&](const QByteArray &text) {
        QFile file(otherLog);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count(text) : 0;
    };
    const QStringList asOther = {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                 QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
    QScopedPointer<QProcess> theirs(
        box->start({QStringLiteral("--debug-file"), otherLog}, otherEnv, asOther));
    QTRY_COMPARE_WITH_TIMEOUT(otherCount("localServer.listen true"), 1, 10000);

    const QStringList logged = {QStringLiteral("--debug-file"), box->path("run.log")};
    QScopedPointer<QProcess> mine(box->start(logged, env));
    QVERIFY(waitForListening(1));
    QVERIFY(box->waitForLog("Gadget port 6666 not available"));
    QScopedPointer<QProcess> again(box->start(logged, env));
    QVERIFY(again->waitForFinished(10000));
    QCOMPARE(again->exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(box->logCount("Another instance was open"), 1, 5000);

    QCOMPARE(mine->state(), QProcess::Running);
    QCOMPARE(theirs->state(), QProcess::Running);
    QCOMPARE(otherCount("Another instance was open"), 0);
    QCOMPARE(otherCount("Gadget port"), 0);
    QCOMPARE(box->logCount("Gadget port"), 1);
    ProgramSandbox::stop(mine.data());
    ProgramSandbox::stop(theirs.data());
    QCOMPARE(theirs->exitCode(), 0);
}

// An interface that cannot load ends the run with the cause on standard error and in the log,
// and leaves the slot to the next start.
void TstStartup::brokenInterfaceEndsTheStart()
{
    const QString module = box->path(QStringLiteral("qml/Qt/labs/platform"));
    QVERIFY(QDir().mkpath(module));
    QFile qmldir(module + QStringLiteral("/qmldir"));
    QVERIFY(qmldir.open(QIODevice::WriteOnly));
    qmldir.write("module Qt.labs.platform\nplugin gonemissing\n");
    qmldir.close();
    QProcessEnvironment env = box->environment();
    env.insert(QStringLiteral("QML2_IMPORT_PATH"), box->path(QStringLiteral("qml")));

    QScopedPointer<QProcess> broken(box->start({"--debug-file", box->path("run.log")}, env));
    QVERIFY(broken->waitForFinished(15000));
    QCOMPARE(broken->exitStatus(), QProcess::NormalExit);
    QVERIFY(broken->exitCode() != 0);
    const QByteArray err = broken->readAllStandardError();
    QVERIFY2(err.contains("Critical: Cannot load the interface:") && err.contains("gonemissing"),
             err.constData());
    QCOMPARE(box->logCount("Critical: Cannot load the interface:"), 1);

    QScopedPointer<QProcess> fixed(box->startLogged());
    QVERIFY(waitForListening(2));
    ProgramSandbox::stop(fixed.data());
}

// No platform to show a window on ends the start before the options are read: what led to the
// end and the end itself go to standard error and to the log named on the command line.
void TstStartup::endBeforeTheOptionsReachesTheLog()
{
    QProcessEnvironment env = box->environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("nosuchplatform"));
    QScopedPointer<QProcess> run(box->start({"--debug-file=early.log"}, env));
    QVERIFY(run->waitForFinished(10000));
    QCOMPARE(run->exitStatus(), QProcess::CrashExit);
    const QByteArray err = run->readAllStandardError();
    const QByteArray log = box->readFile("home/.local/share/Corvane/Corvane/early.log");
    for (const QByteArray &text :
         {QByteArray("Could not find the Qt platform plugin \"nosuchplatform\""),
          QByteArray("This application failed to start")}) {
        QVERIFY2(err.contains(text), err.constData());
        QVERIFY2(log.contains(text), log.constData());
    }
    QVERIFY2(log.contains("Fatal: This application failed to start"), log.constData());
}

// The parser's own messages.
void TstStartup::badCommandLine()
{
    const QList<QPair<QString, QByteArray>> rows = {
        {"--bogus", "Unknown option 'bogus'."},
        {"--debug-file", "Missing value after '--debug-file'."}};
    for (const auto &row : rows) {
        QScopedPointer<QProcess> run(box->start({row.first}));
        QVERIFY(run->waitForFinished(10000));
        QCOMPARE(run->exitStatus(), QProcess::NormalExit);
        QVERIFY(run->exitCode() != 0);
        const QByteArray err = run->readAllStandardError();
        QVERIFY2(err.contains(row.second), err.constData());
    }
}

void TstStartup::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("--help") << "--help" << QByteArray("--debug-file <debug-file>");
    QTest::newRow("-h") << "-h" << QByteArray("Run application in hidden mode");
    QTest::newRow("--version") << "--version" << QByteArray("Corvane " CORVANE_VERSION_STRING "\n");
}

// Asked on a terminal without a display: the text on standard output, success, no folder made.
void TstStartup::helpAndVersion()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, expected);
    const ProgramSandbox fresh;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), fresh.path(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), fresh.path(QStringLiteral("config")));
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(ProgramSandbox::program(), {option});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    const QByteArray out = run.readAllStandardOutput();
    QVERIFY2(out.contains(expected), out.constData());
    QVERIFY(!QFile::exists(fresh.path(QStringLiteral("config/Corvane"))));
}

void TstStartup::withoutLogFileNothingIsWritten()
{
    QScopedPointer<QProcess> run(box->start(QStringList()));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += run->readAllStandardError()).contains("cfgDir is"), 10000);
    ProgramSandbox::stop(run.data());
    QVERIFY(!QFile::exists(QStringLiteral(CORVANE_BIN_DIR "/debug.log")));
}

// After installing, the working directory is the program's folder, which the user cannot write.
void TstStartup::relativeLogFileLandsInTheDataFolder()
{
    const QString log = box->path(QStringLiteral("home/.local/share/Corvane/Corvane/rel.log"));
    QScopedPointer<QProcess> run(box->start({"--debug-file", "rel.log"}));
    QVERIFY(QTest::qWaitFor(
        [&] {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) &&
                   file.readAll().contains("Debug: log file is " + log.toUtf8() + "\r\n");
        },
        10000));
    ProgramSandbox::stop(run.data());
}

// Started at log-on the program waits in the notification area; started by hand it shows its
// window. A real X server and xdotool see the screen as the user does.
void TstStartup::startAtLogOnShowsNoWindow()
{
    QString display;
    for (int n = 80; n < 100 && display.isEmpty(); ++n)
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            display = QStringLiteral(":%1").arg(n);
    QVERIFY(!display.isEmpty());
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"});
    QVERIFY(xvfb.waitForStarted());
    QTRY_VERIFY(QFile::exists("/tmp/.X11-unix/X" + display.mid(1)));
    QProcessEnvironment screen;
    screen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    screen.insert(QStringLiteral("DISPLAY"), display);
    QProcessEnvironment env = box->environment();
    env.insert(screen);
    const auto windowShown = [&] {
        QProcess search;
        search.setProcessEnvironment(screen);
        search.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Corvane$"});
        search.waitForFinished(5000);
        return !search.readAllStandardOutput().trimmed().isEmpty();
    };
    for (const bool atLogOn : {false, true}) {
        QFile::remove(box->path(QStringLiteral("run.log")));
        QStringList arguments{"--debug-file", box->path(QStringLiteral("run.log"))};
        if (atLogOn)
            arguments << QStringLiteral("--hidden");
        QScopedPointer<QProcess> run(box->start(arguments, env));
        QVERIFY(box->waitForLog("localServer.listen"));
        if (atLogOn) {
            QTest::qWait(2000);
            QVERIFY2(!windowShown(), "a start at log-on showed the window");
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(windowShown(), 10000);
        }
        ProgramSandbox::stop(run.data());
    }
    xvfb.terminate();
    QVERIFY(xvfb.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
