#include "crypto/slaes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <openssl/evp.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The reference implementation, in CBC without padding like ours.
QByteArray openssl(bool encrypt, const QByteArray &data, const QByteArray &key,
                   const QByteArray &iv)
{
    auto bytes = [](const QByteArray &b) {
        return reinterpret_cast<const unsigned char *>(b.constData());
    };
    const EVP_CIPHER *cipher = key.size() == 16   ? EVP_aes_128_cbc()
                               : key.size() == 24 ? EVP_aes_192_cbc()
                                                  : EVP_aes_256_cbc();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(data.size(), '\0');
    int written = 0;
    const bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, bytes(key), bytes(iv), encrypt) &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) &&
                    EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &written,
                                     bytes(data), data.size());
    EVP_CIPHER_CTX_free(ctx);
    return ok && written == data.size() ? out : QByteArray("openssl failed");
}

} // namespace

class TestSlAes : public QObject
{
    Q_OBJECT

private slots:
    void knownAnswer();
    void matchesOpenSsl();
    void checksInput();
};

void TestSlAes::knownAnswer()
{
    // FIPS-197 appendices B and C: with the empty (zero) IV, CBC of one block
    // is the bare cipher. SP 800-38A F.2.1, F.2.3, F.2.5: four chained blocks.
    const char *c = "00112233445566778899aabbccddeeff";
    const char *iv = "000102030405060708090a0b0c0d0e0f";
    const char *f = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    const char *const vectors[][4] = {
        // key, iv, plain, cipher
        {"2b7e151628aed2a6abf7158809cf4f3c", "", "3243f6a8885a308d313198a2e0370734",
         "3925841d02dc09fbdc118597196a0b32"},
        {iv, "", c, "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "", c,
         "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "", c,
         "8ea2b7ca516745bfeafc49904b496089"},
        {"2b7e151628aed2a6abf7158809cf4f3c", iv, f,
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", iv, f,
         "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
         "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", iv, f,
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"}};
    for (const auto &v : vectors) {
        const QByteArray key = hex(v[0]), vector = hex(v[1]), plain = hex(v[2]);
        bool ok = false;
        QCOMPARE(SlAes::encrypt(plain, key, vector, &ok).toHex(), QByteArray(v[3]));
        QVERIFY(ok);
        ok = false;
        QCOMPARE(SlAes::decrypt(hex(v[3]), key, vector, &ok), plain);
        QVERIFY(ok);
    }
}

void TestSlAes::matchesOpenSsl()
{
    // Random keys, IVs and lengths reach table entries and key bytes that the
    // few published vectors leave out.
    QRandomGenerator rng(0xc0ffee);
    auto random = [&rng](int n) {
        QByteArray bytes(n, '\0');
        for (char &b : bytes)
            b = char(rng.bounded(256));
        return bytes;
    };
    for (int round = 0; round < 900; ++round) {
        const QByteArray key = random(16 + 8 * (round % 3));
        const QByteArray iv = random(16);
        const QByteArray data = random(16 * int(rng.bounded(0, 65)));
        const QByteArray ours = SlAes::encrypt(data, key, iv);
        QCOMPARE(ours.toHex(), openssl(true, data, key, iv).toHex());
        QCOMPARE(SlAes::decrypt(ours, key, iv).toHex(), data.toHex());
        // Decrypting arbitrary bytes must agree too, not only our own output.
        QCOMPARE(SlAes::decrypt(data, key, iv).toHex(), openssl(false, data, key, iv).toHex());
    }
}

void TestSlAes::checksInput()
{
    // Sizes of data, key and iv, and the end of the reason logged.
    const struct
    {
        int data, key, iv;
        const char *reason;
    } refused[] = {{16, 0, 0, "256 bits"},       {16, 20, 0, "256 bits"},
                   {16, 33, 0, "256 bits"},      {15, 16, 0, "bytes, got 15"},
                   {17, 32, 0, "bytes, got 17"}, {16, 16, 8, "vector should be 16 bytes, got 8"}};
    for (const auto &c : refused) {
        for (bool encrypt : {true, false}) {
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QString(c.reason) + '$'));
            const QByteArray data(c.data, 'x'), key(c.key, 'k'), iv(c.iv, 'i');
            bool ok = true;
            QVERIFY(
                (encrypt ? SlAes::encrypt(data, key, iv, &ok) : SlAes::decrypt(data, key, iv, &ok))
                    .isEmpty());
            QVERIFY(!ok);
        }
    }
    // No data at all is a valid, empty message.
    bool ok = false;
    QVERIFY(SlAes::decrypt(QByteArray(), QByteArray(24, 'k'), QByteArray(), &ok).isEmpty());
    QVERIFY(ok);
}

QTEST_GUILESS_MAIN(TestSlAes)
#include "tst_slaes.moc"
