#include "rawlink.h"

#include "device/slwfragmentator.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

QByteArray pattern(int size, char first = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(first + i);
    return bytes;
}

// Encoded here by hand, not with FHeader, so that one slip cannot sit on both sides.
QByteArray fragment(quint16 index, quint16 count, quint32 offset, const QByteArray &payload,
                    int length = -1)
{
    QByteArray bytes(32, '\0');
    uchar *p = reinterpret_cast<uchar *>(bytes.data());
    qToLittleEndian(index, p);
    qToLittleEndian(count, p + 2);
    qToLittleEndian(offset, p + 4);
    p[8] = static_cast<uchar>(length < 0 ? payload.size() : length);
    bytes.replace(9, qMin(payload.size(), 23), payload.left(23));
    return bytes;
}

// A packet cut into wire fragments the way a correct peer sends it.
QByteArray packetFragments(quint32 offset, const QByteArray &packet)
{
    const int count = (packet.size() + 22) / 23;
    QByteArray stream;
    for (int i = 0; i < count; ++i)
        stream += fragment(quint16(i), quint16(count), offset, packet.mid(i * 23, 23));
    return stream;
}

SlPacketInfo infoAt(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(0).value<SlPacketInfo>();
}

} // namespace

class tst_SlWFragmentator : public QObject
{
    Q_OBJECT

private slots:
    void write_data();
    void write();
    void transmitPacket();
    void reassembly_data();
    void reassembly();
    void tcpFragmentsCutAnywhere();
    void deletedFromReadyRead();
    void transferKeepsItsAddress();
    void transferStopsAtTheFirstFailedFragment();
    void stoppedTransfer_data();
    void stoppedTransfer();
    void cutPacket_data();
    void cutPacket();
};

void tst_SlWFragmentator::write_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("rawResult");
    QTest::addColumn<int>("closeAfter"); // writes, -1 for never
    QTest::addColumn<int>("writes");     // fragments the link gets; fewer than all is a refusal
    const int longest = int(SlWFragmentator::MaxPacketSize);
    QTest::newRow("empty") << qint64(0) << 0 << 32 << -1 << 0;
    QTest::newRow("23 bytes fill one fragment") << qint64(0) << 23 << 32 << -1 << 1;
    // At the firmware area, whose address needs more than 16 bits.
    QTest::newRow("24 bytes spill into a second") << qint64(0x100007) << 24 << 32 << -1 << 2;
    // The 16-bit fragment count bounds a packet: the longest still goes out whole.
    QTest::newRow("longest packet") << qint64(0) << longest << 32 << -1 << 0xFFFF;
    QTest::newRow("one byte over 0xFFFF fragments") << qint64(0) << longest + 1 << 32 << -1 << 0;
    QTest::newRow("link closed before the write") << qint64(0) << 70 << 32 << 0 << 0;
    QTest::newRow("link write fails") << qint64(0) << 70 << -1 << -1 << 1;
    QTest::newRow("link takes part of a fragment") << qint64(0) << 70 << 10 << -1 << 1;
    QTest::newRow("link closes during the write") << qint64(0) << 70 << 32 << 1 << 1;
}

void tst_SlWFragmentator::write()
{
    QFETCH(qint64, position);
    QFETCH(int, size);
    QFETCH(int, rawResult);
    QFETCH(int, closeAfter);
    QFETCH(int, writes);
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    QSignalSpy progress(&framing, &SlWFragmentator::progressChanged);
    raw->forceResult = true;
    raw->forcedResult = rawResult;
    if (closeAfter == 0)
        raw->close();
    raw->afterWrite = [raw, closeAfter] {
        if (raw->writes.size() == closeAfter)
            raw->close();
    };
    const QByteArray packet = pattern(size);
    const int count = (size + 22) / 23;
    const bool whole = writes == count, tooLong = size > SlWFragmentator::MaxPacketSize;
    if (!whole)
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression(tooLong ? "packet too long"
                                                   : "could not write data, device not open$"));

    QVERIFY(framing.seek(position));
    QCOMPARE(framing.write(packet), whole ? qint64(size) : qint64(tooLong ? -1 : 0));
    QCOMPARE(framing.pos(), position + (whole ? size : 0));
    QList<QByteArray> expected;
    for (int i = 0; i < writes; ++i)
        expected << fragment(quint16(i), quint16(count), quint32(position), packet.mid(i * 23, 23));
    QCOMPARE(raw->writes, expected);
    if (!whole) {
        if (writes == 0)
            QCOMPARE(infos.count(), 0);
        return;
    }
    QCOMPARE(infos.count(), count + 1);
    QCOMPARE(infoAt(infos, 0).kind, quint32(SlPacketInfo::PacketSent));
    QCOMPARE(infoAt(infos, 0).offset, quint32(position));
    QVERIFY(infoAt(infos, 0).data == packet);
    QCOMPARE(progress.count(), count);
    for (int i = 0; i < count; ++i) {
        const SlPacketInfo info = infoAt(infos, i + 1);
        QCOMPARE(info.kind, quint32(SlPacketInfo::FragmentSent));
        QCOMPARE(info.index, quint32(i));
        QCOMPARE(info.data, expected.at(i));
        // The share of the packet already gone when this fragment leaves.
        QCOMPARE(progress.at(i).at(0).toFloat(), i * 100.0f / count);
    }
}

// The session calls it queued from its own thread, with a header it made itself.
void tst_SlWFragmentator::transmitPacket()
{
    QVERIFY(QMetaType::type("FHeader") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("SlPacketInfo") != QMetaType::UnknownType);
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    framing.seek(500);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    const FHeader header{3, 9, 0x42, 17}; // the length is sent as given, whatever the payload

    QVERIFY(!framing.transmitPacket(header, pattern(24)));
    QVERIFY(framing.transmitPacket(header, pattern(23)));
    const QByteArray expected = fragment(3, 9, 0x42, pattern(23), 17);
    QCOMPARE(raw->writes, QList<QByteArray>{expected});
    QCOMPARE(infos.count(), 1);
    QCOMPARE(infoAt(infos, 0).kind, quint32(SlPacketInfo::FragmentSent));
    QCOMPARE(infoAt(infos, 0).data, expected);
    QCOMPARE(framing.pos(), qint64(500));
}

void tst_SlWFragmentator::reassembly_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("packets"); // each as "offset:bytes"
    const QByteArray a = pattern(23, 'a'), b = pattern(23, 'A'), c = pattern(5, '0');
    const QByteArray longest = pattern(int(SlWFragmentator::MaxPacketSize));
    using Bytes = QList<QByteArray>;

    QTest::newRow("three reads, offset of the first")
        << Bytes{fragment(0, 3, 40, a), fragment(1, 3, 99, b), fragment(2, 3, 7, c)}
        << Bytes{"40:" + a + b + c};
    QTest::newRow("middle fragment missing, late one refused")
        << Bytes{fragment(0, 3, 40, a) + fragment(2, 3, 40, c) + fragment(1, 3, 40, b)} << Bytes{};
    QTest::newRow("fragment before any first one, new first one restarts")
        << Bytes{fragment(1, 2, 40, b) + fragment(0, 2, 1, a) + fragment(0, 2, 2, b) +
                 fragment(1, 2, 3, c)}
        << Bytes{"2:" + b + c};
    QTest::newRow("two packets in one read")
        << Bytes{fragment(0, 1, 10, c) + fragment(0, 1, 84, "\x03")} << Bytes{"10:" + c, "84:\x03"};
    QTest::newRow("a partial HID fragment is damage, not carried over")
        << Bytes{fragment(0, 1, 5, c) + fragment(0, 2, 5, a).left(8),
                 fragment(0, 2, 5, a).mid(8) + fragment(1, 2, 5, c)}
        << Bytes{"5:" + c};
    QTest::newRow("length above 23 takes the fragment's 23 bytes")
        << Bytes{fragment(0, 1, 5, a, 200)} << Bytes{"5:" + a};
    QTest::newRow("a completed packet takes no continuation")
        << Bytes{fragment(0, 1, 5, c) + fragment(1, 2, 5, a)} << Bytes{"5:" + c};
    QTest::newRow("a fragment past its own count ends the packet")
        << Bytes{fragment(0, 2, 5, a) + fragment(1, 1, 5, b) + fragment(2, 3, 5, c)} << Bytes{};
    QTest::newRow("offset is a 32-bit unsigned value")
        << Bytes{fragment(0, 1, 0xFFFFFFF0u, c)} << Bytes{"4294967280:" + c};
    QTest::newRow("longest packet")
        << Bytes{packetFragments(0x100000, longest)} << Bytes{"1048576:" + longest};
}

void tst_SlWFragmentator::reassembly()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, packets);
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QList<QByteArray> got;
    // Reads each packet inside readyRead, the way the gadget session does.
    connect(&framing, &QIODevice::readyRead, &framing, [&] {
        const QByteArray offset = QByteArray::number(framing.packetOffset()) + ':';
        framing.seek(0);
        got << offset + framing.readAll();
        // What was read stays there for the next reader.
        QCOMPARE(framing.bytesAvailable(), qint64(got.last().size() - offset.size()));
    });
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    int fragments = 0;
    for (const QByteArray &read : qAsConst(reads)) {
        // A HID read is whole reports: a rest shorter than a fragment is damage.
        if (read.size() % 32)
            QTest::ignoreMessage(QtDebugMsg,
                                 QRegularExpression("error reading fragmentation header$"));
        raw->feed(read);
        fragments += read.size() / 32;
    }
    QVERIFY(got == packets); // QCOMPARE would print the longest packet
    QList<QByteArray> whole;
    for (const QList<QVariant> &args : qAsConst(infos)) {
        const auto info = args.at(0).value<SlPacketInfo>();
        if (info.kind == SlPacketInfo::PacketReceived)
            whole << QByteArray::number(info.offset) + ':' + info.data;
        else
            QVERIFY(info.kind == SlPacketInfo::FragmentReceived && info.data.size() == 32);
    }
    QVERIFY(whole == packets);
    QCOMPARE(infos.count() - whole.size(), fragments);
}

// TCP keeps no write boundaries: a peer's fragments may reach us cut at any
// byte. Every cut position must still give the packets whole and in order.
void tst_SlWFragmentator::tcpFragmentsCutAnywhere()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *link = server.nextPendingConnection();
    QVERIFY(peer.waitForConnected(5000));

    SlWFragmentator framing(link);
    QList<QByteArray> packets;
    connect(&framing, &QIODevice::readyRead, &framing, [&] {
        packets << QByteArray::number(framing.packetOffset()) + ':' + framing.readAll();
    });

    const QByteArray first = pattern(40, 3), second = pattern(5, 90);
    const QByteArray stream = packetFragments(85, first) + packetFragments(1000, second);
    for (int cut = 1; cut < stream.size(); cut += 7) {
        packets.clear();
        peer.write(stream.left(cut));
        QVERIFY(peer.waitForBytesWritten(5000));
        // Let the first piece arrive on its own before the rest follows.
        QTRY_VERIFY(link->bytesAvailable() == 0);
        peer.write(stream.mid(cut));
        QVERIFY(peer.waitForBytesWritten(5000));
        QTRY_COMPARE(packets.size(), 2);
        QCOMPARE(packets, (QList<QByteArray>{"85:" + first, "1000:" + second}));
    }
}

void tst_SlWFragmentator::deletedFromReadyRead()
{
    auto *raw = new RawLink;
    QPointer<SlWFragmentator> framing = new SlWFragmentator(raw);
    int packets = 0;
    connect(framing.data(), &QIODevice::readyRead, this, [&] {
        ++packets;
        delete framing.data();
    });
    // The link goes with the framing; feed from a copy of the bytes it owns.
    raw->feed(fragment(0, 1, 1, "x") + fragment(0, 1, 2, "y"));
    QVERIFY(framing.isNull());
    QCOMPARE(packets, 1);
}

// A transfer keeps the address it was queued with, whatever is sought and written meanwhile;
// writes made during it wait behind it and keep their own addresses; another thread may not
// use the position at all.
void tst_SlWFragmentator::transferKeepsItsAddress()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy finished(&framing, &SlWFragmentator::writeFinished);
    const QByteArray image = pattern(300 * 23);
    qint64 during = 99, foreign = 99;
    raw->afterWrite = [&] {
        if (raw->writes.size() != 40)
            return;
        framing.seek(9);
        during = framing.write("param");
        std::thread([&] { foreign = framing.write("other"); }).join();
    };
    QVERIFY(framing.queueWrite(0x100000, image));
    QVERIFY(framing.isWriting());
    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(finished.at(0).at(1).toLongLong(), qint64(image.size()));
    QCOMPARE(finished.at(1).at(0).toUInt(), 9u);
    QCOMPARE(during, qint64(5));
    QCOMPARE(foreign, qint64(-1));
    QTRY_VERIFY(!framing.isWriting());
    QCOMPARE(QByteArray(raw->writes.mid(0, 300).join()), packetFragments(0x100000, image));
    QCOMPARE(raw->writes.size(), 301);
    QCOMPARE(raw->writes.last(), fragment(0, 1, 9, "param"));
    // Idle again: a write goes out at once, at the position given.
    framing.seek(12);
    QCOMPARE(framing.write("now"), qint64(3));
    QCOMPARE(raw->writes.last(), fragment(0, 1, 12, "now"));
    QCOMPARE(finished.count(), 2); // a direct write is not reported
}

void tst_SlWFragmentator::transferStopsAtTheFirstFailedFragment()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy progress(&framing, &SlWFragmentator::progressChanged);
    QSignalSpy finished(&framing, &SlWFragmentator::writeFinished);
    // The link breaks within one of the batches of fragments the writer hands over.
    raw->afterWrite = [raw] {
        if (raw->writes.size() == 300)
            raw->forceResult = true;
    };
    QVERIFY(framing.queueWrite(0, QByteArray(600 * 23, 'w')));
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(1).toLongLong(), qint64(0));
    QCOMPARE(raw->writes.size(), 300);
    for (int i = 0; i < raw->writes.size(); ++i)
        QCOMPARE(raw->writes.at(i), fragment(quint16(i), 600, 0, QByteArray(23, 'w')));
    // Only the fragments the link took count as progress.
    QTRY_COMPARE(progress.count(), 299);
}

// A paced transfer waits after each fragment. Stopping it, or deleting the framing, cuts that
// wait short and nothing of it follows; a stopped transfer lets what waited behind it go out.
void tst_SlWFragmentator::stoppedTransfer_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("stopWrites") << false;
    QTest::newRow("destruction") << true;
}

void tst_SlWFragmentator::stoppedTransfer()
{
    QFETCH(bool, destroy);
    auto *raw = new RawLink;
    auto *framing = new SlWFragmentator(raw);
    framing->setWriteDelay(1000);
    QSignalSpy finished(framing, &SlWFragmentator::writeFinished);
    QVERIFY(framing->queueWrite(0x100000, QByteArray(1000, 'f')));
    QTRY_COMPARE(raw->writes.size(), 1);
    QCOMPARE(framing->write("behind"), qint64(6));
    if (destroy) {
        delete framing; // the link goes with it
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(1).toLongLong(), qint64(-1));
        return;
    }
    QVERIFY(framing->stopWrites(5000));
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.at(0).at(1).toLongLong(), qint64(-1));
    QCOMPARE(raw->writes.size(), 2);
    QCOMPARE(raw->writes.last(), fragment(0, 1, 0, "behind"));
    delete framing;
}

void tst_SlWFragmentator::cutPacket_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("fragments");
    QTest::newRow("empty") << 0 << 0x100000u << 0;
    QTest::newRow("1 byte") << 1 << 0x100000u << 1;
    QTest::newRow("exact multiple") << 46 << 7u << 2;
    QTest::newRow("short last") << 47 << 0xFFFFFFF0u << 3;
    QTest::newRow("~1 MB") << 1000004 << 0x100000u << 43479;
    QTest::newRow("longest") << int(SlWFragmentator::MaxPacketSize) << 0x100000u << 65535;
    QTest::newRow("out of range") << int(SlWFragmentator::MaxPacketSize) + 1 << 0x100000u << 0;
}

// Every fragment carries the address and count of its packet, whatever the size.
void tst_SlWFragmentator::cutPacket()
{
    QFETCH(int, size);
    QFETCH(quint32, address);
    QFETCH(int, fragments);
    const QByteArray data = pattern(size);
    const QVector<QByteArray> cut = SlWFragmentator::cutPacket(address, data);
    QCOMPARE(cut.size(), fragments);
    if (fragments > 0)
        QCOMPARE(QByteArray(cut.toList().join()), packetFragments(address, data));
}

QTEST_GUILESS_MAIN(tst_SlWFragmentator)
#include "tst_slwfragmentator.moc"
