// The watch's packets into the mirror and the property tree: the input is what
// the watch sends, whole reports, read in one go.
#include "feeddevice.h"
#include "model/ggadget.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The link takes the raw device over and deletes it with itself.
    auto *device = new FeedDevice;
    GGadget gadget(device);
    device->feed(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    gadget.paramsModel();
    gadget.statisticsModel();
    gadget.properties();
    return 0;
}
