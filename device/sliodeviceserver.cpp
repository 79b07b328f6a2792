#include "sliodeviceserver.h"

#include "device/slusbhiddevice.h"
#include "device/slusbhidserver.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>

SlIODeviceServer::SlIODeviceServer(QObject *parent)
    : QObject(parent)
    , usbServer(new SlUSBHIDServer(VendorId, ProductId, this))
    , tcpServer(new QTcpServer(this))
{
    connect(usbServer, &SlUSBHIDServer::deviceAvailable, this,
            &SlIODeviceServer::onUsbNewDeviceConnected);
    connect(tcpServer, &QTcpServer::newConnection, this,
            &SlIODeviceServer::onTcpNewDeviceConnected);
    // Listening before the first pass, so that nothing plugged in between is missed.
    usbServer->useHotplugEvents();
    // The port serves one program on the machine; another user's copy may hold it. USB
    // watches still work, so it is said once and the run goes on.
    if (!tcpServer->listen(QHostAddress::LocalHost, TcpPort))
        qDebug().noquote() << QStringLiteral("Gadget port %1 not available (%2), watches on "
                                             "USB still work")
                                  .arg(TcpPort)
                                  .arg(tcpServer->errorString());
    accessDeniedExpiry = new QTimer(this);
    accessDeniedExpiry->setSingleShot(true);
    accessDeniedExpiry->setInterval(5 * PollInterval);
    connect(accessDeniedExpiry, &QTimer::timeout, this, [this] {
        setAccessDenied(false);
        usbServer->setFallbackPolling(false);
    });
}

void SlIODeviceServer::setAccessDenied(bool denied)
{
    if (accessDenied == denied)
        return;
    accessDenied = denied;
    emit accessDeniedChanged(denied);
}

void SlIODeviceServer::setEnabled(bool on)
{
    enabled = on;
    if (on)
        usbServer->start(PollInterval);
    else
        usbServer->stop();
}

bool SlIODeviceServer::isEnabled() const
{
    return enabled;
}

QIODevice *SlIODeviceServer::nextDevice()
{
    while (!pendingDevices.isEmpty()) {
        QIODevice *device = pendingDevices.takeLast();
        if (device) {
            device->setParent(nullptr);
            return device;
        }
    }
    return nullptr;
}

void SlIODeviceServer::onTcpNewDeviceConnected()
{
    if (!enabled) {
        qDebug() << Q_FUNC_INFO << "new tcp device available, but device server is disabled";
        if (QTcpSocket *socket = tcpServer->nextPendingConnection()) {
            socket->close();
            socket->deleteLater();
        }
        return;
    }
    qDebug() << Q_FUNC_INFO << "new tcp device connected";
    QTcpSocket *socket = tcpServer->nextPendingConnection();
    if (!socket)
        return;
    pendingDevices.append(socket);
    emit newDeviceConnected();
}

void SlIODeviceServer::onUsbNewDeviceConnected(SlUSBHIDInfo info)
{
    if (!enabled) {
        qDebug() << Q_FUNC_INFO << "new usb device available, but device server is disabled";
        return;
    }
    qDebug() << Q_FUNC_INFO << "new usb device connected";
    auto *device = new SlUSBHidDevice(ReportSize, this);
    if (!device->open(info.path)) {
        const int error = device->openError();
        delete device;
        if (error == EACCES || error == EPERM)
            setAccessDenied(true);
        // No event tells when the open would work (a udev rule installed, the
        // node released by another program): try on every pass until it does
        // or the watch is gone.
        usbServer->setFallbackPolling(true);
        accessDeniedExpiry->start();
        return;
    }
    accessDeniedExpiry->stop();
    setAccessDenied(false);
    usbServer->setFallbackPolling(false);
    pendingDevices.append(device);
    emit newDeviceConnected();
}
