#ifndef SLPACKETINFO_H
#define SLPACKETINFO_H

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>

// One fragment or whole packet that passed the framing. Bit 0 of kind is the
// direction (set: towards the watch), bit 1 marks a raw fragment.
struct SlPacketInfo
{
    enum Kind : quint32 {
        PacketReceived = 0,
        PacketSent = 1,
        FragmentReceived = 2,
        FragmentSent = 3,
    };

    quint32 count = 0;
    quint32 index = 0;
    quint32 offset = 0;
    quint32 kind = 0;
    QByteArray data;
};

Q_DECLARE_METATYPE(SlPacketInfo)

#endif // SLPACKETINFO_H
