#include "slaesenvelope.h"

#include "slaes.h"

#include <QDebug>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QtEndian>

namespace {

// Compares without an early exit, so the time taken does not tell how many
// leading bytes of a forged digest were right.
bool equalDigests(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    quint8 diff = 0;
    for (int i = 0; i < a.size(); ++i)
        diff |= quint8(a.at(i) ^ b.at(i));
    return diff == 0;
}

int paddedLength(int plainLength)
{
    // An empty value still gets one block, so every envelope has ciphertext.
    return ((plainLength - 1) / SlAes::BLOCK_SIZE + 1) * SlAes::BLOCK_SIZE;
}

} // namespace

SlAesEnvelope::SlAesEnvelope(const QByteArray &key, int mode)
    : m_key(key)
    , m_mode(mode == MODE_PLAIN ? MODE_PLAIN : MODE_DIGEST)
{}

int SlAesEnvelope::envelopeSize(int plainLength, int mode)
{
    return (mode == MODE_PLAIN ? 0 : DIGEST_SIZE) + IV_SIZE + LENGTH_SIZE +
           (plainLength <= 0 ? SlAes::BLOCK_SIZE : paddedLength(plainLength));
}

QByteArray SlAesEnvelope::digest(const QByteArray &body) const
{
    // Keyed, so a value written with another key (another computer) or
    // altered by someone who can recompute a plain hash fails the check.
    return QMessageAuthenticationCode::hash(body, m_key, QCryptographicHash::Md5);
}

QByteArray SlAesEnvelope::encrypt(const QByteArray &plain, bool *ok) const
{
    if (ok)
        *ok = false;
    // A predictable or repeated IV would let equal values be recognised, so
    // it comes from the system's secure random source.
    quint32 ivWords[IV_SIZE / 4];
    QRandomGenerator::system()->fillRange(ivWords);
    const QByteArray iv(reinterpret_cast<const char *>(ivWords), IV_SIZE);

    QByteArray padded = plain;
    padded.append(QByteArray(paddedLength(plain.size()) - plain.size(), '\0'));

    bool encrypted = false;
    const QByteArray cipher = SlAes::encrypt(padded, m_key, iv, &encrypted);
    if (!encrypted) {
        qDebug() << "SlAesEnvelope::encrypt: cannot encrypt with a key of" << m_key.size()
                 << "bytes";
        return QByteArray();
    }

    QByteArray body;
    body.reserve(IV_SIZE + LENGTH_SIZE + cipher.size());
    body.append(iv);
    char length[LENGTH_SIZE];
    qToBigEndian<quint32>(quint32(plain.size()), length);
    body.append(length, LENGTH_SIZE);
    body.append(cipher);

    if (ok)
        *ok = true;
    if (m_mode == MODE_PLAIN)
        return body;
    return digest(body) + body;
}

QByteArray SlAesEnvelope::decrypt(const QByteArray &envelope, bool *ok) const
{
    if (ok)
        *ok = false;
    const int head = m_mode == MODE_PLAIN ? 0 : DIGEST_SIZE;
    // Every envelope we write carries at least one block of ciphertext.
    if (envelope.size() < head + IV_SIZE + LENGTH_SIZE + SlAes::BLOCK_SIZE) {
        qDebug() << "SlAesEnvelope::decrypt: envelope too short:" << envelope.size();
        return QByteArray();
    }
    const QByteArray body = envelope.mid(head);
    if (m_mode == MODE_DIGEST && !equalDigests(envelope.left(DIGEST_SIZE), digest(body))) {
        qDebug() << "SlAesEnvelope::decrypt: digest mismatch";
        return QByteArray();
    }
    const QByteArray iv = body.left(IV_SIZE);
    const quint32 length = qFromBigEndian<quint32>(body.constData() + IV_SIZE);
    const QByteArray cipher = body.mid(IV_SIZE + LENGTH_SIZE);

    bool decrypted = false;
    QByteArray plain = SlAes::decrypt(cipher, m_key, iv, &decrypted);
    if (!decrypted) {
        qDebug() << "SlAesEnvelope::decrypt: malformed ciphertext";
        return QByteArray();
    }
    if (length < quint32(plain.size()))
        plain.truncate(int(length));
    if (ok)
        *ok = true;
    return plain;
}
