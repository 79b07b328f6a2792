// Version texts from the service: application triples and firmware dates.
#include "model/slfirmwarever.h"
#include "update/slappversion.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const SlAppVersion app = SlAppVersion::fromText(text);
    // A parsed version reads back as itself.
    if (!(SlAppVersion::fromText(app.toText()) == app))
        __builtin_trap();
    const SlFirmwareVer firmware = SlFirmwareVer::fromText(text);
    if (!firmware.isNull() && (firmware.month < 1 || firmware.month > 12 || firmware.day < 1))
        __builtin_trap();
    return 0;
}
