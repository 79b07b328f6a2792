#include "slqtapponeinstance.h"

#include "platform/platform.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDebug>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

const char SlQtAppOneInstance::SHOW_REQUEST[] = "show\n";
const char SlQtAppOneInstance::SHOW_ANSWER[] = "shown\n";

namespace {
const char kServerName[] = "com.corvane.watch.socket2";
// A request is one short line; a peer that sends more, or nothing, is not a start of ours.
constexpr int kMaxRequest = 64;
constexpr int kIdleMs = 5000;

QString lockPathFor(const QString &key)
{
    const QString folder = Platform::privateRuntimeFolder();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/com.corvane.watch-") +
           SlQtAppOneInstance::keyHash(key, QStringLiteral("_memLockKey")) +
           QStringLiteral(".lock");
}
} // namespace

SlQtAppOneInstance::SlQtAppOneInstance(const QString &key)
    : key(key)
    , lockPath(lockPathFor(key))
    , localServerName(Platform::userLocalServerName(QString::fromLatin1(kServerName)))
{
    connect(&localServer, &QLocalServer::newConnection, this, &SlQtAppOneInstance::onNewConnection);
}

SlQtAppOneInstance::~SlQtAppOneInstance()
{
    release();
}

QString SlQtAppOneInstance::keyHash(const QString &key, const QString &salt)
{
    QByteArray data = key.toUtf8();
    data.append(salt.toUtf8());
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

QString SlQtAppOneInstance::errorString() const
{
    return error;
}

bool SlQtAppOneInstance::isAnotherRunning()
{
    if (lockHandle != -1 || lockPath.isEmpty())
        return false;
    bool busy = false;
    const qintptr probe = Platform::lockFile(lockPath, &busy, nullptr);
    Platform::unlockFile(probe);
    return busy;
}

bool SlQtAppOneInstance::tryToRun()
{
    if (lockHandle != -1)
        return true;
    error.clear();
    if (lockPath.isEmpty() || localServerName.isEmpty()) {
        error = QStringLiteral("no private runtime folder for the instance lock");
        return false;
    }
    bool busy = false;
    lockHandle = Platform::lockFile(lockPath, &busy, &error);
    // A holder that cannot be reached may be on its way out: one more try at the lock.
    if (lockHandle == -1 && busy && !askRunningToShow())
        lockHandle = Platform::lockFile(lockPath, &busy, &error);
    if (lockHandle == -1) {
        if (busy)
            error.clear();
        else
            error = QStringLiteral("cannot lock %1: %2").arg(lockPath, error);
        return false;
    }
    // Only the lock's holder touches the server name, so a socket left by a crashed run is its
    // to remove.
    localServer.setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(localServerName);
    const bool listening = localServer.listen(localServerName);
    qDebug().noquote().nospace() << "localServer.listen " << listening;
    qDebug().noquote().nospace() << "localServer.errorString " << localServer.errorString();
    return true;
}

void SlQtAppOneInstance::release()
{
    if (lockHandle == -1)
        return;
    localServer.close();
    Platform::unlockFile(lockHandle);
    lockHandle = -1;
}

bool SlQtAppOneInstance::askRunningToShow()
{
    // The running copy may have taken the lock a moment ago and not be listening yet.
    QDeadlineTimer deadline(2000);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(localServerName, QIODevice::ReadWrite);
        if (socket.waitForConnected(int(deadline.remainingTime())) || deadline.hasExpired())
            break;
        QThread::msleep(50);
    }
    if (socket.state() != QLocalSocket::ConnectedState) {
        qDebug().noquote() << "Cannot reach the running instance:" << socket.errorString();
        return false;
    }
    socket.write(SHOW_REQUEST);
    // Until the answer the running copy may not have read the request; leaving earlier would
    // take it away.
    QByteArray answer;
    while (!answer.endsWith('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    if (answer != SHOW_ANSWER)
        qDebug().noquote() << "The running instance did not answer:" << socket.errorString();
    socket.disconnectFromServer();
    return true;
}

void SlQtAppOneInstance::onNewConnection()
{
    while (QLocalSocket *socket = localServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket] { onRequestReadable(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kIdleMs, socket, [socket] { socket->abort(); });
        // Bytes may have come with the connection.
        if (socket->bytesAvailable() > 0)
            onRequestReadable(socket);
    }
}

void SlQtAppOneInstance::onRequestReadable(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequest)
            socket->abort();
        return;
    }
    const QByteArray request = socket->readLine(kMaxRequest + 1);
    if (request == SHOW_REQUEST) {
        qDebug() << "Another instance was open. Maximize current instance window";
        emit anotherInstanceWasOpen();
        socket->write(SHOW_ANSWER);
    }
    socket->disconnectFromServer();
}
