#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QObject>
#include <QProcess>
#include <QStringList>

// One running gadget-sim with its stdout collected line by line.
class SimProcess : public QObject
{
    Q_OBJECT
public:
    explicit SimProcess(QObject *parent = nullptr);
    ~SimProcess() override;

    static QString program();
    void start(const QStringList &arguments);
    // Waits for the first EVENT line, at or after line index from, that starts
    // with prefix; returns its index or -1.
    int waitForEvent(const QString &prefix, int timeoutMs = 5000, int from = 0);
    int indexOf(const QString &prefix, int from = 0) const;
    bool waitForExit(int timeoutMs = 5000);

    QProcess process;
    QStringList events;
    QByteArray errorOutput;
    QStringList otherLines; // stdout lines that are not events
    // Sanitizer reports seen on any simulator's stderr, for the test's cleanup.
    static QByteArray sanitizerReports;

private:
    void onReadyRead();
    void onReadyReadError();

    QByteArray partial;
};

#endif // SIMPROCESS_H
