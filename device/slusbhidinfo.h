#ifndef SLUSBHIDINFO_H
#define SLUSBHIDINFO_H

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// Identity and path of one enumerated HID device.
struct SlUSBHIDInfo
{
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString path;
    QString serialNumber;
    QString manufacturer;
    QString product;

    bool operator==(const SlUSBHIDInfo &other) const
    {
        return vendorId == other.vendorId && productId == other.productId && path == other.path &&
               serialNumber == other.serialNumber && manufacturer == other.manufacturer &&
               product == other.product;
    }
    bool operator!=(const SlUSBHIDInfo &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(SlUSBHIDInfo)

#endif // SLUSBHIDINFO_H
