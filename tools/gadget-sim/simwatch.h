#ifndef SIMWATCH_H
#define SIMWATCH_H

#include "simclock.h"
#include "simfirmwarereceiver.h"
#include "simmemory.h"

#include <QObject>
#include <QTimer>

class SimOptions;

// What the watch does with the packets it receives: keeps its memory, runs
// its clock, obeys commands and takes firmware. Replies go out through
// sendPacket; the link decides how they travel.
class SimWatch : public QObject
{
    Q_OBJECT
public:
    enum DeviceCommand {
        RequestAllData = 1,
        KeyAccepted = 2,
        Attached = 3,
        Deattached = 4,
        ResetToFactory = 5,
        EnterTransportationMode = 7
    };

    explicit SimWatch(const SimOptions &options, QObject *parent = nullptr);

    void handlePacket(quint32 address, const QByteArray &data);
    QByteArray currentImage();

signals:
    void sendPacket(quint32 address, const QByteArray &data);
    void allDataSent();

private:
    void handleCommand(int command);
    void handleTimeCommand(int action);
    void handleWrite(int offset, const QByteArray &data);
    void handleFirmware(quint32 address, const QByteArray &data);
    void sendAllData();
    void sendRange(int offset, int size);
    bool overlaps(int offset, int size, int fieldOffset, int fieldSize) const;

    SimMemory defaults;
    SimMemory memory;
    SimClock clock;
    SimFirmwareReceiver firmware;
    QTimer pushTimer;
};

#endif // SIMWATCH_H
