#include "mirrortree.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// A tree with a log of its leaves' signals and of the writes, in the order they happen.
struct Tree : MirrorTree
{
    explicit Tree(const QList<SlPropertyDescriptor> &leaves, const QString &rootName = "root")
        : MirrorTree(leaves, rootName, &events)
    {
        for (const QVariant &v : root.childrens()) {
            auto *node = v.value<SlProperty *>();
            const QString name = node->name();
            QObject::connect(node, &SlProperty::valueChanged, [this, name](const QVariant &v) {
                events.append(name + ":changed");
                last[name] = v;
            });
            QObject::connect(node, &SlProperty::valueReceived,
                             [this, name]() { events.append(name + ":received"); });
        }
    }

    QStringList events;
    QVariantMap last;
};

SlPropertyDescriptor leaf(const QString &name, qint32 type, quint32 size = 0, quint32 flags = 3,
                          quint32 offset = PROPERTY_OFFSET_AUTO)
{
    return SlPropertyDescriptor(name, type, offset, size, flags);
}

// How a codec row is used: write, read, both; past: the bytes are the whole image, which ends
// inside or before the field.
const int wr = 1, rd = 2, both = 3, past = 4;

} // namespace

class tst_SlProperty : public QObject
{
    Q_OBJECT

private slots:
    void placement();
    void codec_data();
    void codec();
    void writes();
    void oddNodes();
    void update_data();
    void update();
    void childrenAddedDuringAnUpdate();
    void valueFromString_data();
    void valueFromString();
    void toVariantMap();
    void propertyFile();
};

void tst_SlProperty::placement()
{
    SlPropertyDescriptor rec("rec", PROPERTY_LIST, PROPERTY_OFFSET_AUTO, 2, 3);
    rec.children = {leaf("x", PROPERTY_UINT16), leaf("y", PROPERTY_UINT8)};
    // Explicit offsets move the cursor either way; a list takes the cursor but does not advance it.
    Tree t({leaf("a", PROPERTY_DATETIME), leaf("b", PROPERTY_INT16),
            leaf("s", PROPERTY_UTF8_STRING, 30, 3, 100), leaf("c", PROPERTY_UINT16, 0, 3, 4), rec,
            leaf("d", PROPERTY_UINT8)});
    QTest::ignoreMessage(QtDebugMsg, "can`t add child to non PROPERTY_LIST property");
    t["d"]->addChildren({leaf("z", PROPERTY_UINT8)});
    QVERIFY(t["d"]->childrens().isEmpty());
    QStringList order;
    connect(&t.root, &SlProperty::childrensChanged, [&] { order << "childrens"; });
    connect(&t.root, &SlProperty::valueChanged, [&] { order << "value"; });
    QPointer<SlProperty> oldA = t["a"];
    // A later batch goes on from the cursor; a known name replaces its node.
    t.root.addChildren({leaf("e", PROPERTY_TIME), leaf("a", PROPERTY_UINT32)});
    QCOMPARE(order, QStringList({"childrens", "value"}));
    QVERIFY(oldA.isNull());
    QStringList placed;
    for (const QVariant &v : t.root.childrens())
        placed << QStringLiteral("%1@%2")
                      .arg(v.value<SlProperty *>()->name())
                      .arg(v.value<SlProperty *>()->offset());
    QCOMPARE(placed, QStringList({"c@4", "rec@6", "d@6", "e@7", "b@9", "a@12", "s@100"}));
    QCOMPARE(t["rec"]->child("y")->offset(), 2u);
    QCOMPARE(t.root.size(), 7u);
    QCOMPARE(t.root.value().toMap().keys(), QStringList({"a", "b", "c", "d", "e", "rec", "s"}));
}

void tst_SlProperty::codec_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("size");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("ways");
    using V = QVariant;
    const QDateTime dt(QDate(2020, 5, 1), QTime(12, 34, 56, 789), Qt::LocalTime);
    const QDateTime day(QDate(2021, 12, 31), QTime(23, 59, 58, 999));
    const V y1900(QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::LocalTime));
    // Fixed-width rows give size 0: the type alone must set the width.
    QTest::newRow("int8") << 1 << 0u << V::fromValue<qint16>(-1) << hex("ff") << both;
    QTest::newRow("uint8") << 2 << 0u << V::fromValue<quint16>(255) << hex("ff") << both;
    QTest::newRow("uint8 from junk") << 2 << 0u << V("x") << hex("00") << wr;
    QTest::newRow("int16") << 3 << 0u << V::fromValue<qint16>(-2) << hex("feff") << both;
    QTest::newRow("uint16") << 4 << 0u << V::fromValue<quint16>(0x1234) << hex("3412") << both;
    QTest::newRow("int32") << 5 << 0u << V(INT_MIN) << hex("00000080") << both;
    QTest::newRow("uint32") << 6 << 0u << V(0x01020304u) << hex("04030201") << both;
    QTest::newRow("uint32 past image") << 6 << 0u << V(0x1234u) << hex("aa3412") << rd + past;
    QTest::newRow("bool nonzero byte") << 7 << 0u << V(true) << hex("7f") << rd;
    QTest::newRow("bool from int") << 7 << 0u << V(5) << hex("01") << wr;
    QTest::newRow("latin1 padded") << 8 << 4u << V(QString("\u00e9a")) << hex("e9610000") << both;
    QTest::newRow("latin1 to zero") << 8 << 6u << V("ab") << hex("616200636400") << rd;
    QTest::newRow("utf8") << 9 << 3u << V(QString("\u00e9")) << hex("c3a900") << both;
    QTest::newRow("utf8 cut") << 9 << 3u << V("abcdef") << QByteArray("abc") << wr;
    QTest::newRow("utf8 past image") << 9 << 10u << V(QString()) << QByteArray() << rd + past;
    QTest::newRow("date") << 10 << 0u << V(day.date()) << hex("e5070c1f") << both;
    QTest::newRow("date of datetime") << 10 << 0u << V(day) << hex("e5070c1f") << wr;
    QTest::newRow("date invalid") << 10 << 0u << V(QDate()) << hex("e4070d01") << rd;
    QTest::newRow("time") << 11 << 0u << V(day.time()) << hex("173b3ae703") << both;
    QTest::newRow("time of datetime") << 11 << 0u << V(day) << hex("173b3ae703") << wr;
    QTest::newRow("datetime") << 12 << 0u << V(dt) << hex("e4070501 0c223815 03") << both;
    QTest::newRow("datetime invalid") << 12 << 0u << y1900 << hex("e4070d01 00000000 00") << rd;
    // An empty result means the value is refused: no packet and no signal.
    QTest::newRow("date from text") << 10 << 0u << V("2021-12-31") << QByteArray() << wr;
    QTest::newRow("time from int") << 11 << 0u << V(5) << QByteArray() << wr;
    QTest::newRow("datetime from date") << 12 << 0u << V(dt.date()) << QByteArray() << wr;
}

void tst_SlProperty::codec()
{
    QFETCH(int, type);
    QFETCH(uint, size);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, bytes);
    QFETCH(int, ways);
    if (ways & wr) {
        Tree t({leaf("pad", PROPERTY_UINT8), leaf("x", type, size, 0x12)});
        t["x"]->setValue(value);
        QCOMPARE(t.events, bytes.isEmpty() ? QStringList() : QStringList({"x:changed", "write@1"}));
        QCOMPARE(t.link.packets.value(0).data, bytes);
    }
    if (ways & rd) {
        // Neighbours of 0xAA prove the node reads exactly its own bytes, and zeros past the
        // image without growing it.
        Tree t({leaf("pre", PROPERTY_UINT8), leaf("x", type, size), leaf("post", PROPERTY_UINT8)});
        const QByteArray image = (ways & past) ? bytes : QByteArray("\xAA") + bytes + "\xAA";
        t.store(0, image);
        const QVariant v = t["x"]->value();
        QCOMPARE(v.userType(), value.userType());
        QCOMPARE(v, value);
        QCOMPARE(t.mirror.size(), image.size());
    }
}

void tst_SlProperty::writes()
{
    Tree t({leaf("n", PROPERTY_UINT16), leaf("s", PROPERTY_UTF8_STRING, 4),
            leaf("fresh", PROPERTY_UINT8), leaf("cmd", PROPERTY_UINT8, 0, 2),
            leaf("i", PROPERTY_UINT8, 0, 19), leaf("v", PROPERTY_LATIN1_STRING, 4, 0x23)});
    t.store(0, hex("0500 61626364"));
    QCOMPARE(t["n"]->value(), QVariant(5));
    QCOMPARE(t["s"]->value(), QVariant("abcd"));
    t["n"]->setValue(5);
    t["n"]->setValue(6);
    // The bytes just sent count as held until the gadget says otherwise.
    t["n"]->setValue(6);
    // Cut to the held bytes nothing goes out, but the view must drop the longer text.
    t["s"]->setValue("abcdefgh");
    // Nothing is known about these bytes, so equal zeros must not look like "already held".
    t["fresh"]->setValue(0);
    t["cmd"]->setValue(0);
    t["cmd"]->setValue(0);
    t["i"]->setValue(42);
    // Variable-length text goes out as it is, every time, cut to the field.
    t["v"]->setValue("ab");
    t["v"]->setValue("ab");
    t["v"]->setValue("abcdef");
    QCOMPARE(t.events, QStringList({"write@0", "s:changed", "write@6", "write@7", "write@7",
                                    "i:changed", "write@8", "write@9", "write@9", "write@9"}));
    QCOMPARE(t.last.value("s"), QVariant("abcd"));
    QCOMPARE(t.link.packets.first().data, hex("0600"));
    QCOMPARE(t.link.packets.at(6).data, QByteArray("ab"));
    QCOMPARE(t.link.packets.at(7).data, QByteArray("abcd"));
    QCOMPARE(t["i"]->value(), QVariant(42));
    // Only the gadget's echo changes the image and a value that was not written immediately.
    QCOMPARE(t.mirror.size(), 6);
    QCOMPARE(t["n"]->value(), QVariant(5));
    t.events.clear();
    t.store(0, hex("0600 61626364 00 00 00 61620063"));
    t.root.dataUpdated(0, 2);
    QCOMPARE(t["n"]->value(), QVariant(6));
    QCOMPARE(t.events, QStringList({"n:changed", "n:received"}));
    // An update hands a variable-length field the raw bytes of the range, zeros included.
    t.root.dataUpdated(9, 3);
    QCOMPARE(t["v"]->value().toByteArray(), hex("616200"));
    // A write the link refused is not believed held: the same value goes out again.
    t.link.refuse = true;
    t["n"]->setValue(7);
    t.link.refuse = false;
    t["n"]->setValue(7);
    QCOMPARE(t.link.packets.last().data, hex("0700"));
}

void tst_SlProperty::oddNodes()
{
    SlProperty orphan(nullptr, leaf("y", PROPERTY_UINT8, 0, 3, 0));
    QTest::ignoreMessage(QtDebugMsg, "can`t read value: stream is invalid");
    QCOMPARE(orphan.value(), QVariant(0));
    QTest::ignoreMessage(QtDebugMsg, "can`t set value: write stream is invalid");
    orphan.setValue(1);
    QTest::ignoreMessage(QtDebugMsg, "invalid size for current type property");
    Tree t({leaf("big", 14, 2), leaf("ro", PROPERTY_UINT8, 0, 1), leaf("sub", PROPERTY_LIST, 0, 3),
            leaf("c", PROPERTY_UINT8)});
    t.store(0, hex("01020304"));
    QVERIFY(!t["big"]->value().isValid());
    t["big"]->setValue(1);
    t["ro"]->setValue(1);
    QTest::ignoreMessage(QtDebugMsg, "PROPERTY LIST do not support set value");
    t["sub"]->setValue(1);
    QVERIFY(t.link.packets.isEmpty());
    // A link that cannot seek: the cached value and its listeners stay as they were.
    QBuffer closedLink;
    SlPropertyStreams streams(&t.mirror, &closedLink);
    SlProperty cut(&streams, leaf("c", PROPERTY_UINT8, 0, 19, 3));
    QCOMPARE(cut.value(), QVariant(4));
    QSignalSpy changed(&cut, &SlProperty::valueChanged);
    QTest::ignoreMessage(QtWarningMsg, "QBuffer::seek: Invalid pos: 3");
    QTest::ignoreMessage(QtDebugMsg, "fail to seek stream device to 3");
    cut.setValue(7);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(cut.value(), QVariant(4));
    // A hand-made descriptor can give a type more width than the field has.
    SlPropertyDescriptor d("narrow", PROPERTY_UTF8_STRING, 1, 1, 3);
    d.type = PROPERTY_UINT32;
    SlProperty narrow(&t.streams, d);
    t.store(0, hex("ff05ffff"));
    QCOMPARE(narrow.value(), QVariant(5u));
}

void tst_SlProperty::update_data()
{
    QTest::addColumn<int>("offset"); // -1 for a full refresh
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("hits");
    QTest::newRow("last byte of b and first of c") << 10 << 4 << "bc";
    QTest::newRow("first byte only") << 0 << 1 << "a";
    QTest::newRow("shared byte 8") << 8 << 1 << "ab";
    QTest::newRow("inside d is not a hit") << 18 << 2 << "";
    QTest::newRow("whole block in offset order") << 0 << 24 << "abcd";
    QTest::newRow("empty range") << 12 << 0 << "";
    QTest::newRow("full refresh") << -1 << 0 << "abcd";
}

void tst_SlProperty::update()
{
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(QString, hits);
    // Declared out of order on purpose: updates follow offsets, not declaration.
    Tree t({leaf("d", PROPERTY_LATIN1_STRING, 8, 3, 16), leaf("c", PROPERTY_UINT32, 0, 3, 12),
            leaf("a", PROPERTY_DATETIME, 0, 3, 0), leaf("b", PROPERTY_UINT32, 0, 3, 8)});
    t.store(0, QByteArray(24, '\x01'));
    QStringList expected;
    for (int round = 0; round < 2; ++round) {
        // A reply to a read reports its fields even when nothing changed; a full refresh
        // reports only what changed (the second time b alone) and nothing as received.
        if (offset < 0)
            t.root.dataUpdated();
        else
            t.root.dataUpdated(offset, size);
        for (const QChar n : offset < 0 && round == 1 ? QString("b") : hits) {
            expected << QString(n) + ":changed";
            if (offset >= 0)
                expected << QString(n) + ":received";
        }
        t.store(9, "\x09");
    }
    QCOMPARE(t.events, expected);
}

// The gadget appends its catalogue from a receiver of a basic-block signal,
// that is while the root is still walking its children.
void tst_SlProperty::childrenAddedDuringAnUpdate()
{
    Tree t({leaf("key", PROPERTY_UINT8, 0, 3, 0), leaf("tail", PROPERTY_UINT8, 0, 3, 70)});
    QList<SlPropertyDescriptor> more;
    for (int i = 0; i < 64; ++i)
        more << leaf(QStringLiteral("p%1").arg(i), PROPERTY_UINT8, 0, 3, quint32(1 + i));
    const QByteArray image(71, '\x05');
    connect(t["key"], &SlProperty::valueChanged, &t.root, [&] {
        if (t.root.childrens().size() == 2)
            t.root.addChildren(more);
    });
    t.store(0, image);
    t.root.dataUpdated(0, image.size());
    QCOMPARE(t.events.count(QStringLiteral("tail:changed")), 1);
    // Still the bytes of that update, so the nodes added on the way were read by it.
    t.store(1, hex("ff"));
    QCOMPARE(t["p0"]->value(), QVariant(5));
}

void tst_SlProperty::valueFromString_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("int8 -128") << 1 << "-128" << QVariant(-128);
    QTest::newRow("int8 128") << 1 << "128" << QVariant();
    QTest::newRow("uint8 255") << 2 << "255" << QVariant(255);
    QTest::newRow("uint8 256") << 2 << "256" << QVariant();
    QTest::newRow("uint8 -1") << 2 << "-1" << QVariant();
    QTest::newRow("int16 -32769") << 3 << "-32769" << QVariant();
    QTest::newRow("int16 32767") << 3 << "32767" << QVariant(32767);
    QTest::newRow("uint16 65535") << 4 << "65535" << QVariant(65535);
    QTest::newRow("uint16 65536") << 4 << "65536" << QVariant();
    QTest::newRow("int32 min") << 5 << "-2147483648" << QVariant(INT_MIN);
    QTest::newRow("int32 hex text") << 5 << "0x10" << QVariant();
    QTest::newRow("uint32 -1") << 6 << "-1" << QVariant(4294967295u);
    QTest::newRow("uint32 above int") << 6 << "2147483648" << QVariant();
    QTest::newRow("bool 1") << 7 << "1" << QVariant(true);
    QTest::newRow("bool false") << 7 << "false" << QVariant(false);
    QTest::newRow("bool True") << 7 << "True" << QVariant();
    QTest::newRow("latin1") << 8 << "k3y" << QVariant("k3y");
    const QDateTime dt(QDate(2020, 5, 1), QTime(12, 34, 56, 789), Qt::LocalTime);
    QTest::newRow("date") << 10 << "2020-05-01T12:34:56.789Z" << QVariant(dt.date());
    QTest::newRow("time") << 11 << "2020-05-01T12:34:56.789Z" << QVariant(dt.time());
    QTest::newRow("datetime") << 12 << "2020-05-01T12:34:56.789Z" << QVariant(dt);
    QTest::newRow("datetime without ms") << 12 << "2020-05-01T12:34:56Z" << QVariant();
    QTest::newRow("list") << 13 << "1" << QVariant();
}

void tst_SlProperty::valueFromString()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    const QVariant v = SlProperty::valueFromString(type, text);
    QCOMPARE(v.userType(), expected.userType());
    QCOMPARE(v, expected);
}

void tst_SlProperty::toVariantMap()
{
    // A list with list children is a map at the top and a list of maps below; any other list
    // puts its leaves inline. Unsigned narrow values become int; write-only ones stay invalid.
    SlPropertyDescriptor r0("r0", PROPERTY_LIST, 9, 0, 3), r1("r1", PROPERTY_LIST, 12, 0, 3);
    r0.children = {leaf("count", PROPERTY_UINT16, 0, 3, 9), leaf("on", PROPERTY_BOOL)};
    r1.children = {leaf("count", PROPERTY_UINT16, 0, 3, 12), leaf("on", PROPERTY_BOOL)};
    SlPropertyDescriptor stats("stats", PROPERTY_LIST, 9, 0, 3);
    stats.children = {r0, r1};
    Tree t({leaf("u8", PROPERTY_UINT8), leaf("u16", PROPERTY_UINT16), leaf("i8", PROPERTY_INT8),
            leaf("u32", PROPERTY_UINT32), leaf("wo", PROPERTY_UINT8, 0, 2), stats},
           "device");
    t.store(0, hex("fe 3412 ff 01000000 07 0200 01 0300 00"));
    const QVariantList rows = {QVariantMap({{"count", 2}, {"on", true}}),
                               QVariantMap({{"count", 3}, {"on", false}})};
    const QVariantMap m = SlProperty::toVariantMap(&t.root);
    QVariantMap device = m.value("device").toMap();
    QCOMPARE(device.take("stats"), QVariant(rows));
    QCOMPARE(device,
             QVariantMap({{"wo", {}}, {"i8", -1}, {"u16", 0x1234}, {"u32", 1u}, {"u8", 254}}));
    QCOMPARE(device.value("u8").userType(), int(QMetaType::Int));
    QCOMPARE(device.value("u16").userType(), int(QMetaType::Int));
    QCOMPARE(device.value("u32").userType(), int(QMetaType::UInt));
    QVERIFY(SlProperty::toVariantMap(nullptr).isEmpty());
}

void tst_SlProperty::propertyFile()
{
    QTemporaryDir dir;
    const QUrl url = QUrl::fromLocalFile(dir.filePath("properties.bsp"));
    // The second save must leave nothing of the longer first one.
    Tree longer({leaf("l", PROPERTY_UTF8_STRING, 200), leaf("m", PROPERTY_UTF8_STRING, 200)});
    QVERIFY(SlProperty::saveToFile(url, &longer.root));
    Tree t({leaf("b", PROPERTY_UINT16, 0, 19, 7), leaf("a", PROPERTY_UINT8, 0, 2, 0)}, "ab");
    QVERIFY(SlProperty::saveToFile(url, &t.root));
    QFile f(url.toLocalFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), hex("00000004 00610062 0000000d 00000003 00000002 00000000"
                              "00000002 0061 00000002 00000002 00000001 00000000"
                              "00000002 0062 00000004 00000013 00000002 00000007"));
    QTest::ignoreMessage(QtDebugMsg, "can`t save properties to file");
    QVERIFY(!SlProperty::saveToFile(QUrl::fromLocalFile(dir.filePath("no/such/x.bsp")), &t.root));
}

QTEST_GUILESS_MAIN(tst_SlProperty)
#include "tst_slproperty.moc"
