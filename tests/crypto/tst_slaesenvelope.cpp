#include "crypto/slaes.h"
#include "crypto/slaesenvelope.h"

#include <QMessageAuthenticationCode>
#include <QtEndian>
#include <QtTest>

namespace {

const QByteArray KEY = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f1011121314151617");

QByteArray pattern(int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

} // namespace

class TestSlAesEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void freshIvEachTime();
    void tamperingAnyByteFails();
    void truncationFails();
    void otherKeyFails();
    void plainModeHasNoCheck();
    void plainModeOfReceivedKey();
    void refusesInvalidKey();
    void plainModeRejectsPartialBlocks();
};

void TestSlAesEnvelope::initTestCase()
{
    // Failures log on purpose; the messages are not what these tests check.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestSlAesEnvelope::layout_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("size");

    const struct
    {
        int length;
        int blocks;
    } cases[] = {{0, 1}, {1, 1}, {5, 1}, {15, 1}, {16, 1}, {17, 2}, {32, 2}, {1000, 63}};
    for (const auto &c : cases) {
        QTest::addRow("digest, %d bytes", c.length) << 1 << c.length << 36 + 16 * c.blocks;
        QTest::addRow("plain, %d bytes", c.length) << 0 << c.length << 20 + 16 * c.blocks;
    }
}

void TestSlAesEnvelope::layout()
{
    QFETCH(int, mode);
    QFETCH(int, length);
    QFETCH(int, size);

    const QByteArray plain = pattern(length);
    const SlAesEnvelope envelope(KEY, mode);
    bool ok = false;
    const QByteArray sealed = envelope.encrypt(plain, &ok);
    QVERIFY(ok);
    QCOMPARE(sealed.size(), size);
    QCOMPARE(SlAesEnvelope::envelopeSize(length, mode), size);

    // Take the parts apart by hand, as a reader of the stored bytes would.
    const int head = mode == 1 ? 16 : 0;
    const QByteArray iv = sealed.mid(head, 16);
    QCOMPARE(qFromBigEndian<quint32>(sealed.constData() + head + 16), quint32(length));
    const QByteArray cipher = sealed.mid(head + 20);
    QByteArray padded = plain;
    padded.append(QByteArray(cipher.size() - length, '\0'));
    QCOMPARE(SlAes::decrypt(cipher, KEY, iv), padded);
    if (mode == 1) {
        QCOMPARE(sealed.left(16),
                 QMessageAuthenticationCode::hash(sealed.mid(16), KEY, QCryptographicHash::Md5));
    }

    ok = false;
    const QByteArray opened = envelope.decrypt(sealed, &ok);
    QVERIFY(ok);
    QCOMPARE(opened, plain);
}

void TestSlAesEnvelope::freshIvEachTime()
{
    const SlAesEnvelope envelope(KEY, 1);
    QSet<QByteArray> ivs;
    for (int i = 0; i < 100; ++i)
        ivs.insert(envelope.encrypt("same value").mid(16, 16));
    QCOMPARE(ivs.size(), 100);
}

void TestSlAesEnvelope::tamperingAnyByteFails()
{
    const SlAesEnvelope envelope(KEY, 1);
    const QByteArray sealed = envelope.encrypt("a setting worth protecting");
    for (int pos = 0; pos < sealed.size(); ++pos) {
        for (quint8 flip : {quint8(0x01), quint8(0x80), quint8(0xff)}) {
            QByteArray changed = sealed;
            changed[pos] = char(changed.at(pos) ^ flip);
            bool ok = true;
            const QByteArray opened = envelope.decrypt(changed, &ok);
            QVERIFY2(!ok, qPrintable(QStringLiteral("position %1").arg(pos)));
            QVERIFY(opened.isEmpty());
        }
    }
}

void TestSlAesEnvelope::truncationFails()
{
    const SlAesEnvelope envelope(KEY, 1);
    const QByteArray sealed = envelope.encrypt(pattern(40));
    for (int n = 0; n < sealed.size(); ++n) {
        bool ok = true;
        QVERIFY(envelope.decrypt(sealed.left(n), &ok).isEmpty());
        QVERIFY2(!ok, qPrintable(QStringLiteral("cut to %1 bytes").arg(n)));
    }
    bool ok = true;
    QVERIFY(envelope.decrypt(sealed + 'x', &ok).isEmpty());
    QVERIFY(!ok);
}

void TestSlAesEnvelope::otherKeyFails()
{
    QByteArray otherKey = KEY;
    otherKey[23] = char(otherKey.at(23) ^ 1);
    const QByteArray sealed = SlAesEnvelope(KEY, 1).encrypt("user record");
    bool ok = true;
    QVERIFY(SlAesEnvelope(otherKey, 1).decrypt(sealed, &ok).isEmpty());
    QVERIFY(!ok);
}

void TestSlAesEnvelope::plainModeHasNoCheck()
{
    QByteArray otherKey = KEY;
    otherKey[0] = char(otherKey.at(0) ^ 1);
    const QByteArray sealed = SlAesEnvelope(KEY, 0).encrypt("0123456789");
    bool ok = false;
    const QByteArray garbage = SlAesEnvelope(otherKey, 0).decrypt(sealed, &ok);
    QVERIFY(ok);
    QCOMPARE(garbage.size(), 10);
    QVERIFY(garbage != "0123456789");
}

void TestSlAesEnvelope::plainModeOfReceivedKey()
{
    // The shape a gadget registration delivers: IV, length, then ciphertext
    // with trailing bytes beyond the length that are ignored.
    const QByteArray serverKey = pattern(24);
    const QByteArray iv = QByteArray::fromHex("f0e1d2c3b4a5968778695a4b3c2d1e0f");
    const QByteArray deviceKey = QByteArray::fromHex("00112233445566778899aabbccddeeff0102");
    QByteArray padded = deviceKey + QByteArray(14, '\x55');
    QByteArray received = iv;
    char length[4];
    qToBigEndian<quint32>(quint32(deviceKey.size()), length);
    received.append(length, 4);
    received.append(SlAes::encrypt(padded, serverKey, iv));

    bool ok = false;
    QCOMPARE(SlAesEnvelope(serverKey, 0).decrypt(received, &ok), deviceKey);
    QVERIFY(ok);

    // A length beyond the ciphertext yields all of it.
    qToBigEndian<quint32>(1000u, received.data() + 16);
    QCOMPARE(SlAesEnvelope(serverKey, 0).decrypt(received, &ok), padded);
    QVERIFY(ok);
}

void TestSlAesEnvelope::refusesInvalidKey()
{
    for (int mode : {0, 1}) {
        bool ok = true;
        QVERIFY(SlAesEnvelope(QByteArray(20, 'k'), mode).encrypt("value", &ok).isEmpty());
        QVERIFY(!ok);
        const QByteArray sealed = SlAesEnvelope(KEY, mode).encrypt("value");
        ok = true;
        QVERIFY(SlAesEnvelope(QByteArray(20, 'k'), mode).decrypt(sealed, &ok).isEmpty());
        QVERIFY(!ok);
    }
}

void TestSlAesEnvelope::plainModeRejectsPartialBlocks()
{
    const QByteArray sealed = SlAesEnvelope(KEY, 0).encrypt("value");
    for (int cut = 1; cut <= 16; ++cut) {
        bool ok = true;
        QVERIFY(SlAesEnvelope(KEY, 0).decrypt(sealed.left(sealed.size() - cut), &ok).isEmpty());
        QVERIFY(!ok);
    }
}

QTEST_GUILESS_MAIN(TestSlAesEnvelope)
#include "tst_slaesenvelope.moc"
