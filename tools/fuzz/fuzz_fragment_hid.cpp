// Reassembly of fragments read from the HID link: each read is a run of whole
// reports, so the input is cut into reads of a length its first byte chooses.
#include "device/slwfragmentator.h"
#include "feeddevice.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int reportsPerRead = 1 + data[0] % 4;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    // The link takes the raw device over and deletes it with itself.
    auto *device = new FeedDevice;
    SlWFragmentator link(device);
    QObject::connect(&link, &QIODevice::readyRead, &link, [&link] {
        link.seek(0);
        link.readAll();
    });
    const int step = reportsPerRead * SlWFragmentator::FragmentSize;
    for (int at = 0; at < input.size(); at += step)
        device->feed(input.mid(at, step));
    return 0;
}
