#include "simprocess.h"

#include <QRegularExpression>
#include <QTest>

QByteArray SimProcess::sanitizerReports;

SimProcess::SimProcess(QObject *parent)
    : QObject(parent)
{
    connect(&process, &QProcess::readyReadStandardOutput, this, [this] {
        partial += process.readAllStandardOutput();
        for (int nl; (nl = partial.indexOf('\n')) >= 0; partial.remove(0, nl + 1)) {
            if (partial.startsWith("EVENT "))
                events.append(QString::fromUtf8(partial.mid(6, nl - 6)));
        }
    });
    connect(&process, &QProcess::readyReadStandardError, this,
            [this] { errorOutput += process.readAllStandardError(); });
}

SimProcess::~SimProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
    }
    errorOutput += process.readAllStandardError();
    if (errorOutput.contains("Sanitizer") || errorOutput.contains("runtime error:"))
        sanitizerReports += errorOutput;
}

void SimProcess::start(const QStringList &arguments)
{
    process.start(QStringLiteral(CORVANE_BIN_DIR "/gadget-sim"), arguments);
}

int SimProcess::waitForEvent(const QString &prefix, int timeoutMs, int from)
{
    // The list matches an expression against whole lines.
    const QRegularExpression start(QRegularExpression::escape(prefix) + QStringLiteral(".*"));
    return QTest::qWaitFor([&] { return events.indexOf(start, from) >= 0; }, timeoutMs)
               ? events.indexOf(start, from)
               : -1;
}

bool SimProcess::waitForExit(int timeoutMs)
{
    return QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}
