#include "processfixture.h"

#include "app/slqtapponeinstance.h"

#include <QRegularExpression>
#include <QScopedPointer>
#include <QSharedMemory>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>

// The real program started as a process. The format of the log lines is the log handler's
// test's; here the order of a run's first lines and the single-instance slot.
class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void singleInstanceLifeCycle();
    void slotLeftByAVanishedRun();
    void badCommandLine();
    void withoutLogFileNothingIsWritten();
    void startAtLogOnShowsNoWindow();

private:
    // Waits until the program has started listening that many times in all.
    bool waitForListening(int times)
    {
        return QTest::qWaitFor([&] { return box.logCount("localServer.listen true") == times; },
                               10000);
    }
    // A start while another run holds the slot ends at once, with success.
    void expectRefused()
    {
        QScopedPointer<QProcess> refused(box.startLogged());
        QVERIFY(refused->waitForFinished(10000));
        QCOMPARE(refused->exitStatus(), QProcess::NormalExit);
        QCOMPARE(refused->exitCode(), 0);
    }

    ProgramSandbox box;
};

void TstStartup::singleInstanceLifeCycle()
{
    const QString entry = box.path(QStringLiteral("config/autostart/com.corvane.watch.desktop"));
    QScopedPointer<QProcess> first(box.startLogged());
    QVERIFY(waitForListening(1));
    const QByteArray firstLine = box.readFile("run.log").split('\n').first();
    const QString expected =
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ Debug: cfgDir is %1\r$")
            .arg(QRegularExpression::escape(box.path(QStringLiteral("config/Corvane/Corvane"))));
    QVERIFY2(QRegularExpression(expected).match(QString::fromUtf8(firstLine)).hasMatch(),
             firstLine.constData());
    // The first run makes the autostart entry; its content is the platform test's.
    QVERIFY(box.waitForLog("Unknown: This is the first run of this application"));
    QVERIFY(QFile::exists(entry));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        expectRefused();
        QCOMPARE(box.logCount("Debug: Application already running"), attempt);
        // The running one is raised once per refused start.
        QTRY_COMPARE_WITH_TIMEOUT(
            box.logCount("Debug: Another instance was open. Maximize current instance window"),
            attempt, 5000);
    }
    QCOMPARE(first->state(), QProcess::Running);
    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(box.logCount("Debug: ~SlAppLogic SlAppLogic(0x"), 1);
    QVERIFY(QFile::exists(box.path(QStringLiteral("config/Corvane/Corvane/settings.sqlite"))));

    // The user switched autostart off: later starts leave it so. A killed run leaves the slot
    // to the next.
    QVERIFY(QFile::remove(entry));
    QScopedPointer<QProcess> second(box.startLogged());
    QVERIFY(waitForListening(2));
    second->kill();
    QVERIFY(second->waitForFinished(5000));
    QScopedPointer<QProcess> next(box.startLogged());
    QVERIFY(waitForListening(3));
    QTest::qWait(300);
    QCOMPARE(next->state(), QProcess::Running);
    QCOMPARE(box.logCount("Application already running"), 2);
    expectRefused();
    QCOMPARE(box.logCount("Application already running"), 3);
    ProgramSandbox::stop(next.data());
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(box.logCount("This is the first run"), 1);
}

// A run killed where segments outlive their process leaves its segment behind: with its key file
// still there (the usual case), and with the key file gone and made anew, which names the same
// segment again only where the file system reuses the inode. A new run gets the slot either way.
void TstStartup::slotLeftByAVanishedRun()
{
    box.useForThisProcess();
    for (const bool keyFileGone : {false, true}) {
        const QString id = QStringLiteral("stale-slot-test-%1").arg(keyFileGone);
        const QByteArray keyFile = QFile::encodeName(
            QSharedMemory(SlQtAppOneInstance::keyHash(id, QStringLiteral("_sharedmemKey")))
                .nativeKey());
        QVERIFY(QFile(QString::fromLocal8Bit(keyFile)).open(QIODevice::WriteOnly));
        const int stale = shmget(ftok(keyFile.constData(), 'Q'), 8, IPC_CREAT | IPC_EXCL | 0600);
        QVERIFY(stale >= 0);
        if (keyFileGone)
            QVERIFY(QFile::remove(QString::fromLocal8Bit(keyFile)));
        SlQtAppOneInstance guard(id);
        const bool ran = guard.tryToRun();
        guard.release();
        shmctl(stale, IPC_RMID, nullptr);
        QVERIFY2(ran, keyFileGone ? "key file made anew" : "key file left behind");
    }
}

// The parser's own messages, and no help option.
void TstStartup::badCommandLine()
{
    const QList<QPair<QString, QByteArray>> rows = {
        {"--bogus", "Unknown option 'bogus'."},
        {"--debug-file", "Missing value after '--debug-file'."},
        {"--help", "Unknown option 'help'."}};
    for (const auto &row : rows) {
        QScopedPointer<QProcess> run(box.start({row.first}));
        QVERIFY(run->waitForFinished(10000));
        QCOMPARE(run->exitStatus(), QProcess::NormalExit);
        QVERIFY(run->exitCode() != 0);
        const QByteArray err = run->readAllStandardError();
        QVERIFY2(err.contains(row.second), err.constData());
    }
}

void TstStartup::withoutLogFileNothingIsWritten()
{
    QScopedPointer<QProcess> run(box.start(QStringList()));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += run->readAllStandardError()).contains("cfgDir is"), 10000);
    ProgramSandbox::stop(run.data());
    QVERIFY(!QFile::exists(QStringLiteral(CORVANE_BIN_DIR "/debug.log")));
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
    const auto windowShown = [&] {
        QProcess search;
        search.setProcessEnvironment(screen);
        search.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Corvane$"});
        search.waitForFinished(5000);
        return !search.readAllStandardOutput().trimmed().isEmpty();
    };
    for (const bool atLogOn : {false, true}) {
        QFile::remove(box.path(QStringLiteral("run.log")));
        QStringList arguments{"--debug-file", box.path(QStringLiteral("run.log"))};
        if (atLogOn)
            arguments << QStringLiteral("--hidden");
        QScopedPointer<QProcess> run(box.start(arguments, screen));
        QVERIFY(box.waitForLog("localServer.listen"));
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
