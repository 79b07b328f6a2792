#include "processfixture.h"

#include <QRegularExpression>
#include <QScopedPointer>

#include <csignal>

class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void firstLineIsTheConfigFolder();
    void secondStartIsRefusedAndRaisesTheFirst();
    void killedRunDoesNotBlockTheNextStart();
    void terminationRequestShutsDownCleanly();
    void firstRunCreatesTheAutostartEntryOnce();
    void badCommandLine_data();
    void badCommandLine();
    void withoutLogFileNothingIsWritten();

private:
    QString logPath(const ProgramSandbox &box) const { return box.path(QStringLiteral("run.log")); }
    QStringList logArgs(const ProgramSandbox &box) const
    {
        return {QStringLiteral("--debug-file"), logPath(box)};
    }
};

static const QRegularExpression
    kLine(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ "
                         "(Debug|Warning|Critical|Unknown): .*$"));

static void stop(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished(5000);
    }
}

void TstStartup::firstLineIsTheConfigFolder()
{
    ProgramSandbox box;
    QScopedPointer<QProcess> first(box.start(logArgs(box)));
    QVERIFY(first->waitForStarted());
    QVERIFY(box.waitForText(QStringLiteral("run.log"), "localServer.listen"));
    stop(first.data());

    const QList<QByteArray> lines = box.readFile(QStringLiteral("run.log")).split('\n');
    QVERIFY(lines.size() > 2);
    const QString expected =
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ Debug: "
                       "cfgDir is %1\r$")
            .arg(QRegularExpression::escape(box.configDir() + QStringLiteral("/Corvane/Corvane")));
    QVERIFY2(QRegularExpression(expected).match(QString::fromUtf8(lines.first())).hasMatch(),
             lines.first().constData());
    QVERIFY(QFileInfo(box.configDir() + QStringLiteral("/Corvane/Corvane")).isDir());
    // Every complete line keeps the format; the last split part is empty.
    for (int i = 0; i < lines.size() - 1; ++i) {
        QVERIFY2(lines[i].endsWith('\r'), lines[i].constData());
        QVERIFY2(kLine.match(QString::fromUtf8(lines[i].chopped(1))).hasMatch(),
                 lines[i].constData());
    }
    QVERIFY(lines.last().isEmpty());
}

void TstStartup::secondStartIsRefusedAndRaisesTheFirst()
{
    ProgramSandbox box;
    QScopedPointer<QProcess> first(box.start(logArgs(box)));
    QVERIFY(box.waitForText(QStringLiteral("run.log"), "localServer.listen true"));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        QElapsedTimer timer;
        timer.start();
        QScopedPointer<QProcess> second(box.start(logArgs(box)));
        QVERIFY(second->waitForFinished(2000));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(box.waitForText(QStringLiteral("run.log"), "Debug: Application already running"));
        // Once per refused start.
        QTRY_COMPARE_WITH_TIMEOUT(
            box.readFile(QStringLiteral("run.log"))
                .count("Debug: Another instance was open. Maximize current instance window"),
            attempt, 5000);
    }
    QCOMPARE(first->state(), QProcess::Running);
    stop(first.data());
}

void TstStartup::killedRunDoesNotBlockTheNextStart()
{
    ProgramSandbox box;
    QScopedPointer<QProcess> first(box.start(logArgs(box)));
    QVERIFY(box.waitForText(QStringLiteral("run.log"), "localServer.listen true"));
    first->kill();
    QVERIFY(first->waitForFinished(5000));

    QScopedPointer<QProcess> next(box.start(logArgs(box)));
    QVERIFY(next->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(
        box.readFile(QStringLiteral("run.log")).count("Debug: localServer.listen true"), 2, 10000);
    QVERIFY(!box.readFile(QStringLiteral("run.log")).contains("Application already running"));
    QTest::qWait(300);
    QCOMPARE(next->state(), QProcess::Running);

    // The new run really holds the slot.
    QScopedPointer<QProcess> third(box.start(logArgs(box)));
    QVERIFY(third->waitForFinished(2000));
    QCOMPARE(third->exitCode(), 0);
    QVERIFY(box.readFile(QStringLiteral("run.log")).contains("Application already running"));
    stop(next.data());
}

void TstStartup::terminationRequestShutsDownCleanly()
{
    ProgramSandbox box;
    QScopedPointer<QProcess> first(box.start(logArgs(box)));
    QVERIFY(box.waitForText(QStringLiteral("run.log"), "localServer.listen true"));
    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QVERIFY(box.readFile(QStringLiteral("run.log")).contains("Debug: ~SlAppLogic SlAppLogic(0x"));
}

void TstStartup::firstRunCreatesTheAutostartEntryOnce()
{
    ProgramSandbox box;
    const QString entry = box.configDir() + QStringLiteral("/autostart/com.corvane.watch.desktop");
    QScopedPointer<QProcess> first(box.start(logArgs(box)));
    QVERIFY(box.waitForText(QStringLiteral("run.log"),
                            "Unknown: This is the first run of this application"));
    QVERIFY(QFile::exists(entry));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(
        file.readAll().contains("Exec=\"" + ProgramSandbox::program().toUtf8() + "\" --hidden\n"));
    file.close();
    stop(first.data());
    QVERIFY(QFile::exists(box.configDir() + QStringLiteral("/Corvane/Corvane/settings.sqlite")));

    // The user switched autostart off: later starts leave it so.
    QVERIFY(QFile::remove(entry));
    QScopedPointer<QProcess> second(box.start(logArgs(box)));
    QTRY_COMPARE_WITH_TIMEOUT(
        box.readFile(QStringLiteral("run.log")).count("Debug: localServer.listen true"), 2, 10000);
    stop(second.data());
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(box.readFile(QStringLiteral("run.log")).count("This is the first run"), 1);
}

void TstStartup::badCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("unknown long option")
        << QStringList{QStringLiteral("--bogus")} << QByteArray("Unknown option 'bogus'.");
    QTest::newRow("unknown short option")
        << QStringList{QStringLiteral("-x")} << QByteArray("Unknown option 'x'.");
    QTest::newRow("log file without value") << QStringList{QStringLiteral("--debug-file")}
                                            << QByteArray("Missing value after '--debug-file'.");
    QTest::newRow("no help option")
        << QStringList{QStringLiteral("--help")} << QByteArray("Unknown option 'help'.");
}

void TstStartup::badCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    ProgramSandbox box;
    QScopedPointer<QProcess> run(box.start(arguments));
    QVERIFY(run->waitForFinished(10000));
    QCOMPARE(run->exitStatus(), QProcess::NormalExit);
    QVERIFY(run->exitCode() != 0);
    const QByteArray err = run->readAllStandardError();
    QVERIFY2(err.contains(message), err.constData());
}

void TstStartup::withoutLogFileNothingIsWritten()
{
    ProgramSandbox box;
    QScopedPointer<QProcess> first(box.start(QStringList()));
    QVERIFY(first->waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += first->readAllStandardError()).contains("cfgDir is"), 10000);
    stop(first.data());
    QVERIFY(!QFile::exists(QStringLiteral(CORVANE_BIN_DIR "/debug.log")));
}

QTEST_GUILESS_MAIN(TstStartup)
#include "tst_startup.moc"
