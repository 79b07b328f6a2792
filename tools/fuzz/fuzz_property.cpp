// Field decoding and text-to-value conversion for every field type: the first
// byte picks the type (out-of-range types included), the rest is the field's
// bytes and, read as UTF-8, the text a user typed.
#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qint32 type = qint32(data[0] % 16);
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    const QVariant decoded = SlProperty::decode(type, bytes);
    QByteArray out;
    if (decoded.isValid())
        SlProperty::encode(type, decoded, &out);

    const QVariant typed = SlProperty::valueFromString(type, QString::fromUtf8(bytes));
    if (typed.isValid()) {
        out.clear();
        SlProperty::encode(type, typed, &out);
    }
    return 0;
}
