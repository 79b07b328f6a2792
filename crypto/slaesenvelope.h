#pragma once

#include <QByteArray>

// The container in which AES-CBC data is stored and received: an optional
// 16-byte digest, the 16-byte initialisation vector, the plaintext length
// (4 bytes, big-endian) and the ciphertext of the zero-padded plaintext.
class SlAesEnvelope
{
public:
    enum Mode {
        MODE_PLAIN = 0, // IV, length, ciphertext: no check at all
        MODE_DIGEST = 1 // digest, IV, length, ciphertext
    };

    static constexpr int DIGEST_SIZE = 16;
    static constexpr int IV_SIZE = 16;
    static constexpr int LENGTH_SIZE = 4;

    SlAesEnvelope(const QByteArray &key, int mode);

    QByteArray key() const { return m_key; }
    int mode() const { return m_mode; }

    // Empty result and *ok = false when the key is not a valid AES key.
    QByteArray encrypt(const QByteArray &plain, bool *ok = nullptr) const;
    // Empty result and *ok = false for a short or malformed envelope and, in
    // the digest mode, for one that fails the check.
    QByteArray decrypt(const QByteArray &envelope, bool *ok = nullptr) const;

    // Size of the envelope of a plaintext of the given length.
    static int envelopeSize(int plainLength, int mode);

private:
    QByteArray digest(const QByteArray &body) const;

    QByteArray m_key;
    int m_mode;
};
