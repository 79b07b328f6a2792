#include "simfirmwarereceiver.h"

#include "simcrc32.h"

#include <QtEndian>

SimFirmwareReceiver::Result SimFirmwareReceiver::take(quint32 address, const QByteArray &data)
{
    Result r;
    const quint32 rel = address - FirmwareBase;
    if (rel == 0) {
        image = data;
    } else if (rel == quint32(image.size())) {
        // A later packet continues the image where the previous one ended.
        image.append(data);
    } else {
        r.gap = true;
        image.clear();
        return r;
    }
    if (image.size() < 4) {
        r.imageSize = image.size();
        return r;
    }
    r.imageSize = image.size() - 4;
    r.computed = SimCrc32::compute(image.left(r.imageSize));
    r.stored = qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(image.constData()) +
                                          r.imageSize);
    r.ok = r.computed == r.stored;
    return r;
}
