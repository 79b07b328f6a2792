#pragma once

#include <QLocalServer>
#include <QObject>

class QLocalSocket;

// Keeps one copy of the program running per user; a later start of the same user only asks the
// running copy, through its local server, to show its window.
class SlQtAppOneInstance : public QObject
{
    Q_OBJECT
public:
    explicit SlQtAppOneInstance(const QString &key);
    ~SlQtAppOneInstance() override;

    bool isAnotherRunning();
    // Takes the running slot and listens for later starts. When another copy holds the slot,
    // asks it to show its window and returns false.
    bool tryToRun();
    void release();

    // Why the slot could not be had, when not because another copy holds it; empty otherwise.
    QString errorString() const;

    static QString keyHash(const QString &key, const QString &salt);

    // What a later start sends and the running copy answers, each one line.
    static const char SHOW_REQUEST[];
    static const char SHOW_ANSWER[];

signals:
    void anotherInstanceWasOpen();

private:
    void onNewConnection();
    void onRequestReadable(QLocalSocket *socket);
    // False when the running copy could not be reached at all.
    bool askRunningToShow();

    const QString key;
    const QString lockPath;
    const QString localServerName;
    qintptr lockHandle = -1;
    QString error;
    QLocalServer localServer;
};
