#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QObject>
#include <QProcess>
#include <QStringList>

// One running gadget-sim with its EVENT lines collected as they come.
class SimProcess : public QObject
{
    Q_OBJECT
public:
    explicit SimProcess(QObject *parent = nullptr);
    ~SimProcess() override;

    void start(const QStringList &arguments);
    // Waits for the first EVENT line, at or after line index from, that starts
    // with prefix; returns its index or -1.
    int waitForEvent(const QString &prefix, int timeoutMs = 5000, int from = 0);
    bool waitForExit(int timeoutMs = 5000);

    QProcess process;
    QStringList events;
    // Sanitizer reports seen on any simulator's stderr, for the test's cleanup.
    static QByteArray sanitizerReports;

private:
    QByteArray partial;
    QByteArray errorOutput;
};

#endif // SIMPROCESS_H
