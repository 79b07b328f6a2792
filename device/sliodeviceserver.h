#ifndef SLIODEVICESERVER_H
#define SLIODEVICESERVER_H

#include "device/slusbhidinfo.h"

#include <QObject>
#include <QPointer>
#include <QVector>

class QIODevice;
class QTcpServer;
class QTimer;
class SlUSBHIDServer;

// Where watch connections come from: USB HID devices found on hot-plug events (or
// by polling where there are none) and TCP peers on the loopback port. Each new connection is
// opened, queued and announced; while disabled, nothing new is accepted.
class SlIODeviceServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 VendorId = 0xFFFF;
    static constexpr quint16 ProductId = 0x099D;
    static constexpr quint16 TcpPort = 6666;
    static constexpr int PollInterval = 200;
    static constexpr int ReportSize = 32;

    explicit SlIODeviceServer(QObject *parent = nullptr);

    void setEnabled(bool on);
    bool isEnabled() const;
    QIODevice *nextDevice();
    // A watch is plugged in but its node may not be opened by this user (no udev rule yet).
    bool isAccessDenied() const { return accessDenied; }

signals:
    void newDeviceConnected();
    void accessDeniedChanged(bool denied);

private slots:
    void onTcpNewDeviceConnected();
    void onUsbNewDeviceConnected(SlUSBHIDInfo info);

private:
    SlUSBHIDServer *usbServer;
    QTcpServer *tcpServer;
    // Devices deleted before anyone took them drop out on their own.
    QVector<QPointer<QIODevice>> pendingDevices;
    bool enabled = false;
    bool accessDenied = false;
    // Fires when no failed open has been seen for a while: the watch was unplugged,
    // so the refusal is over and polling for it can stop.
    QTimer *accessDeniedExpiry;

    void setAccessDenied(bool denied);
};

#endif // SLIODEVICESERVER_H
