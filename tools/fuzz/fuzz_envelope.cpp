// Opening an envelope that came off the wire or out of storage, in both modes,
// with a fixed key; whatever opens must seal again.
#include "crypto/slaesenvelope.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    if (size < 1)
        return 0;
    const int mode = data[0] & 1 ? SlAesEnvelope::MODE_DIGEST : SlAesEnvelope::MODE_PLAIN;
    const QByteArray envelope(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    const SlAesEnvelope aes(key, mode);
    bool ok = false;
    const QByteArray plain = aes.decrypt(envelope, &ok);
    if (ok) {
        bool sealed = false;
        const QByteArray again = aes.encrypt(plain, &sealed);
        if (!sealed || again.size() != SlAesEnvelope::envelopeSize(plain.size(), mode))
            __builtin_trap();
    }
    return 0;
}
