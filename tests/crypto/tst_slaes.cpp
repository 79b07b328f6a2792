#include "crypto/slaes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <openssl/evp.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray counting(int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = char(i);
    return bytes;
}

const EVP_CIPHER *opensslCipher(int keySize)
{
    switch (keySize) {
    case 16:
        return EVP_aes_128_cbc();
    case 24:
        return EVP_aes_192_cbc();
    default:
        return EVP_aes_256_cbc();
    }
}

QByteArray openssl(bool encrypt, const QByteArray &data, const QByteArray &key,
                   const QByteArray &iv)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(data.size() + 16, '\0');
    int written = 0;
    int final = 0;
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *v = reinterpret_cast<const unsigned char *>(iv.constData());
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    const auto *in = reinterpret_cast<const unsigned char *>(data.constData());
    bool ok = EVP_CipherInit_ex(ctx, opensslCipher(key.size()), nullptr, k, v, encrypt ? 1 : 0) &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) &&
              EVP_CipherUpdate(ctx, o, &written, in, data.size()) &&
              EVP_CipherFinal_ex(ctx, o + written, &final);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return QByteArray("openssl failed");
    out.truncate(written + final);
    return out;
}

QByteArray randomBytes(QRandomGenerator &rng, int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = char(rng.bounded(256));
    return bytes;
}

} // namespace

class TestSlAes : public QObject
{
    Q_OBJECT

private slots:
    void knownAnswer_data();
    void knownAnswer();
    void matchesOpenSsl_data();
    void matchesOpenSsl();
    void chainingCarriesAcrossBlocks();
    void refusesBadInput_data();
    void refusesBadInput();
    void emptyIvIsZero();
};

void TestSlAes::knownAnswer_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");

    // Single blocks of the standard's appendices: with a zero IV, CBC of one
    // block is the bare cipher.
    const QByteArray plainC = hex("00112233445566778899aabbccddeeff");
    QTest::newRow("fips197 B aes128")
        << hex("2b7e151628aed2a6abf7158809cf4f3c") << QByteArray()
        << hex("3243f6a8885a308d313198a2e0370734") << hex("3925841d02dc09fbdc118597196a0b32");
    QTest::newRow("fips197 C.1 aes128")
        << counting(16) << QByteArray() << plainC << hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("fips197 C.2 aes192")
        << counting(24) << QByteArray() << plainC << hex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("fips197 C.3 aes256")
        << counting(32) << QByteArray() << plainC << hex("8ea2b7ca516745bfeafc49904b496089");

    // Four-block CBC examples of SP 800-38A, F.2.
    const QByteArray iv = counting(16);
    const QByteArray plain = hex("6bc1bee22e409f96e93d7e117393172a"
                                 "ae2d8a571e03ac9c9eb76fac45af8e51"
                                 "30c81c46a35ce411e5fbc1191a0a52ef"
                                 "f69f2445df4f9b17ad2b417be66c3710");
    QTest::newRow("sp800-38a F.2.1 cbc-aes128")
        << hex("2b7e151628aed2a6abf7158809cf4f3c") << iv << plain
        << hex("7649abac8119b246cee98e9b12e9197d"
               "5086cb9b507219ee95db113a917678b2"
               "73bed6b8e3c1743b7116e69e22229516"
               "3ff1caa1681fac09120eca307586e1a7");
    QTest::newRow("sp800-38a F.2.3 cbc-aes192")
        << hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b") << iv << plain
        << hex("4f021db243bc633d7178183a9fa071e8"
               "b4d9ada9ad7dedf4e5e738763f69145a"
               "571b242012fb7ae07fa9baac3df102e0"
               "08b0e27988598881d920a9e64f5615cd");
    QTest::newRow("sp800-38a F.2.5 cbc-aes256")
        << hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4") << iv << plain
        << hex("f58c4c04d6e5f1ba779eabfb5f7bfbd6"
               "9cfc4e967edb808d679f777bc6702c7d"
               "39f23369a9d9bacfa530e26304231461"
               "b2eb05e2c39be9fcda6c19078c6a9d1b");
}

void TestSlAes::knownAnswer()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);

    bool ok = false;
    QCOMPARE(SlAes::encrypt(plain, key, iv, &ok).toHex(), cipher.toHex());
    QVERIFY(ok);
    ok = false;
    QCOMPARE(SlAes::decrypt(cipher, key, iv, &ok).toHex(), plain.toHex());
    QVERIFY(ok);
}

void TestSlAes::matchesOpenSsl_data()
{
    QTest::addColumn<int>("keySize");
    QTest::newRow("aes128") << 16;
    QTest::newRow("aes192") << 24;
    QTest::newRow("aes256") << 32;
}

void TestSlAes::matchesOpenSsl()
{
    QFETCH(int, keySize);
    QRandomGenerator rng(quint32(0xc0ffee + keySize));
    for (int round = 0; round < 300; ++round) {
        const QByteArray key = randomBytes(rng, keySize);
        const QByteArray iv = randomBytes(rng, 16);
        const QByteArray data = randomBytes(rng, 16 * int(rng.bounded(0, 65)));
        const QByteArray ours = SlAes::encrypt(data, key, iv);
        const QByteArray theirs = openssl(true, data, key, iv);
        QCOMPARE(ours.toHex(), theirs.toHex());
        QCOMPARE(SlAes::decrypt(ours, key, iv).toHex(), data.toHex());
        // Decrypting arbitrary bytes must agree too, not only our own output.
        QCOMPARE(SlAes::decrypt(data, key, iv).toHex(), openssl(false, data, key, iv).toHex());
    }
}

void TestSlAes::chainingCarriesAcrossBlocks()
{
    // Two equal plaintext blocks must give different ciphertext blocks, and
    // a change in the first block must reach the last one.
    const QByteArray key = counting(24);
    const QByteArray iv(16, '\x11');
    const QByteArray plain(64, 'A');
    const QByteArray cipher = SlAes::encrypt(plain, key, iv);
    QCOMPARE(cipher.size(), 64);
    QVERIFY(cipher.mid(0, 16) != cipher.mid(16, 16));
    QByteArray changed = plain;
    changed[0] = 'B';
    QVERIFY(SlAes::encrypt(changed, key, iv).mid(48) != cipher.mid(48));
}

void TestSlAes::refusesBadInput_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");
    QTest::addColumn<QString>("message");

    const QString keyMessage = QStringLiteral("SlAes: key length should be 128, 192 or 256 bits");
    QTest::newRow("empty key") << QByteArray(16, 'x') << QByteArray() << QByteArray() << keyMessage;
    QTest::newRow("20-byte key") << QByteArray(16, 'x') << QByteArray(20, 'k') << QByteArray()
                                 << keyMessage;
    QTest::newRow("33-byte key") << QByteArray(16, 'x') << QByteArray(33, 'k') << QByteArray()
                                 << keyMessage;
    QTest::newRow("15 bytes of data")
        << QByteArray(15, 'x') << QByteArray(16, 'k') << QByteArray()
        << QStringLiteral("SlAes: data length should be a multiple of 16 bytes, got 15");
    QTest::newRow("17 bytes of data")
        << QByteArray(17, 'x') << QByteArray(32, 'k') << QByteArray()
        << QStringLiteral("SlAes: data length should be a multiple of 16 bytes, got 17");
    QTest::newRow("8-byte iv") << QByteArray(16, 'x') << QByteArray(16, 'k') << QByteArray(8, 'i')
                               << QStringLiteral(
                                      "SlAes: initialisation vector should be 16 bytes, got 8");
}

void TestSlAes::refusesBadInput()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);
    QFETCH(QString, message);

    for (bool encrypt : {true, false}) {
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
        bool ok = true;
        const QByteArray out =
            encrypt ? SlAes::encrypt(data, key, iv, &ok) : SlAes::decrypt(data, key, iv, &ok);
        QVERIFY(out.isEmpty());
        QVERIFY(!ok);
    }
}

void TestSlAes::emptyIvIsZero()
{
    const QByteArray key = counting(32);
    const QByteArray data = counting(48);
    QCOMPARE(SlAes::encrypt(data, key), SlAes::encrypt(data, key, QByteArray(16, '\0')));
    QCOMPARE(SlAes::encrypt(data, key), openssl(true, data, key, QByteArray(16, '\0')));
    bool ok = false;
    QVERIFY(SlAes::encrypt(QByteArray(), key, QByteArray(), &ok).isEmpty());
    QVERIFY(ok);
}

QTEST_GUILESS_MAIN(TestSlAes)
#include "tst_slaes.moc"
