#include "slaes.h"

#include <QDebug>
#include <QtEndian>

#include <array>
#include <cstring>

namespace {

using Table = std::array<quint32, 256>;

constexpr quint8 rotl8(quint8 x, int shift)
{
    return quint8((x << shift) | (x >> (8 - shift)));
}

constexpr quint8 xtime(quint8 x)
{
    return quint8((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

constexpr quint8 gmul(quint8 a, quint8 b)
{
    quint8 result = 0;
    while (b) {
        if (b & 1)
            result ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return result;
}

constexpr quint32 ror32(quint32 x, int shift)
{
    return (x >> shift) | (x << (32 - shift));
}

constexpr quint32 word(quint8 b0, quint8 b1, quint8 b2, quint8 b3)
{
    return (quint32(b0) << 24) | (quint32(b1) << 16) | (quint32(b2) << 8) | quint32(b3);
}

// Every table of the fast form is derived at compile time from the field
// arithmetic, so no hand-copied constant can be wrong.
struct Tables
{
    std::array<quint8, 256> sbox{};
    std::array<quint8, 256> invSbox{};
    // Inner rounds: SubBytes, ShiftRows and MixColumns for one byte position.
    std::array<Table, 4> te{};
    std::array<Table, 4> td{};
    // Last round: the (inverse) S-box value moved into one byte position.
    std::array<Table, 4> teLast{};
    std::array<Table, 4> tdLast{};
};

constexpr Tables makeTables()
{
    Tables t;
    // Walk the multiplicative group with generator 3; q runs through the
    // inverses, which the affine transform turns into the S-box.
    quint8 p = 1;
    quint8 q = 1;
    do {
        p = quint8(p ^ quint8(p << 1) ^ ((p & 0x80) ? 0x1b : 0x00));
        q = quint8(q ^ (q << 1));
        q = quint8(q ^ (q << 2));
        q = quint8(q ^ (q << 4));
        if (q & 0x80)
            q ^= 0x09;
        const quint8 x = quint8(q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4));
        t.sbox[p] = quint8(x ^ 0x63);
    } while (p != 1);
    t.sbox[0] = 0x63;
    for (int i = 0; i < 256; ++i)
        t.invSbox[t.sbox[i]] = quint8(i);

    for (int i = 0; i < 256; ++i) {
        const quint8 s = t.sbox[i];
        const quint8 si = t.invSbox[i];
        const quint32 e = word(gmul(s, 2), s, s, gmul(s, 3));
        const quint32 d = word(gmul(si, 14), gmul(si, 9), gmul(si, 13), gmul(si, 11));
        for (int r = 0; r < 4; ++r) {
            t.te[r][i] = r ? ror32(e, 8 * r) : e;
            t.td[r][i] = r ? ror32(d, 8 * r) : d;
            t.teLast[r][i] = quint32(s) << (24 - 8 * r);
            t.tdLast[r][i] = quint32(si) << (24 - 8 * r);
        }
    }
    return t;
}

constexpr Tables T = makeTables();

constexpr int MAX_ROUNDS = 14;
constexpr int MAX_SCHEDULE_WORDS = 4 * (MAX_ROUNDS + 1);

// Per-call cipher state: the key schedules and the CBC chaining value.
struct Context
{
    quint32 enc[MAX_SCHEDULE_WORDS] = {};
    // Filled only for decryption.
    quint32 dec[MAX_SCHEDULE_WORDS] = {};
    int nk = 0;
    int nr = 0;
    quint8 chain[SlAes::BLOCK_SIZE] = {};

    ~Context()
    {
        // Do not leave key material on the stack after the call.
        volatile quint8 *p = reinterpret_cast<volatile quint8 *>(this);
        for (size_t i = 0; i < sizeof(*this); ++i)
            p[i] = 0;
    }
};

quint32 subWord(quint32 w)
{
    return word(T.sbox[w >> 24], T.sbox[(w >> 16) & 0xff], T.sbox[(w >> 8) & 0xff],
                T.sbox[w & 0xff]);
}

void expandEncryptionKey(Context &ctx, const quint8 *key)
{
    const int words = 4 * (ctx.nr + 1);
    for (int i = 0; i < ctx.nk; ++i)
        ctx.enc[i] = qFromBigEndian<quint32>(key + 4 * i);
    quint8 rcon = 1;
    for (int i = ctx.nk; i < words; ++i) {
        quint32 temp = ctx.enc[i - 1];
        if (i % ctx.nk == 0) {
            temp = subWord((temp << 8) | (temp >> 24)) ^ (quint32(rcon) << 24);
            rcon = xtime(rcon);
        } else if (ctx.nk > 6 && i % ctx.nk == 4) {
            temp = subWord(temp);
        }
        ctx.enc[i] = ctx.enc[i - ctx.nk] ^ temp;
    }
}

void expandDecryptionKey(Context &ctx)
{
    // Equivalent inverse cipher: round keys in reverse order, the inner ones
    // passed through InvMixColumns (Td of the S-box value is InvMixColumns of
    // that byte alone).
    for (int round = 0; round <= ctx.nr; ++round) {
        for (int c = 0; c < 4; ++c) {
            const quint32 w = ctx.enc[4 * (ctx.nr - round) + c];
            if (round == 0 || round == ctx.nr) {
                ctx.dec[4 * round + c] = w;
            } else {
                ctx.dec[4 * round + c] =
                    T.td[0][T.sbox[w >> 24]] ^ T.td[1][T.sbox[(w >> 16) & 0xff]] ^
                    T.td[2][T.sbox[(w >> 8) & 0xff]] ^ T.td[3][T.sbox[w & 0xff]];
            }
        }
    }
}

inline quint8 b0(quint32 w)
{
    return quint8(w >> 24);
}
inline quint8 b1(quint32 w)
{
    return quint8(w >> 16);
}
inline quint8 b2(quint32 w)
{
    return quint8(w >> 8);
}
inline quint8 b3(quint32 w)
{
    return quint8(w);
}

void encryptBlock(const Context &ctx, const quint8 *in, quint8 *out)
{
    const quint32 *rk = ctx.enc;
    quint32 s0 = qFromBigEndian<quint32>(in) ^ rk[0];
    quint32 s1 = qFromBigEndian<quint32>(in + 4) ^ rk[1];
    quint32 s2 = qFromBigEndian<quint32>(in + 8) ^ rk[2];
    quint32 s3 = qFromBigEndian<quint32>(in + 12) ^ rk[3];
    const auto &te = T.te;
    for (int round = 1; round < ctx.nr; ++round) {
        rk += 4;
        const quint32 t0 = te[0][b0(s0)] ^ te[1][b1(s1)] ^ te[2][b2(s2)] ^ te[3][b3(s3)] ^ rk[0];
        const quint32 t1 = te[0][b0(s1)] ^ te[1][b1(s2)] ^ te[2][b2(s3)] ^ te[3][b3(s0)] ^ rk[1];
        const quint32 t2 = te[0][b0(s2)] ^ te[1][b1(s3)] ^ te[2][b2(s0)] ^ te[3][b3(s1)] ^ rk[2];
        const quint32 t3 = te[0][b0(s3)] ^ te[1][b1(s0)] ^ te[2][b2(s1)] ^ te[3][b3(s2)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto &tl = T.teLast;
    qToBigEndian<quint32>(tl[0][b0(s0)] ^ tl[1][b1(s1)] ^ tl[2][b2(s2)] ^ tl[3][b3(s3)] ^ rk[0],
                          out);
    qToBigEndian<quint32>(tl[0][b0(s1)] ^ tl[1][b1(s2)] ^ tl[2][b2(s3)] ^ tl[3][b3(s0)] ^ rk[1],
                          out + 4);
    qToBigEndian<quint32>(tl[0][b0(s2)] ^ tl[1][b1(s3)] ^ tl[2][b2(s0)] ^ tl[3][b3(s1)] ^ rk[2],
                          out + 8);
    qToBigEndian<quint32>(tl[0][b0(s3)] ^ tl[1][b1(s0)] ^ tl[2][b2(s1)] ^ tl[3][b3(s2)] ^ rk[3],
                          out + 12);
}

void decryptBlock(const Context &ctx, const quint8 *in, quint8 *out)
{
    const quint32 *rk = ctx.dec;
    quint32 s0 = qFromBigEndian<quint32>(in) ^ rk[0];
    quint32 s1 = qFromBigEndian<quint32>(in + 4) ^ rk[1];
    quint32 s2 = qFromBigEndian<quint32>(in + 8) ^ rk[2];
    quint32 s3 = qFromBigEndian<quint32>(in + 12) ^ rk[3];
    const auto &td = T.td;
    for (int round = 1; round < ctx.nr; ++round) {
        rk += 4;
        const quint32 t0 = td[0][b0(s0)] ^ td[1][b1(s3)] ^ td[2][b2(s2)] ^ td[3][b3(s1)] ^ rk[0];
        const quint32 t1 = td[0][b0(s1)] ^ td[1][b1(s0)] ^ td[2][b2(s3)] ^ td[3][b3(s2)] ^ rk[1];
        const quint32 t2 = td[0][b0(s2)] ^ td[1][b1(s1)] ^ td[2][b2(s0)] ^ td[3][b3(s3)] ^ rk[2];
        const quint32 t3 = td[0][b0(s3)] ^ td[1][b1(s2)] ^ td[2][b2(s1)] ^ td[3][b3(s0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto &tl = T.tdLast;
    qToBigEndian<quint32>(tl[0][b0(s0)] ^ tl[1][b1(s3)] ^ tl[2][b2(s2)] ^ tl[3][b3(s1)] ^ rk[0],
                          out);
    qToBigEndian<quint32>(tl[0][b0(s1)] ^ tl[1][b1(s0)] ^ tl[2][b2(s3)] ^ tl[3][b3(s2)] ^ rk[1],
                          out + 4);
    qToBigEndian<quint32>(tl[0][b0(s2)] ^ tl[1][b1(s1)] ^ tl[2][b2(s0)] ^ tl[3][b3(s3)] ^ rk[2],
                          out + 8);
    qToBigEndian<quint32>(tl[0][b0(s3)] ^ tl[1][b1(s2)] ^ tl[2][b2(s1)] ^ tl[3][b3(s0)] ^ rk[3],
                          out + 12);
}

} // namespace

QByteArray SlAes::encrypt(const QByteArray &data, const QByteArray &key, const QByteArray &iv,
                          bool *ok)
{
    return run(DIRECTION_ENCRYPT, data, key, iv, ok);
}

QByteArray SlAes::decrypt(const QByteArray &data, const QByteArray &key, const QByteArray &iv,
                          bool *ok)
{
    return run(DIRECTION_DECRYPT, data, key, iv, ok);
}

QByteArray SlAes::run(Direction direction, const QByteArray &data, const QByteArray &key,
                      const QByteArray &iv, bool *ok)
{
    if (ok)
        *ok = false;
    if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        qDebug() << "SlAes: key length should be 128, 192 or 256 bits";
        return QByteArray();
    }
    if (!iv.isEmpty() && iv.size() != BLOCK_SIZE) {
        qDebug() << "SlAes: initialisation vector should be 16 bytes, got" << iv.size();
        return QByteArray();
    }
    // Whole blocks only: a partial block cannot be a ciphertext of ours and
    // would otherwise have to be padded or read past its end.
    if (data.size() % BLOCK_SIZE != 0) {
        qDebug() << "SlAes: data length should be a multiple of 16 bytes, got" << data.size();
        return QByteArray();
    }
    Context ctx;
    ctx.nk = key.size() / 4;
    ctx.nr = ctx.nk + 6;
    expandEncryptionKey(ctx, reinterpret_cast<const quint8 *>(key.constData()));
    if (direction == DIRECTION_DECRYPT)
        expandDecryptionKey(ctx);
    // An empty iv leaves the chaining value at its sixteen zero bytes.
    if (!iv.isEmpty())
        std::memcpy(ctx.chain, iv.constData(), sizeof(ctx.chain));

    QByteArray out(data.size(), Qt::Uninitialized);
    const quint8 *src = reinterpret_cast<const quint8 *>(data.constData());
    quint8 *dst = reinterpret_cast<quint8 *>(out.data());
    quint8 block[BLOCK_SIZE];
    for (int offset = 0; offset < data.size(); offset += BLOCK_SIZE) {
        if (direction == DIRECTION_ENCRYPT) {
            for (int i = 0; i < BLOCK_SIZE; ++i)
                block[i] = src[offset + i] ^ ctx.chain[i];
            encryptBlock(ctx, block, dst + offset);
            std::memcpy(ctx.chain, dst + offset, BLOCK_SIZE);
        } else {
            decryptBlock(ctx, src + offset, block);
            for (int i = 0; i < BLOCK_SIZE; ++i)
                dst[offset + i] = block[i] ^ ctx.chain[i];
            std::memcpy(ctx.chain, src + offset, BLOCK_SIZE);
        }
    }
    if (ok)
        *ok = true;
    return out;
}
