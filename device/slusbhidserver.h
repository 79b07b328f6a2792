#ifndef SLUSBHIDSERVER_H
#define SLUSBHIDSERVER_H

#include "device/slusbhidinfo.h"

#include <QObject>

class QTimer;

// Polls the HID device list and reports every device with the configured USB
// identity on every pass; deciding whether a device is new is the receiver's job.
class SlUSBHIDServer : public QObject
{
    Q_OBJECT
public:
    SlUSBHIDServer(quint16 vendorId, quint16 productId, QObject *parent = nullptr);

    bool isActive() const;

signals:
    void deviceAvailable(SlUSBHIDInfo info);

public slots:
    void start(int interval);
    void start();
    void stop();

private slots:
    void onTimerTimeout();

private:
    QTimer *timer;
    quint16 vendorId;
    quint16 productId;
};

#endif // SLUSBHIDSERVER_H
