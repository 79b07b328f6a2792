#include "simprocess.h"

#include <QDeadlineTimer>
#include <QTest>

SimProcess::SimProcess(QObject *parent)
    : QObject(parent)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&process, &QProcess::readyReadStandardOutput, this, &SimProcess::onReadyRead);
    connect(&process, &QProcess::readyReadStandardError, this, &SimProcess::onReadyReadError);
}

QByteArray SimProcess::sanitizerReports;

SimProcess::~SimProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
    }
    onReadyReadError();
}

void SimProcess::onReadyReadError()
{
    errorOutput += process.readAllStandardError();
    for (const char *marker : {"Sanitizer", "runtime error:"}) {
        if (errorOutput.contains(marker) && !sanitizerReports.contains(errorOutput))
            sanitizerReports += errorOutput;
    }
}

QString SimProcess::program()
{
    return QStringLiteral(CORVANE_BIN_DIR "/gadget-sim");
}

void SimProcess::start(const QStringList &arguments)
{
    process.start(program(), arguments);
}

void SimProcess::onReadyRead()
{
    partial += process.readAllStandardOutput();
    int nl;
    while ((nl = partial.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(partial.left(nl));
        partial.remove(0, nl + 1);
        if (line.startsWith(QLatin1String("EVENT ")))
            events.append(line.mid(6));
        else
            otherLines.append(line);
    }
}

int SimProcess::indexOf(const QString &prefix, int from) const
{
    for (int i = from; i < events.size(); ++i) {
        if (events.at(i).startsWith(prefix))
            return i;
    }
    return -1;
}

int SimProcess::waitForEvent(const QString &prefix, int timeoutMs, int from)
{
    QDeadlineTimer deadline(timeoutMs);
    int i;
    while ((i = indexOf(prefix, from)) < 0 && !deadline.hasExpired())
        QTest::qWait(5);
    return i;
}

bool SimProcess::waitForExit(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(5);
    return process.state() == QProcess::NotRunning;
}
