#ifndef SIMFIRMWARERECEIVER_H
#define SIMFIRMWARERECEIVER_H

#include <QByteArray>

// Collects what the program writes into the firmware area (0x100000 on) and
// checks the image against the CRC-32 in its last four bytes.
class SimFirmwareReceiver
{
public:
    static constexpr quint32 FirmwareBase = 0x100000;

    struct Result
    {
        bool ok = false;
        bool gap = false;
        int imageSize = 0;
        quint32 computed = 0;
        quint32 stored = 0;
    };

    Result take(quint32 address, const QByteArray &data);
    void reset() { image.clear(); }

private:
    QByteArray image;
};

#endif // SIMFIRMWARERECEIVER_H
