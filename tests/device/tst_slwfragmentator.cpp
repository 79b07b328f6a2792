#include "rawlink.h"

#include "device/fheader.h"
#include "device/slpacketinfo.h"
#include "device/slwfragmentator.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

namespace {

QByteArray pattern(int size, char first = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(first + i);
    return bytes;
}

QByteArray fragment(quint16 index, quint16 count, quint32 offset, const QByteArray &payload,
                    int length = -1)
{
    FHeader header;
    header.index = index;
    header.count = count;
    header.offset = offset;
    header.length = static_cast<quint8>(length < 0 ? payload.size() : length);
    QByteArray bytes = header.toBytes() + payload;
    bytes.append(SlWFragmentator::FragmentSize - bytes.size(), '\0');
    return bytes.left(SlWFragmentator::FragmentSize);
}

// A packet cut into wire fragments the way a correct peer sends it.
QByteArray packetFragments(quint32 offset, const QByteArray &packet)
{
    const int count = (packet.size() + 22) / 23;
    QByteArray stream;
    for (int i = 0; i < count; ++i)
        stream += fragment(static_cast<quint16>(i), static_cast<quint16>(count), offset,
                           packet.mid(i * 23, 23));
    return stream;
}

SlPacketInfo infoAt(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(0).value<SlPacketInfo>();
}

struct Received
{
    QList<qint64> offsets;
    QList<QByteArray> packets;
};

// Reads each packet inside readyRead, the way the gadget session does.
void collect(SlWFragmentator *framing, Received *received)
{
    QObject::connect(framing, &QIODevice::readyRead, framing, [framing, received] {
        received->offsets.append(framing->packetOffset());
        framing->seek(0);
        received->packets.append(framing->readAll());
    });
}

} // namespace

class tst_SlWFragmentator : public QObject
{
    Q_OBJECT

private slots:
    void headerWireForm();
    void fiveBytePacketExactBytes();
    void writeSplitsPacket_data();
    void writeSplitsPacket();
    void emptyWriteSendsNothing();
    void largestPacketUsesFullCount();
    void oversizedPacketRefused();
    void writeFailsWhenLinkUnusable_data();
    void writeFailsWhenLinkUnusable();
    void linkClosesDuringWrite();
    void transmitPacket_data();
    void transmitPacket();
    void reassembly_data();
    void reassembly();
    void completedPacketStaysReadable();
    void tcpFragmentsCutAnywhere();
    void longestIncomingPacket();
    void deletedFromReadyRead();
    void concurrentWriteReturnsZero();
    void concurrentWritersNeverInterleave();
    void workerWriteStopsAtTheFirstFailedFragment();
    void destructionStopsWorkerWrite();
    void writeDelayPacesFragments();
};

void tst_SlWFragmentator::headerWireForm()
{
    FHeader header;
    header.index = 0x0102;
    header.count = 0x0304;
    header.offset = 0x05060708;
    header.length = 0x09;
    QCOMPARE(header.toBytes(), QByteArray::fromHex("020104030807060509"));
    const FHeader back = FHeader::fromBytes(header.toBytes().constData());
    QCOMPARE(back.index, header.index);
    QCOMPARE(back.count, header.count);
    QCOMPARE(back.offset, header.offset);
    QCOMPARE(back.length, header.length);

    SlWFragmentator framing(new RawLink);
    QCOMPARE(QMetaType::type("FHeader"), qMetaTypeId<FHeader>());
    QCOMPARE(QMetaType::sizeOf(qMetaTypeId<FHeader>()), 9);
    QVERIFY(QMetaType::type("SlPacketInfo") != QMetaType::UnknownType);
}

void tst_SlWFragmentator::fiveBytePacketExactBytes()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    QSignalSpy progress(&framing, &SlWFragmentator::progressChanged);
    const QByteArray packet = QByteArray::fromHex("0a0b0c0d0e");

    QVERIFY(framing.seek(100));
    QCOMPARE(framing.write(packet), qint64(5));

    const QByteArray expected =
        QByteArray::fromHex("000001006400000005") + packet + QByteArray(18, '\0');
    QCOMPARE(raw->writes, QList<QByteArray>{expected});
    QCOMPARE(infos.count(), 2);
    QCOMPARE(infoAt(infos, 0).kind, quint32(SlPacketInfo::PacketSent));
    QCOMPARE(infoAt(infos, 0).data, packet);
    QCOMPARE(infoAt(infos, 1).kind, quint32(SlPacketInfo::FragmentSent));
    QCOMPARE(infoAt(infos, 1).data, expected);
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toFloat(), 0.0f);
    QCOMPARE(framing.pos(), qint64(105));
}

void tst_SlWFragmentator::writeSplitsPacket_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<QList<float>>("progress");

    QTest::newRow("one byte at 84") << qint64(84) << 1 << QList<int>{1} << QList<float>{0.0f};
    QTest::newRow("23 bytes fill one fragment")
        << qint64(0) << 23 << QList<int>{23} << QList<float>{0.0f};
    QTest::newRow("24 bytes spill into a second")
        << qint64(0) << 24 << QList<int>{23, 1} << QList<float>{0.0f, 50.0f};
    QTest::newRow("46 bytes fill two")
        << qint64(7) << 46 << QList<int>{23, 23} << QList<float>{0.0f, 50.0f};
    QTest::newRow("firmware area address") << qint64(0x100000) << 50 << QList<int>{23, 23, 4}
                                           << QList<float>{0.0f, 100.0f / 3.0f, 200.0f / 3.0f};
}

void tst_SlWFragmentator::writeSplitsPacket()
{
    QFETCH(qint64, position);
    QFETCH(int, size);
    QFETCH(QList<int>, lengths);
    QFETCH(QList<float>, progress);

    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    QSignalSpy progressSpy(&framing, &SlWFragmentator::progressChanged);
    const QByteArray packet = pattern(size);

    QVERIFY(framing.seek(position));
    QCOMPARE(framing.write(packet), qint64(size));
    QCOMPARE(framing.pos(), position + size);

    QCOMPARE(raw->writes.size(), lengths.size());
    QCOMPARE(infos.count(), lengths.size() + 1);
    QCOMPARE(infoAt(infos, 0).kind, quint32(SlPacketInfo::PacketSent));
    QCOMPARE(infoAt(infos, 0).count, 1u);
    QCOMPARE(infoAt(infos, 0).index, 1u);
    QCOMPARE(infoAt(infos, 0).offset, quint32(position));
    QCOMPARE(infoAt(infos, 0).data, packet);

    int sent = 0;
    for (int i = 0; i < lengths.size(); ++i) {
        const QByteArray &wire = raw->writes.at(i);
        QCOMPARE(wire.size(), 32);
        const FHeader header = FHeader::fromBytes(wire.constData());
        QCOMPARE(int(header.index), i);
        QCOMPARE(int(header.count), lengths.size());
        QCOMPARE(qint64(header.offset), position);
        QCOMPARE(int(header.length), lengths.at(i));
        QCOMPARE(wire.mid(9, header.length), packet.mid(sent, lengths.at(i)));
        QCOMPARE(wire.mid(9 + header.length), QByteArray(23 - header.length, '\0'));
        sent += header.length;

        const SlPacketInfo info = infoAt(infos, i + 1);
        QCOMPARE(info.kind, quint32(SlPacketInfo::FragmentSent));
        QCOMPARE(info.index, quint32(i));
        QCOMPARE(info.count, quint32(lengths.size()));
        QCOMPARE(info.data, wire);
        QCOMPARE(progressSpy.at(i).at(0).toFloat(), progress.at(i));
    }
    QCOMPARE(progressSpy.count(), progress.size());
}

void tst_SlWFragmentator::emptyWriteSendsNothing()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    QSignalSpy progress(&framing, &SlWFragmentator::progressChanged);

    QCOMPARE(framing.write(QByteArray()), qint64(0));
    QVERIFY(raw->writes.isEmpty());
    QCOMPARE(infos.count(), 1);
    QCOMPARE(infoAt(infos, 0).kind, quint32(SlPacketInfo::PacketSent));
    QCOMPARE(progress.count(), 0);
    QCOMPARE(framing.pos(), qint64(0));
}

void tst_SlWFragmentator::largestPacketUsesFullCount()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    const QByteArray packet = pattern(int(SlWFragmentator::MaxPacketSize));

    QCOMPARE(framing.write(packet), SlWFragmentator::MaxPacketSize);
    QCOMPARE(raw->writes.size(), 0xFFFF);
    const FHeader last = FHeader::fromBytes(raw->writes.last().constData());
    QCOMPARE(last.index, quint16(0xFFFE));
    QCOMPARE(last.count, quint16(0xFFFF));
    QCOMPARE(last.length, quint8(23));
    QCOMPARE(raw->writes.last().mid(9), packet.right(23));
}

void tst_SlWFragmentator::oversizedPacketRefused()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("packet too long"));
    QCOMPARE(framing.write(QByteArray(int(SlWFragmentator::MaxPacketSize) + 1, 'x')), qint64(-1));
    QVERIFY(raw->writes.isEmpty());
    QCOMPARE(infos.count(), 0);
    QCOMPARE(framing.pos(), qint64(0));
}

void tst_SlWFragmentator::writeFailsWhenLinkUnusable_data()
{
    QTest::addColumn<bool>("closed");
    QTest::addColumn<int>("rawResult");
    QTest::addColumn<int>("expectedWrites");

    QTest::newRow("link closed before the write") << true << 0 << 0;
    QTest::newRow("link write fails") << false << -1 << 1;
    QTest::newRow("link takes part of a fragment") << false << 10 << 1;
}

void tst_SlWFragmentator::writeFailsWhenLinkUnusable()
{
    QFETCH(bool, closed);
    QFETCH(int, rawResult);
    QFETCH(int, expectedWrites);

    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    if (closed)
        raw->close();
    raw->forceResult = true;
    raw->forcedResult = rawResult;

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("could not write data, device not open$"));
    QCOMPARE(framing.write(pattern(60)), qint64(0));
    QCOMPARE(raw->writes.size(), expectedWrites);
    QCOMPARE(framing.pos(), qint64(0));
}

void tst_SlWFragmentator::linkClosesDuringWrite()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    raw->afterWrite = [raw] {
        raw->close();
    };

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("could not write data, device not open$"));
    QCOMPARE(framing.write(pattern(70)), qint64(0));
    QCOMPARE(raw->writes.size(), 1);
}

void tst_SlWFragmentator::transmitPacket_data()
{
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("empty payload") << 0 << true;
    QTest::newRow("23 bytes") << 23 << true;
    QTest::newRow("24 bytes") << 24 << false;
    QTest::newRow("40 bytes") << 40 << false;
}

void tst_SlWFragmentator::transmitPacket()
{
    QFETCH(int, payloadSize);
    QFETCH(bool, accepted);

    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    framing.seek(500);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    FHeader header;
    header.index = 3;
    header.count = 9;
    header.offset = 0x42;
    header.length = 17; // sent as given, whatever the payload
    const QByteArray payload = pattern(payloadSize);

    QCOMPARE(framing.transmitPacket(header, payload), accepted);
    if (!accepted) {
        QVERIFY(raw->writes.isEmpty());
        QCOMPARE(infos.count(), 0);
        return;
    }
    const QByteArray expected = header.toBytes() + payload + QByteArray(23 - payloadSize, '\0');
    QCOMPARE(raw->writes, QList<QByteArray>{expected});
    QCOMPARE(infos.count(), 1);
    QCOMPARE(infoAt(infos, 0).kind, quint32(SlPacketInfo::FragmentSent));
    QCOMPARE(infoAt(infos, 0).offset, 0x42u);
    QCOMPARE(infoAt(infos, 0).data, expected);
    QCOMPARE(framing.pos(), qint64(500));
}

void tst_SlWFragmentator::reassembly_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<qint64>>("offsets");
    QTest::addColumn<QList<QByteArray>>("packets");
    QTest::addColumn<int>("headerErrors");

    const QByteArray a = pattern(23, 'a');
    const QByteArray b = pattern(23, 'A');
    const QByteArray c = pattern(5, '0');

    QTest::newRow("three fragments in order")
        << QList<QByteArray>{fragment(0, 3, 40, a) + fragment(1, 3, 40, b) + fragment(2, 3, 40, c)}
        << QList<qint64>{40} << QList<QByteArray>{a + b + c} << 0;
    QTest::newRow("three fragments in three reads")
        << QList<QByteArray>{fragment(0, 3, 40, a), fragment(1, 3, 99, b), fragment(2, 3, 7, c)}
        << QList<qint64>{40} << QList<QByteArray>{a + b + c} << 0;
    QTest::newRow("middle fragment missing, late one refused")
        << QList<QByteArray>{fragment(0, 3, 40, a) + fragment(2, 3, 40, c) + fragment(1, 3, 40, b)}
        << QList<qint64>{} << QList<QByteArray>{} << 0;
    QTest::newRow("fragment before any first one")
        << QList<QByteArray>{fragment(1, 2, 40, b) + fragment(0, 2, 40, a) + fragment(1, 2, 40, c)}
        << QList<qint64>{40} << QList<QByteArray>{a + c} << 0;
    QTest::newRow("new first fragment restarts the packet")
        << QList<QByteArray>{fragment(0, 2, 1, a) + fragment(0, 2, 2, b) + fragment(1, 2, 3, c)}
        << QList<qint64>{2} << QList<QByteArray>{b + c} << 0;
    QTest::newRow("two packets in one read")
        << QList<QByteArray>{fragment(0, 1, 10, c) + fragment(0, 1, 84, QByteArray(1, '\x03'))}
        << QList<qint64>{10, 84} << QList<QByteArray>{c, QByteArray(1, '\x03')} << 0;
    QTest::newRow("40 bytes: one fragment and a partial one")
        << QList<QByteArray>{fragment(0, 1, 5, c) + QByteArray(8, '\x01')} << QList<qint64>{5}
        << QList<QByteArray>{c} << 1;
    QTest::newRow("partial fragment is not carried over")
        << QList<QByteArray>{fragment(0, 2, 5, a).left(20),
                             fragment(0, 2, 5, a).mid(20) + fragment(1, 2, 5, c)}
        << QList<qint64>{} << QList<QByteArray>{} << 2;
    QTest::newRow("count 0 never completes")
        << QList<QByteArray>{fragment(0, 0, 5, c) + fragment(1, 0, 5, c)} << QList<qint64>{}
        << QList<QByteArray>{} << 0;
    QTest::newRow("length above 23 takes the fragment's 23 bytes")
        << QList<QByteArray>{fragment(0, 1, 5, a, 200)} << QList<qint64>{5} << QList<QByteArray>{a}
        << 0;
    QTest::newRow("length 0 gives an empty packet")
        << QList<QByteArray>{fragment(0, 1, 5, QByteArray())} << QList<qint64>{5}
        << QList<QByteArray>{QByteArray()} << 0;
    QTest::newRow("fragments past the count are refused")
        << QList<QByteArray>{fragment(0, 2, 5, a) + fragment(1, 2, 5, c) + fragment(2, 2, 5, b) +
                             fragment(3, 2, 5, b)}
        << QList<qint64>{5} << QList<QByteArray>{a + c} << 0;
    QTest::newRow("offset is a 32-bit unsigned value")
        << QList<QByteArray>{fragment(0, 1, 0xFFFFFFF0u, c)} << QList<qint64>{0xFFFFFFF0ll}
        << QList<QByteArray>{c} << 0;
}

void tst_SlWFragmentator::reassembly()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<qint64>, offsets);
    QFETCH(QList<QByteArray>, packets);
    QFETCH(int, headerErrors);

    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    Received received;
    collect(&framing, &received);
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);

    for (int i = 0; i < headerErrors; ++i)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("error reading fragmentation header$"));
    int fragments = 0;
    for (const QByteArray &read : qAsConst(reads)) {
        raw->feed(read);
        fragments += read.size() / 32;
    }

    QCOMPARE(received.packets, packets);
    QCOMPARE(received.offsets, offsets);
    QList<QByteArray> whole;
    int raws = 0;
    for (int i = 0; i < infos.count(); ++i) {
        const SlPacketInfo info = infoAt(infos, i);
        if (info.kind == SlPacketInfo::PacketReceived) {
            whole.append(info.data);
            QCOMPARE(info.count, 1u);
            QCOMPARE(info.index, 1u);
        } else {
            QCOMPARE(info.kind, quint32(SlPacketInfo::FragmentReceived));
            QCOMPARE(info.data.size(), 32);
            ++raws;
        }
    }
    QCOMPARE(whole, packets);
    QCOMPARE(raws, fragments);
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
    Received received;
    connect(&framing, &QIODevice::readyRead, &framing, [&] {
        received.offsets << framing.packetOffset();
        received.packets << framing.readAll();
    });

    const QByteArray first = pattern(40, 3);
    const QByteArray second = pattern(5, 90);
    const QByteArray stream = packetFragments(85, first) + packetFragments(1000, second);
    for (int cut = 1; cut < stream.size(); cut += 7) {
        received = Received();
        peer.write(stream.left(cut));
        QVERIFY(peer.waitForBytesWritten(5000));
        // Let the first piece arrive on its own before the rest follows.
        QTRY_VERIFY(link->bytesAvailable() == 0);
        peer.write(stream.mid(cut));
        QVERIFY(peer.waitForBytesWritten(5000));
        QTRY_COMPARE(received.packets.size(), 2);
        QCOMPARE(received.packets.at(0), first);
        QCOMPARE(received.packets.at(1), second);
        QCOMPARE(received.offsets, (QList<qint64>{85, 1000}));
    }
}

void tst_SlWFragmentator::completedPacketStaysReadable()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy ready(&framing, &QIODevice::readyRead);
    const QByteArray packet = pattern(10);

    raw->feed(packetFragments(300, packet));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(framing.packetOffset(), qint64(300));
    QCOMPARE(framing.bytesAvailable(), qint64(10));
    QVERIFY(framing.seek(0));
    QCOMPARE(framing.read(4), packet.left(4));
    QCOMPARE(framing.pos(), qint64(4));
    QCOMPARE(framing.readAll(), packet.mid(4));
    QCOMPARE(framing.pos(), qint64(10));
    QCOMPARE(framing.bytesAvailable(), qint64(10));

    // A stray continuation must not change what was completed.
    QSignalSpy infos(&framing, &SlWFragmentator::dataTransmitted);
    raw->feed(fragment(1, 1, 300, pattern(5, 'z')));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(infos.count(), 1);
    QCOMPARE(framing.bytesAvailable(), qint64(10));
}

void tst_SlWFragmentator::longestIncomingPacket()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    Received received;
    collect(&framing, &received);
    const QByteArray packet = pattern(int(SlWFragmentator::MaxPacketSize));

    raw->feed(packetFragments(0x100000, packet));
    QCOMPARE(received.packets.size(), 1);
    QCOMPARE(received.packets.first().size(), int(SlWFragmentator::MaxPacketSize));
    QVERIFY(received.packets.first() == packet);
    QCOMPARE(received.offsets.first(), qint64(0x100000));
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

void tst_SlWFragmentator::concurrentWriteReturnsZero()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    qint64 second = 99;
    // While the first packet is on its way, a second writer tries its luck.
    raw->afterWrite = [&] {
        if (raw->writes.size() == 1) {
            std::thread other([&] { second = framing.write("other"); });
            other.join();
        }
    };

    QCOMPARE(framing.write(pattern(40)), qint64(40));
    QCOMPARE(second, qint64(0));
    QCOMPARE(raw->writes.size(), 2);
    QCOMPARE(framing.pos(), qint64(40));
}

void tst_SlWFragmentator::concurrentWritersNeverInterleave()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    constexpr int kPackets = 40;
    auto writer = [&framing](char mark) {
        int refused = 0;
        for (int i = 0; i < kPackets;) {
            const qint64 result = framing.write(QByteArray(50, mark));
            if (result == 50) {
                ++i;
            } else if (result == 0) {
                ++refused;
                QThread::yieldCurrentThread();
            } else {
                return -1;
            }
        }
        return refused;
    };
    std::atomic<int> firstResult{-2};
    std::atomic<int> secondResult{-2};
    std::thread first([&] { firstResult = writer('A'); });
    std::thread second([&] { secondResult = writer('B'); });
    QTRY_VERIFY_WITH_TIMEOUT(firstResult != -2 && secondResult != -2, 20000);
    first.join();
    second.join();
    QVERIFY(firstResult >= 0);
    QVERIFY(secondResult >= 0);

    QCOMPARE(raw->writes.size(), 2 * kPackets * 3);
    for (int i = 0; i < raw->writes.size(); i += 3) {
        const char mark = raw->writes.at(i).at(9);
        for (int j = 0; j < 3; ++j) {
            const QByteArray &wire = raw->writes.at(i + j);
            QCOMPARE(int(FHeader::fromBytes(wire.constData()).index), j);
            QCOMPARE(wire.at(9), mark);
        }
    }
}

void tst_SlWFragmentator::workerWriteStopsAtTheFirstFailedFragment()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QSignalSpy progress(&framing, &SlWFragmentator::progressChanged);
    // The link breaks within one of the batches of fragments a worker hands over.
    raw->afterWrite = [raw] {
        if (raw->writes.size() == 300)
            raw->forceResult = true;
    };
    std::atomic<qint64> result{99};
    std::thread writer([&] { result = framing.write(QByteArray(600 * 23, 'w')); });
    QTRY_VERIFY(result.load() != 99);
    writer.join();
    QCOMPARE(result.load(), qint64(0));
    QCOMPARE(raw->writes.size(), 300);
    for (int i = 0; i < raw->writes.size(); ++i)
        QCOMPARE(int(FHeader::fromBytes(raw->writes.at(i).constData()).index), i);
    QTRY_COMPARE(progress.count(), 299);
}

void tst_SlWFragmentator::destructionStopsWorkerWrite()
{
    auto *raw = new RawLink;
    auto *framing = new SlWFragmentator(raw);
    framing->setWriteDelay(20);
    std::atomic<int> sent{0};
    raw->afterWrite = [&sent] {
        ++sent;
    };

    std::atomic<qint64> result{99};
    std::thread writer([framing, &result] { result = framing->write(QByteArray(1000, 'f')); });
    QTRY_VERIFY(sent.load() >= 2);
    delete framing;

    writer.join();
    QCOMPARE(result.load(), qint64(-1));
    const int atDestruction = sent.load();
    QVERIFY(atDestruction < 44);
    QTest::qWait(60);
    QCOMPARE(sent.load(), atDestruction);
}

void tst_SlWFragmentator::writeDelayPacesFragments()
{
    auto *raw = new RawLink;
    SlWFragmentator framing(raw);
    QCOMPARE(framing.writeDelay(), 0u);
    framing.setWriteDelay(15);
    QCOMPARE(framing.writeDelay(), 15u);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(framing.write(pattern(69)), qint64(69));
    // Three fragments, each followed by its pause.
    QVERIFY(clock.elapsed() >= 45);
    QCOMPARE(raw->writes.size(), 3);
}

QTEST_GUILESS_MAIN(tst_SlWFragmentator)
#include "tst_slwfragmentator.moc"
