#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QSharedMemory>
#include <QSystemSemaphore>

// Keeps one copy of the program running per machine slot; a later start only
// knocks on the running copy's local server so that it can show its window.
class SlQtAppOneInstance : public QObject
{
    Q_OBJECT
public:
    explicit SlQtAppOneInstance(const QString &key);
    ~SlQtAppOneInstance() override;

    bool isAnotherRunning();
    bool tryToRun();
    void release();

    static QString keyHash(const QString &key, const QString &salt);

signals:
    void anotherInstanceWasOpen();

private:
    void onNewConnection();

    const QString key;
    const QString memLockKey;
    const QString sharedMemKey;
    const QString localServerName;
    QSharedMemory sharedMem;
    QSystemSemaphore memLock;
    QLocalServer localServer;
    QLocalSocket localSocket;
};
