#ifndef SIMRUNNER_H
#define SIMRUNNER_H

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtTest>

// One gadget-sim process with the "EVENT ..." lines it printed.
class SimRunner
{
public:
    SimRunner() = default;
    SimRunner(const SimRunner &) = delete;
    SimRunner &operator=(const SimRunner &) = delete;
    ~SimRunner() { stop(); }

    static QString program() { return QStringLiteral(CORVANE_BIN_DIR "/gadget-sim"); }

    static QStringList identityArguments()
    {
        return {QStringLiteral("--serial"),     QStringLiteral("TR31-E2E-0001"),
                QStringLiteral("--device-key"), QString(48, QLatin1Char('a')),
                QStringLiteral("--server-key"), QString(48, QLatin1Char('b'))};
    }

    void start(const QStringList &extra = {})
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(program(), identityArguments() + extra);
    }

    // Collects what arrived so far; returns the EVENT lines without the prefix.
    QStringList events()
    {
        buffer += process.readAllStandardOutput();
        int nl;
        while ((nl = buffer.indexOf('\n')) >= 0) {
            const QByteArray line = buffer.left(nl);
            buffer.remove(0, nl + 1);
            if (line.startsWith("EVENT "))
                lines << QString::fromUtf8(line.mid(6));
        }
        return lines;
    }

    int count(const QString &prefix)
    {
        int n = 0;
        for (const QString &line : events())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    bool waitFor(const QString &prefix, int atLeast = 1, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (count(prefix) < atLeast && t.elapsed() < timeoutMs) {
            process.waitForReadyRead(5);
            QTest::qWait(5);
        }
        return count(prefix) >= atLeast;
    }

    // The --verbose trace so far.
    QString trace()
    {
        traceText += QString::fromUtf8(process.readAllStandardError());
        return traceText;
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    QProcess process;

private:
    QByteArray buffer;
    QStringList lines;
    QString traceText;
};

#endif // SIMRUNNER_H
