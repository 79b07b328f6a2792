// Stored values that someone tampered with: the first byte picks the setting,
// the rest becomes its value (sealed by the store as usual, so the readers see
// exactly these bytes), and the device record's stored form is read directly.
#include "storage/sldevicerecord.h"
#include "storage/slwatchsettings.h"
#include "web/sluser.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    static SlWatchSettings settings(folder.path(), folder.path() + QStringLiteral("/legacy"),
                                    SlWatchSettings::storageKeyFor(QByteArray(20, '\x5a')));
    if (size < 1)
        return 0;
    const QByteArray value(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    SlDeviceRecord record;
    SlDeviceRecord::fromStoredForm(value, &record);

    switch (data[0] % 4) {
    case 0: {
        settings.writeSetting(QStringLiteral("user"), value);
        SlUser user;
        settings.loadUser(&user);
        break;
    }
    case 1:
        settings.writeSetting(QStringLiteral("version"), value);
        settings.version();
        break;
    case 2:
        settings.writeSetting(QStringLiteral("isFirstRunFlag"), value);
        settings.isFirstRun();
        break;
    default:
        settings.writeSetting(QStringLiteral("banner_link"), value);
        settings.bannerLink();
        break;
    }
    return 0;
}
