#ifndef SIMRUNNER_H
#define SIMRUNNER_H

#include "../app/processfixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

// One gadget-sim process with the "EVENT ..." lines it printed.
class SimRunner
{
public:
    ~SimRunner() { stop(); }

    // The identity comes first: options given later win.
    void start(const QStringList &extra = {})
    {
        process.start(QStringLiteral(CORVANE_BIN_DIR "/gadget-sim"),
                      QStringList{"--serial", "TR31-E2E-0001", "--device-key", QString(48, 'a'),
                                  "--server-key", QString(48, 'b')} +
                          extra);
    }

    // Collects what arrived so far; returns the EVENT lines without the prefix.
    QStringList events()
    {
        buffer += process.readAllStandardOutput();
        for (int nl; (nl = buffer.indexOf('\n')) >= 0; buffer.remove(0, nl + 1)) {
            if (buffer.startsWith("EVENT "))
                lines << QString::fromUtf8(buffer.mid(6, nl - 6));
        }
        return lines;
    }

    int count(const QString &prefix)
    {
        return events().filter(QRegularExpression('^' + QRegularExpression::escape(prefix))).size();
    }

    bool waitFor(const QString &prefix, int atLeast = 1, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return count(prefix) >= atLeast; }, timeoutMs);
    }

    // The --verbose trace so far.
    QString trace()
    {
        traceText += QString::fromUtf8(process.readAllStandardError());
        return traceText;
    }

    void stop() { ProgramSandbox::stop(&process); }

    QProcess process;

private:
    QByteArray buffer;
    QStringList lines;
    QString traceText;
};

#endif // SIMRUNNER_H
