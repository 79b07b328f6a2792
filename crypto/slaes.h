#pragma once

#include <QByteArray>

// AES block cipher (128-, 192- and 256-bit keys) in CBC mode, without padding.
// Each call expands its own key schedule, so the functions are safe to call
// from any thread.
class SlAes
{
public:
    static constexpr int BLOCK_SIZE = 16;

    // CBC over the whole of data; the result has the length of data. An empty
    // iv means sixteen zero bytes. A key that is not 16, 24 or 32 bytes long,
    // an iv of another length than 0 or 16, or data that is not made of whole
    // blocks gives an empty result and *ok = false.
    static QByteArray encrypt(const QByteArray &data, const QByteArray &key,
                              const QByteArray &iv = QByteArray(), bool *ok = nullptr);
    static QByteArray decrypt(const QByteArray &data, const QByteArray &key,
                              const QByteArray &iv = QByteArray(), bool *ok = nullptr);

private:
    enum Direction { DIRECTION_ENCRYPT, DIRECTION_DECRYPT };
    static QByteArray run(Direction direction, const QByteArray &data, const QByteArray &key,
                          const QByteArray &iv, bool *ok);
};
