#ifndef SLUSBHIDSERVER_H
#define SLUSBHIDSERVER_H

#include "device/slusbhidinfo.h"

#include <QObject>

class QTimer;
class SlUdevMonitor;

// Walks the HID device list and reports every device with the configured USB
// identity on every pass; deciding whether a device is new is the receiver's job.
// It polls, or, once told to use hot-plug events, walks the list when started
// and whenever a hidraw device comes or goes.
class SlUSBHIDServer : public QObject
{
    Q_OBJECT
public:
    SlUSBHIDServer(quint16 vendorId, quint16 productId, QObject *parent = nullptr);

    bool isActive() const;
    // Switches from polling to passes on hidraw events where the system has them;
    // returns whether it does.
    bool useHotplugEvents();
    // Polls even with hot-plug events: a listed device that could not be opened
    // may become openable without any event (a permission granted by a new rule).
    void setFallbackPolling(bool on);
    bool isPolling() const;

signals:
    void deviceAvailable(SlUSBHIDInfo info);

public slots:
    void start(int interval);
    void start();
    void stop();

private slots:
    void onTimerTimeout();
    void onHotplugEvent();

private:
    QTimer *timer;
    quint16 vendorId;
    quint16 productId;
    SlUdevMonitor *hotplug = nullptr;
    bool running = false;
    bool fallbackPolling = false;
    bool passQueued = false;
    int pollInterval;

    bool needsPolling() const;
    void updateTimer();
    void queuePass();
};

#endif // SLUSBHIDSERVER_H
