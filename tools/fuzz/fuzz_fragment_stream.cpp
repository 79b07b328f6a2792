// Reassembly of fragments read from a stream link, where a fragment may be split
// over reads: the first byte chooses where the reads end.
#include "device/slwfragmentator.h"
#include "feedsocket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int readSize = 1 + data[0];
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    // The link takes the raw device over and deletes it with itself.
    auto *socket = new FeedSocket;
    SlWFragmentator link(socket);
    QObject::connect(&link, &QIODevice::readyRead, &link, [&link] {
        link.seek(0);
        link.readAll();
    });
    for (int at = 0; at < input.size(); at += readSize)
        socket->feed(input.mid(at, readSize));
    return 0;
}
