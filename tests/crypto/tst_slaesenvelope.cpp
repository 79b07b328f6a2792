#include "crypto/slaes.h"
#include "crypto/slaesenvelope.h"

#include <QMessageAuthenticationCode>
#include <QtEndian>
#include <QtTest>

const QByteArray KEY = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f1011121314151617");

class TestSlAesEnvelope : public QObject
{
    Q_OBJECT

private slots:
    // Failures log on purpose; the messages are not what these tests check.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void layout_data();
    void layout();
    void refusals();
    void receivedPlainEnvelope();
};

void TestSlAesEnvelope::layout_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("blocks");
    for (int mode : {0, 1}) {
        for (const auto &b : {QPoint(0, 1), QPoint(1, 1), QPoint(15, 1), QPoint(16, 1),
                              QPoint(17, 2), QPoint(1000, 63)})
            QTest::addRow("mode %d, %d bytes", mode, b.x()) << mode << b.x() << b.y();
    }
}

void TestSlAesEnvelope::layout()
{
    QFETCH(int, mode);
    QFETCH(int, length);
    QFETCH(int, blocks);
    const int head = 16 * mode;
    const QByteArray plain(length, 'p');
    const SlAesEnvelope envelope(KEY, mode);
    bool sealedOk = false, openedOk = false;
    const QByteArray sealed = envelope.encrypt(plain, &sealedOk);
    QCOMPARE(sealed.size(), head + 20 + 16 * blocks);
    QCOMPARE(SlAesEnvelope::envelopeSize(length, mode), sealed.size());

    // Read the fields by hand, as a reader of the stored bytes would.
    QCOMPARE(qFromBigEndian<quint32>(sealed.constData() + head + 16), quint32(length));
    const QByteArray cipher = sealed.mid(head + 20);
    QCOMPARE(SlAes::decrypt(cipher, KEY, sealed.mid(head, 16)),
             plain + QByteArray(cipher.size() - length, '\0'));
    if (mode == 1)
        QCOMPARE(sealed.left(16),
                 QMessageAuthenticationCode::hash(sealed.mid(16), KEY, QCryptographicHash::Md5));
    // Equal values must not be recognisable by their envelopes.
    QVERIFY(envelope.encrypt(plain).mid(head, 16) != sealed.mid(head, 16));
    QCOMPARE(envelope.decrypt(sealed, &openedOk), plain);
    QVERIFY(sealedOk && openedOk);
}

void TestSlAesEnvelope::refusals()
{
    // A key of another size than AES takes seals nothing.
    bool sealedOk = true;
    QVERIFY(SlAesEnvelope(QByteArray(20, 'k'), 1).encrypt("value", &sealedOk).isEmpty());
    QVERIFY(!sealedOk);
    // Every cut, added byte or changed byte fails the digest; without one,
    // only what still has whole blocks of ciphertext goes unseen.
    for (int mode : {0, 1}) {
        const SlAesEnvelope envelope(KEY, mode);
        const QByteArray sealed = envelope.encrypt("a setting worth protecting, 40 bytes long");
        QList<QByteArray> damaged = {sealed + 'x'};
        for (int n = 0; n < sealed.size(); ++n) {
            damaged << sealed.left(n);
            for (char flip : {'\x01', '\x80', '\xff'})
                damaged << sealed.left(n) + char(sealed.at(n) ^ flip) + sealed.mid(n + 1);
        }
        for (const QByteArray &bytes : damaged) {
            const bool accepted = mode == 0 && bytes.size() >= 36 && bytes.size() % 16 == 4;
            bool ok = !accepted;
            QCOMPARE(envelope.decrypt(bytes, &ok).isEmpty(), !accepted);
            QVERIFY2(ok == accepted, bytes.toHex().constData());
        }
    }
}

void TestSlAesEnvelope::receivedPlainEnvelope()
{
    // As a gadget registration delivers it: bytes beyond the length are not
    // zero and are ignored; a length beyond the ciphertext yields all of it.
    const SlAesEnvelope envelope(KEY, 0);
    const QByteArray padded = KEY + KEY.left(8);
    QByteArray received = envelope.encrypt(padded);
    for (quint32 length : {18u, 1000u}) {
        qToBigEndian(length, received.data() + 16);
        bool ok = false;
        QCOMPARE(envelope.decrypt(received, &ok), padded.left(int(length)));
        QVERIFY(ok);
    }
}

QTEST_GUILESS_MAIN(TestSlAesEnvelope)
#include "tst_slaesenvelope.moc"
