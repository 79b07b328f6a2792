#include "crypto/slaes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <openssl/evp.h>

namespace {

// The reference implementation, in CBC without padding like ours; no vector means the zero one.
QByteArray openssl(bool encrypt, const QByteArray &data, const QByteArray &key, QByteArray iv)
{
    if (iv.isEmpty())
        iv.fill('\0', 16);
    auto bytes = [](const QByteArray &b) {
        return reinterpret_cast<const unsigned char *>(b.constData());
    };
    const EVP_CIPHER *cipher =
        EVP_get_cipherbyname(qPrintable(QStringLiteral("aes-%1-cbc").arg(key.size() * 8)));
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
    void matchesOpenSsl();
    void checksInput();
};

void TestSlAes::matchesOpenSsl()
{
    // Random keys, IVs (some left out) and lengths (some zero) reach every table entry and key
    // byte.
    QRandomGenerator rng(0xc0ffee);
    auto random = [&rng](int n) {
        QByteArray bytes(n, '\0');
        rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), n / 4);
        return bytes;
    };
    for (int round = 0; round < 900; ++round) {
        const QByteArray key = random(16 + 8 * (round % 3));
        const QByteArray iv = round % 4 ? random(16) : QByteArray();
        const QByteArray data = random(16 * int(rng.bounded(0, 65)));
        bool encrypted = false, decrypted = false;
        const QByteArray ours = SlAes::encrypt(data, key, iv, &encrypted);
        QCOMPARE(ours.toHex(), openssl(true, data, key, iv).toHex());
        QCOMPARE(SlAes::decrypt(ours, key, iv, &decrypted).toHex(), data.toHex());
        QVERIFY(encrypted && decrypted);
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
        const QByteArray data(c.data, 'x'), key(c.key, 'k'), iv(c.iv, 'i');
        bool encrypted = true, decrypted = true;
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QString(c.reason) + '$'));
        QVERIFY(SlAes::encrypt(data, key, iv, &encrypted).isEmpty() && !encrypted);
        QVERIFY(SlAes::decrypt(data, key, iv, &decrypted).isEmpty() && !decrypted);
    }
}

QTEST_GUILESS_MAIN(TestSlAes)
#include "tst_slaes.moc"
