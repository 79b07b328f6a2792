#include "slqtapponeinstance.h"

#include <QCryptographicHash>
#include <QDebug>

SlQtAppOneInstance::SlQtAppOneInstance(const QString &key)
    : key(key)
    , memLockKey(keyHash(key, QStringLiteral("_memLockKey")))
    , sharedMemKey(keyHash(key, QStringLiteral("_sharedmemKey")))
    , localServerName(QStringLiteral("com.corvane.watch.socket2"))
    , sharedMem(sharedMemKey)
    , memLock(memLockKey, 1, QSystemSemaphore::Open)
{
    memLock.acquire();
    {
        // Where segments outlive their process, attaching and detaching once
        // removes the one a crashed run left behind.
        QSharedMemory fix(sharedMemKey);
        fix.attach();
    }
    memLock.release();

    if (!isAnotherRunning()) {
        connect(&localServer, &QLocalServer::newConnection, this,
                &SlQtAppOneInstance::onNewConnection);
        QLocalServer::removeServer(localServerName);
        const bool listening = localServer.listen(localServerName);
        qDebug().noquote().nospace() << "localServer.listen " << listening;
        qDebug().noquote().nospace() << "localServer.errorString " << localServer.errorString();
    } else {
        localSocket.connectToServer(localServerName, QIODevice::ReadWrite);
        // The caller exits right after this; the running copy must see the
        // connection before the socket goes away with this process.
        localSocket.waitForConnected(1000);
    }
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

bool SlQtAppOneInstance::isAnotherRunning()
{
    if (sharedMem.isAttached())
        return false;
    memLock.acquire();
    const bool attached = sharedMem.attach();
    if (attached)
        sharedMem.detach();
    memLock.release();
    return attached;
}

bool SlQtAppOneInstance::tryToRun()
{
    if (isAnotherRunning())
        return false;
    memLock.acquire();
    bool created = sharedMem.create(8);
    if (!created && sharedMem.error() == QSharedMemory::AlreadyExists) {
        // A run that died where segments outlive their process, and whose key file was
        // removed since, leaves a segment that the clean-up at construction could not reach
        // (another temporary folder may even reuse the key). Creating made the key file
        // again, so attaching once now removes the segment, unless a live copy holds it.
        QSharedMemory stale(sharedMemKey);
        stale.attach();
        stale.detach();
        created = sharedMem.create(8);
    }
    memLock.release();
    if (!created) {
        release();
        return false;
    }
    return true;
}

void SlQtAppOneInstance::release()
{
    memLock.acquire();
    if (sharedMem.isAttached())
        sharedMem.detach();
    memLock.release();
}

void SlQtAppOneInstance::onNewConnection()
{
    qDebug() << "Another instance was open. Maximize current instance window";
    emit anotherInstanceWasOpen();
}
