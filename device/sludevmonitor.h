#ifndef SLUDEVMONITOR_H
#define SLUDEVMONITOR_H

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// Tells when a device of one kernel subsystem comes or goes, from udev's netlink
// monitor, so that the device list is walked only when it changed. Where no
// monitor can be opened (or on a system without udev), isWatching() is false
// and the caller has to poll.
class SlUdevMonitor : public QObject
{
    Q_OBJECT
public:
    explicit SlUdevMonitor(const QByteArray &subsystem, QObject *parent = nullptr);
    ~SlUdevMonitor() override;

    bool isWatching() const;

signals:
    void deviceChanged();

private slots:
    void onActivated();

private:
    QByteArray subsystem;
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
    QSocketNotifier *notifier = nullptr;
};

#endif // SLUDEVMONITOR_H
