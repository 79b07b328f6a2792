#include "app/loghandler.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// Re-entered as a child process to log a fatal message: the handler aborts.
static const char kFatalFileVar[] = "TST_LOGHANDLER_FATAL_FILE";

class TstLogHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linesPerLevel_data();
    void linesPerLevel();
    void discardModeWritesNothing();
    void heldMessagesReachTheFile();
    void unwritableFileLosesTheMessageOnly();
    void unknownModeKeepsTheHandler();
    void fatalWritesWithoutLineEndAndAborts();

private:
    QByteArray readLog() const;
    QTemporaryDir m_dir;
    QString m_path;
};

void TstLogHandler::init()
{
    m_path = m_dir.filePath(QStringLiteral("run.log"));
    QFile::remove(m_path);
}

void TstLogHandler::cleanup()
{
    LogHandler::installLogHandler(QString(), LogHandler::DefaultOutput);
}

QByteArray TstLogHandler::readLog() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TstLogHandler::linesPerLevel_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("word");
    QTest::newRow("debug") << int(QtDebugMsg) << QByteArray("Debug: ");
    QTest::newRow("info") << int(QtInfoMsg) << QByteArray("Unknown: ");
    QTest::newRow("warning") << int(QtWarningMsg) << QByteArray("Warning: ");
    QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray("Critical: ");
}

void TstLogHandler::linesPerLevel()
{
    QFETCH(int, level);
    QFETCH(QByteArray, word);
    LogHandler::installLogHandler(m_path, LogHandler::AppendToFile);
    const QString text = QStringLiteral("grüße %1").arg(level);
    switch (QtMsgType(level)) {
    case QtDebugMsg:
        qDebug().noquote() << text;
        break;
    case QtInfoMsg:
        qInfo().noquote() << text;
        break;
    case QtWarningMsg:
        qWarning().noquote() << text;
        break;
    default:
        qCritical().noquote() << text;
        break;
    }
    qDebug("second");
    const QByteArray log = readLog();
    const QRegularExpression line(
        QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d) (\\d\\d)\\.(\\d\\d)\\.(\\d{4}) @ %1%2\r\n"
                       "\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ Debug: second\r\n$")
            .arg(QRegularExpression::escape(QString::fromLatin1(word)),
                 QRegularExpression::escape(text)));
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(log));
    QVERIFY2(match.hasMatch(), log.constData());
    const QDateTime stamp =
        QDateTime::fromString(match.captured(0).left(19), QStringLiteral("hh:mm:ss dd.MM.yyyy"));
    QVERIFY(stamp.isValid());
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
}

void TstLogHandler::discardModeWritesNothing()
{
    LogHandler::installLogHandler(m_path, LogHandler::Discard);
    qDebug("a");
    qInfo("b");
    qWarning("c");
    qCritical("d");
    QVERIFY(!QFile::exists(m_path));
}

void TstLogHandler::heldMessagesReachTheFile()
{
    LogHandler::beginBuffering();
    qDebug("early");
    qWarning("also early");
    LogHandler::installLogHandler(m_path, LogHandler::AppendToFile);
    qDebug("late");
    const QList<QByteArray> lines = readLog().split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].endsWith("@ Debug: early\r"));
    QVERIFY(lines[1].endsWith("@ Warning: also early\r"));
    QVERIFY(lines[2].endsWith("@ Debug: late\r"));
}

void TstLogHandler::unwritableFileLosesTheMessageOnly()
{
    const QString bad = m_dir.filePath(QStringLiteral("missing/folder/run.log"));
    LogHandler::installLogHandler(bad, LogHandler::AppendToFile);
    qDebug("lost");
    QVERIFY(!QFile::exists(bad));
    LogHandler::installLogHandler(QString(), LogHandler::AppendToFile);
    qDebug("lost too");
    LogHandler::installLogHandler(m_path, LogHandler::AppendToFile);
    qDebug("kept");
    QVERIFY(readLog().endsWith("@ Debug: kept\r\n"));
}

void TstLogHandler::unknownModeKeepsTheHandler()
{
    LogHandler::installLogHandler(m_path, LogHandler::AppendToFile);
    const QString other = m_dir.filePath(QStringLiteral("other.log"));
    LogHandler::installLogHandler(other, 7);
    qDebug("to the new name");
    QVERIFY(!QFile::exists(m_path));
    QFile file(other);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("@ Debug: to the new name\r\n"));
}

void TstLogHandler::fatalWritesWithoutLineEndAndAborts()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kFatalFileVar), m_path);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QByteArray log = readLog();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\.\\d\\d\\.\\d{4} @ "
                                               "Fatal: the end$"))
                 .match(QString::fromUtf8(log))
                 .hasMatch(),
             log.constData());
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
