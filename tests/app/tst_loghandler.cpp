#include "app/loghandler.h"

#include <QtTest>

// Re-entered as a child process to log a fatal message: the handler aborts.
static const char kFatalFileVar[] = "TST_LOGHANDLER_FATAL_FILE";

class TstLogHandler : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(m_path = m_dir.filePath("run.log")); }
    void cleanup() { LogHandler::installLogHandler(QString(), LogHandler::DefaultOutput); }
    void destinations();
    void fatalWritesWithoutLineEndAndAborts();

private:
    // The file holds exactly these lines, each after a time stamp and before end.
    void expectLines(const QString &path, const QStringList &lines, const QString &end = "\r\n")
    {
        QFile file(path);
        const QString log = file.open(QIODevice::ReadOnly) ? file.readAll() : QString();
        QString pattern;
        for (const QString &line : lines)
            pattern += "\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ " +
                       QRegularExpression::escape(line) + end;
        QVERIFY2(QRegularExpression("^" + pattern + "$").match(log).hasMatch(), qPrintable(log));
        const QDateTime stamp = QDateTime::fromString(log.left(19), "hh:mm:ss dd.MM.yyyy");
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
    }
    QTemporaryDir m_dir;
    QString m_path;
};

void TstLogHandler::destinations()
{
    LogHandler::installLogHandler(m_path, LogHandler::Discard);
    qDebug("discarded");
    // A file that cannot be written loses the message only.
    LogHandler::installLogHandler(m_dir.filePath("missing/folder/run.log"),
                                  LogHandler::AppendToFile);
    qDebug("lost");
    // An unknown mode keeps the handler but takes the new name.
    LogHandler::installLogHandler(m_path, 7);
    qDebug("kept");
    // Messages held until the destination is decided go there first.
    LogHandler::beginBuffering();
    qDebug("early");
    qWarning("also early");
    LogHandler::installLogHandler(m_path, LogHandler::AppendToFile);
    // Once passed on, they are gone: installing again repeats none.
    LogHandler::installLogHandler(m_path, LogHandler::AppendToFile);
    for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        qt_message_output(type, QMessageLogContext(), QStringLiteral("grüße %1").arg(type));
    expectLines(m_path, {"Debug: kept", "Debug: early", "Warning: also early", "Debug: grüße 0",
                         "Unknown: grüße 4", "Warning: grüße 1", "Critical: grüße 2"});
}

void TstLogHandler::fatalWritesWithoutLineEndAndAborts()
{
    QProcess child;
    qputenv(kFatalFileVar, m_path.toUtf8());
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    expectLines(m_path, {"Fatal: the end"}, QString());
}

int main(int argc, char *argv[])
{
    const QString fatalFile = qEnvironmentVariable(kFatalFileVar);
    if (!fatalFile.isEmpty()) {
        LogHandler::installLogHandler(fatalFile, LogHandler::AppendToFile);
        qFatal("the end");
    }
    QCoreApplication app(argc, argv);
    TstLogHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_loghandler.moc"
