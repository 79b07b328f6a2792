#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"
#include "model/slpropertystreams.h"
#include "packetrecorder.h"

#include <QBuffer>
#include <QDateTime>
#include <QMetaMethod>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(SlPropertyDescriptor)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// One tree over an in-memory image and a recording link, with a log of signals and writes in
// the order they happen.
struct Tree
{
    explicit Tree(const QList<SlPropertyDescriptor> &leaves, const QString &rootName = "root")
        : link(&events)
        , streams(&mirror, &link)
        , root(&streams, SlPropertyDescriptor(rootName, PROPERTY_LIST, 0, 0, 3))
    {
        mirror.open(QIODevice::ReadWrite);
        root.addChildren(leaves);
        for (const QVariant &v : root.childrens()) {
            auto *node = v.value<SlProperty *>();
            const QString name = node->name();
            QObject::connect(node, &SlProperty::valueChanged,
                             [this, name](const QVariant &) { events.append(name + ":changed"); });
            QObject::connect(node, &SlProperty::valueReceived,
                             [this, name]() { events.append(name + ":received"); });
        }
    }

    // Stores bytes in the image the way the session does before it tells the tree.
    void store(qint64 offset, const QByteArray &bytes)
    {
        mirror.seek(offset);
        mirror.write(bytes);
    }

    SlProperty *operator[](const QString &name) const { return root.child(name); }

    QStringList events;
    QBuffer mirror;
    PacketRecorder link;
    SlPropertyStreams streams;
    SlProperty root;
};

SlPropertyDescriptor leaf(const QString &name, qint32 type, quint32 size = 0, quint32 flags = 3,
                          quint32 offset = PROPERTY_OFFSET_AUTO)
{
    return SlPropertyDescriptor(name, type, offset, size, flags);
}

QStringList childNames(SlProperty *list)
{
    QStringList names;
    for (const QVariant &v : list->childrens())
        names << v.value<SlProperty *>()->name();
    return names;
}

} // namespace

class tst_SlProperty : public QObject
{
    Q_OBJECT

private slots:
    void descriptorForcesSizeByType_data();
    void descriptorForcesSizeByType();
    void defaultNode();
    void metaObjectOrder();

    void placement_data();
    void placement();
    void laterAddContinuesPlacement();
    void nestedListKeepsOwnOffsets();
    void sameNameReplacesAndDestroysOldNode();
    void addToLeafIsRefused();
    void addChildrenSignals();

    void decoding_data();
    void decoding();
    void missingBytesDecodeAsZerosWithoutGrowingImage();
    void truncatedImageReadsAsZeroPadded_data();
    void truncatedImageReadsAsZeroPadded();
    void fieldNarrowerThanTypeStaysInsideItsBytes();
    void readWithoutReadDevice();
    void invalidTypeCodes();
    void valueIsCachedUntilUpdated();

    void encoding_data();
    void encoding();
    void roundTrip_data();
    void roundTrip();
    void encodingRefused_data();
    void encodingRefused();

    void writeSkippedWhenBytesAlreadyHeld();
    void writeOfNeverReadFieldIsSent();
    void cutWriteEqualToHeldBytesRestoresView();
    void writeOnlyAlwaysSends();
    void immediateEmitsBeforePacket();
    void nonImmediateWaitsForEcho();
    void variableLengthWriteIsNotPadded();
    void writeRefusals();
    void writeSeekFailureLeavesCache();

    void rangedUpdate_data();
    void rangedUpdate();
    void rangedUpdateSignalsUnchangedValues();
    void childrenAddedDuringAnUpdate();
    void rangedUpdateVariableLength();
    void fullRefreshReportsOnlyChanges();

    void valueFromString_data();
    void valueFromString();

    void toVariantMapFlat();
    void toVariantMapNested();

    void propertyFileBytes();
    void propertyFileFailures_data();
    void propertyFileFailures();
};

void tst_SlProperty::descriptorForcesSizeByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("given");
    QTest::addColumn<uint>("expected");
    QTest::addColumn<bool>("warns");
    QTest::newRow("int8") << 1 << 7u << 1u << false;
    QTest::newRow("uint8") << 2 << 0u << 1u << false;
    QTest::newRow("int16") << 3 << 0u << 2u << false;
    QTest::newRow("uint16") << 4 << 9u << 2u << false;
    QTest::newRow("int32") << 5 << 0u << 4u << false;
    QTest::newRow("uint32") << 6 << 1u << 4u << false;
    QTest::newRow("bool") << 7 << 3u << 1u << false;
    QTest::newRow("latin1 keeps") << 8 << 24u << 24u << false;
    QTest::newRow("utf8 keeps") << 9 << 30u << 30u << false;
    QTest::newRow("date") << 10 << 0u << 4u << false;
    QTest::newRow("time") << 11 << 0u << 5u << false;
    QTest::newRow("datetime") << 12 << 2u << 9u << false;
    QTest::newRow("list keeps") << 13 << 5u << 5u << false;
    QTest::newRow("invalid 0") << 0 << 6u << 6u << true;
    QTest::newRow("invalid 14") << 14 << 6u << 6u << true;
}

void tst_SlProperty::descriptorForcesSizeByType()
{
    QFETCH(int, type);
    QFETCH(uint, given);
    QFETCH(uint, expected);
    QFETCH(bool, warns);
    if (warns)
        QTest::ignoreMessage(QtDebugMsg, "invalid size for current type property");
    const SlPropertyDescriptor d("x", type, 3, given, 2);
    QCOMPARE(d.size, expected);
    QCOMPARE(d.offset, 3u);
    QCOMPARE(d.flags, 2u);
    QVERIFY(d.children.isEmpty());
}

void tst_SlProperty::defaultNode()
{
    SlProperty node;
    QTest::ignoreMessage(QtDebugMsg, "can`t set value: write stream is invalid");
    node.setValue(1);
}

void tst_SlProperty::metaObjectOrder()
{
    const QMetaObject &mo = SlProperty::staticMetaObject;
    QStringList methods;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        methods << QString::fromLatin1(mo.method(i).methodSignature());
    QCOMPARE(
        methods,
        QStringList({"valueChanged(QVariant)", "nameChanged(QString)", "typeChanged(int)",
                     "sizeChanged(int)", "childrensChanged(QVariantList)", "valueReceived()",
                     "setValue(QVariant)", "dataUpdated(qlonglong,qlonglong)", "dataUpdated()"}));
    QStringList props;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
        props << QString::fromLatin1(mo.property(i).name());
    QCOMPARE(props, QStringList({"name", "type", "value", "childrens"}));
}

void tst_SlProperty::placement_data()
{
    QTest::addColumn<QList<SlPropertyDescriptor>>("leaves");
    QTest::addColumn<QList<uint>>("offsets");
    QTest::addColumn<qint64>("next");

    QTest::newRow("automatic throughout")
        << QList<SlPropertyDescriptor>{leaf("a", PROPERTY_DATETIME), leaf("b", PROPERTY_INT16),
                                       leaf("c", PROPERTY_BOOL)}
        << QList<uint>{0, 9, 11} << qint64(12);
    QTest::newRow("explicit then automatic")
        << QList<SlPropertyDescriptor>{leaf("a", PROPERTY_UINT32, 0, 3, 100),
                                       leaf("b", PROPERTY_UINT8)}
        << QList<uint>{100, 104} << qint64(105);
    QTest::newRow("explicit moves cursor back")
        << QList<SlPropertyDescriptor>{leaf("a", PROPERTY_UTF8_STRING, 30),
                                       leaf("b", PROPERTY_UINT16, 0, 3, 4),
                                       leaf("c", PROPERTY_UINT8)}
        << QList<uint>{0, 4, 6} << qint64(7);
}

void tst_SlProperty::placement()
{
    QFETCH(QList<SlPropertyDescriptor>, leaves);
    QFETCH(QList<uint>, offsets);
    QFETCH(qint64, next);
    Tree t(leaves);
    QCOMPARE(t.root.size(), uint(leaves.size()));
    QCOMPARE(t.root.nextOffset(), next);
    for (int i = 0; i < leaves.size(); ++i) {
        SlProperty *node = t[leaves.at(i).name];
        QVERIFY(node);
        QCOMPARE(node->offset(), offsets.at(i));
        QCOMPARE(node->size(), leaves.at(i).size);
        QCOMPARE(node->streams(), &t.streams);
    }
}

void tst_SlProperty::laterAddContinuesPlacement()
{
    Tree t({leaf("a", PROPERTY_UINT32), leaf("b", PROPERTY_UINT8)});
    t.root.addChildren({leaf("c", PROPERTY_TIME), leaf("d", PROPERTY_UINT16)});
    QCOMPARE(t["c"]->offset(), 5u);
    QCOMPARE(t["d"]->offset(), 10u);
    QCOMPARE(t.root.size(), 4u);
    QCOMPARE(childNames(&t.root), QStringList({"a", "b", "c", "d"}));
}

void tst_SlProperty::nestedListKeepsOwnOffsets()
{
    SlPropertyDescriptor rec("rec", PROPERTY_LIST, PROPERTY_OFFSET_AUTO, 0, 3);
    rec.children = {leaf("x", PROPERTY_UINT16), leaf("y", PROPERTY_UINT8)};
    Tree t({leaf("a", PROPERTY_UINT32), rec, leaf("b", PROPERTY_UINT8)});
    QCOMPARE(t["rec"]->offset(), 4u);
    QCOMPARE(t["rec"]->size(), 2u);
    QCOMPARE(t["rec"]->child("x")->offset(), 0u);
    QCOMPARE(t["rec"]->child("y")->offset(), 2u);
    // A list does not advance its parent's cursor.
    QCOMPARE(t["b"]->offset(), 4u);
    QCOMPARE(t["rec"]->childDescriptors().size(), 2);
}

void tst_SlProperty::sameNameReplacesAndDestroysOldNode()
{
    Tree t({leaf("a", PROPERTY_UINT8), leaf("b", PROPERTY_UINT16)});
    QPointer<SlProperty> old = t["a"];
    t.root.addChildren({leaf("a", PROPERTY_UINT32)});
    QVERIFY(old.isNull());
    QCOMPARE(t.root.size(), 2u);
    QCOMPARE(t.root.childrens().size(), 2);
    QCOMPARE(t["a"]->offset(), 3u);
    QCOMPARE(t["a"]->type(), int(PROPERTY_UINT32));
    QCOMPARE(childNames(&t.root), QStringList({"b", "a"}));
}

void tst_SlProperty::addToLeafIsRefused()
{
    Tree t({leaf("a", PROPERTY_UINT8)});
    QTest::ignoreMessage(QtDebugMsg, "can`t add child to non PROPERTY_LIST property");
    t["a"]->addChildren({leaf("x", PROPERTY_UINT8)});
    QVERIFY(t["a"]->childrens().isEmpty());
    QCOMPARE(t["a"]->size(), 1u);
}

void tst_SlProperty::addChildrenSignals()
{
    SlPropertyStreams streams;
    SlProperty root(&streams, SlPropertyDescriptor("root", PROPERTY_LIST, 0, 0, 3));
    QStringList order;
    QVariant lastValue;
    QVariantList lastList;
    connect(&root, &SlProperty::childrensChanged, [&](const QVariantList &l) {
        order << "childrens";
        lastList = l;
    });
    connect(&root, &SlProperty::valueChanged, [&](const QVariant &v) {
        order << "value";
        lastValue = v;
    });
    root.addChildren({leaf("z", PROPERTY_UINT8, 0, 3, 9), leaf("y", PROPERTY_UINT8, 0, 3, 2)});
    QCOMPARE(order, QStringList({"childrens", "value"}));
    QCOMPARE(lastValue.toMap().keys(), QStringList({"y", "z"}));
    QCOMPARE(lastList.size(), 2);
    QCOMPARE(lastList.first().value<SlProperty *>()->name(), QString("y"));
    QCOMPARE(root.value().toMap(), lastValue.toMap());
}

void tst_SlProperty::decoding_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("size");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<int>("metaType");

    QTest::newRow("uint8 ff") << 2 << 1u << hex("ff") << QVariant(255) << int(QMetaType::UShort);
    QTest::newRow("int8 ff") << 1 << 1u << hex("ff") << QVariant(-1) << int(QMetaType::Short);
    QTest::newRow("int16 le") << 3 << 2u << hex("feff") << QVariant(-2) << int(QMetaType::Short);
    QTest::newRow("uint16 le") << 4 << 2u << hex("3412") << QVariant(0x1234)
                               << int(QMetaType::UShort);
    QTest::newRow("int32 le") << 5 << 4u << hex("00000080") << QVariant(INT_MIN)
                              << int(QMetaType::Int);
    QTest::newRow("uint32 le") << 6 << 4u << hex("ffffffff") << QVariant(4294967295u)
                               << int(QMetaType::UInt);
    QTest::newRow("bool 0") << 7 << 1u << hex("00") << QVariant(false) << int(QMetaType::Bool);
    QTest::newRow("bool nonzero") << 7 << 1u << hex("7f") << QVariant(true) << int(QMetaType::Bool);
    QTest::newRow("latin1 stops at zero")
        << 8 << 6u << hex("6162006364 00") << QVariant("ab") << int(QMetaType::QString);
    QTest::newRow("latin1 high byte")
        << 8 << 2u << hex("e9ff") << QVariant(QString("\u00e9\u00ff")) << int(QMetaType::QString);
    QTest::newRow("utf8 padded") << 9 << 30u << hex("616263").append(27, '\0') << QVariant("abc")
                                 << int(QMetaType::QString);
    QTest::newRow("utf8 full field")
        << 9 << 3u << hex("c3a978") << QVariant(QString("\u00e9x")) << int(QMetaType::QString);
    QTest::newRow("date") << 10 << 4u << hex("e5070c1f") << QVariant(QDate(2021, 12, 31))
                          << int(QMetaType::QDate);
    QTest::newRow("time") << 11 << 5u << hex("173b3ae703") << QVariant(QTime(23, 59, 58, 999))
                          << int(QMetaType::QTime);
    QTest::newRow("datetime") << 12 << 9u << hex("e4070501 0c223815 03")
                              << QVariant(QDateTime(QDate(2020, 5, 1), QTime(12, 34, 56, 789),
                                                    Qt::LocalTime))
                              << int(QMetaType::QDateTime);
    QTest::newRow("datetime zeros is 1900")
        << 12 << 9u << QByteArray(9, '\0')
        << QVariant(QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::LocalTime))
        << int(QMetaType::QDateTime);
    QTest::newRow("datetime bad month is 1900")
        << 12 << 9u << hex("e4070d01 00000000 00")
        << QVariant(QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::LocalTime))
        << int(QMetaType::QDateTime);
    QTest::newRow("date invalid stays invalid")
        << 10 << 4u << hex("e4070d01") << QVariant(QDate()) << int(QMetaType::QDate);
    QTest::newRow("time invalid stays invalid")
        << 11 << 5u << hex("1900000000") << QVariant(QTime()) << int(QMetaType::QTime);
}

void tst_SlProperty::decoding()
{
    QFETCH(int, type);
    QFETCH(uint, size);
    QFETCH(QByteArray, bytes);
    QFETCH(QVariant, expected);
    QFETCH(int, metaType);

    // Neighbours with 0xAA prove the node reads exactly its own bytes.
    Tree t({leaf("before", PROPERTY_UINT8), leaf("x", type, size), leaf("after", PROPERTY_UINT8)});
    QByteArray image = QByteArray(1, char(0xAA)) + bytes + QByteArray(1, char(0xAA));
    t.store(0, image);
    const QVariant v = t["x"]->value();
    QCOMPARE(v.userType(), metaType);
    QCOMPARE(v, expected);
    QCOMPARE(t["x"]->rawData(), bytes);
    QCOMPARE(t["after"]->offset(), 1u + size);
}

void tst_SlProperty::missingBytesDecodeAsZerosWithoutGrowingImage()
{
    Tree t({leaf("a", PROPERTY_UINT8), leaf("n", PROPERTY_UINT32), leaf("far", PROPERTY_UINT16),
            leaf("s", PROPERTY_UTF8_STRING, 10)});
    t.store(0, hex("01 3412"));
    QCOMPARE(t["n"]->value(), QVariant(0x1234));
    QCOMPARE(t["n"]->rawData(), hex("34120000"));
    QCOMPARE(t["far"]->value(), QVariant(0));
    QCOMPARE(t["s"]->value(), QVariant(QString()));
    QCOMPARE(t.mirror.size(), 3);
}

void tst_SlProperty::truncatedImageReadsAsZeroPadded_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("size");
    QTest::newRow("int16") << 3 << 2u;
    QTest::newRow("uint32") << 6 << 4u;
    QTest::newRow("latin1") << 8 << 6u;
    QTest::newRow("utf8") << 9 << 6u;
    QTest::newRow("date") << 10 << 4u;
    QTest::newRow("time") << 11 << 5u;
    QTest::newRow("datetime") << 12 << 9u;
}

void tst_SlProperty::truncatedImageReadsAsZeroPadded()
{
    QFETCH(int, type);
    QFETCH(uint, size);
    const QByteArray full = hex("e4070501 0c223815 03").left(int(size));
    for (int cut = 0; cut <= int(size); ++cut) {
        Tree truncated({leaf("pad", PROPERTY_UINT8), leaf("x", type, size)});
        truncated.store(0, QByteArray(1, '\x11') + full.left(cut));
        Tree padded({leaf("pad", PROPERTY_UINT8), leaf("x", type, size)});
        padded.store(0, QByteArray(1, '\x11') + full.left(cut) + QByteArray(int(size) - cut, 0));
        QCOMPARE(truncated["x"]->value(), padded["x"]->value());
        QCOMPARE(truncated.mirror.size(), qint64(1 + cut));
    }
}

void tst_SlProperty::fieldNarrowerThanTypeStaysInsideItsBytes()
{
    // A hand-made descriptor can give a type more width than the field has.
    SlPropertyDescriptor d;
    d.name = "narrow";
    d.type = PROPERTY_UINT32;
    d.offset = 1;
    d.size = 1;
    d.flags = 3;
    Tree t({});
    t.store(0, hex("ff05ffff"));
    SlProperty node(&t.streams, d);
    QCOMPARE(node.value(), QVariant(5u));
    node.setValue(0x01020304);
    QCOMPARE(t.link.packets.size(), 1);
    QCOMPARE(t.link.packets.first().offset, qint64(1));
    QCOMPARE(t.link.packets.first().data, hex("04"));
}

void tst_SlProperty::readWithoutReadDevice()
{
    SlPropertyStreams streams;
    SlProperty node(&streams, leaf("x", PROPERTY_UTF8_STRING, 4, 3, 0));
    QTest::ignoreMessage(QtDebugMsg, "can`t read value: stream is invalid");
    QCOMPARE(node.value(), QVariant(0));

    SlProperty orphan(nullptr, leaf("y", PROPERTY_UINT8, 0, 3, 0));
    QTest::ignoreMessage(QtDebugMsg, "can`t read value: stream is invalid");
    QCOMPARE(orphan.value(), QVariant(0));
}

void tst_SlProperty::invalidTypeCodes()
{
    QTest::ignoreMessage(QtDebugMsg, "invalid size for current type property");
    QTest::ignoreMessage(QtDebugMsg, "invalid size for current type property");
    QTest::ignoreMessage(QtDebugMsg, "invalid size for current type property");
    Tree t({leaf("zero", PROPERTY_INVALID, 2), leaf("big", 14, 2), leaf("huge", 1000, 2)});
    t.store(0, hex("010203040506"));
    QTest::ignoreMessage(QtDebugMsg, "could not deserialize property value");
    QVERIFY(!t["zero"]->value().isValid());
    QVERIFY(!t["big"]->value().isValid());
    QVERIFY(!t["huge"]->value().isValid());

    QTest::ignoreMessage(QtDebugMsg, "could not serialize property value");
    t["zero"]->setValue(1);
    t["big"]->setValue(1);
    t["huge"]->setValue(QString("ab"));
    QVERIFY(t.link.packets.isEmpty());
}

void tst_SlProperty::valueIsCachedUntilUpdated()
{
    Tree t({leaf("a", PROPERTY_UINT16)});
    t.store(0, hex("0100"));
    QCOMPARE(t["a"]->value(), QVariant(1));
    t.store(0, hex("0200"));
    QCOMPARE(t["a"]->value(), QVariant(1));
    t.root.dataUpdated(0, 2);
    QCOMPARE(t["a"]->value(), QVariant(2));

    Tree w({leaf("cmd", PROPERTY_UINT8, 0, 2)});
    w.store(0, hex("05"));
    QVERIFY(!w["cmd"]->value().isValid());
}

void tst_SlProperty::encoding_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("size");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("int8 -1") << 1 << 1u << QVariant(-1) << hex("ff");
    QTest::newRow("uint8 255") << 2 << 1u << QVariant(255) << hex("ff");
    QTest::newRow("uint8 from text") << 2 << 1u << QVariant("7") << hex("07");
    QTest::newRow("uint8 from junk text") << 2 << 1u << QVariant("x") << hex("00");
    QTest::newRow("int16 -2") << 3 << 2u << QVariant(-2) << hex("feff");
    QTest::newRow("uint16") << 4 << 2u << QVariant(0x1234) << hex("3412");
    QTest::newRow("int32") << 5 << 4u << QVariant(INT_MIN) << hex("00000080");
    QTest::newRow("uint32") << 6 << 4u << QVariant(4294967295u) << hex("ffffffff");
    QTest::newRow("uint32 from double") << 6 << 4u << QVariant(258.0) << hex("02010000");
    QTest::newRow("bool true") << 7 << 1u << QVariant(true) << hex("01");
    QTest::newRow("bool from int") << 7 << 1u << QVariant(5) << hex("01");
    QTest::newRow("bool false") << 7 << 1u << QVariant(false) << hex("00");
    QTest::newRow("latin1 padded") << 8 << 4u << QVariant(QString("\u00e9a")) << hex("e9610000");
    QTest::newRow("utf8 padded to 30")
        << 9 << 30u << QVariant("abc") << hex("616263").append(27, '\0');
    QTest::newRow("utf8 cut to 30")
        << 9 << 30u << QVariant(QString(40, 'q')) << QByteArray(30, 'q');
    QTest::newRow("utf8 multibyte") << 9 << 3u << QVariant(QString("\u00e9")) << hex("c3a900");
    QTest::newRow("date") << 10 << 4u << QVariant(QDate(2021, 12, 31)) << hex("e5070c1f");
    QTest::newRow("date from datetime")
        << 10 << 4u << QVariant(QDateTime(QDate(2021, 12, 31), QTime(1, 2))) << hex("e5070c1f");
    QTest::newRow("time") << 11 << 5u << QVariant(QTime(23, 59, 58, 999)) << hex("173b3ae703");
    QTest::newRow("time from datetime")
        << 11 << 5u << QVariant(QDateTime(QDate(2000, 1, 1), QTime(23, 59, 58, 999)))
        << hex("173b3ae703");
    QTest::newRow("datetime") << 12 << 9u
                              << QVariant(QDateTime(QDate(2020, 5, 1), QTime(12, 34, 56, 789)))
                              << hex("e4070501 0c223815 03");
}

void tst_SlProperty::encoding()
{
    QFETCH(int, type);
    QFETCH(uint, size);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, bytes);

    Tree t({leaf("pad", PROPERTY_UINT8), leaf("x", type, size, 2)});
    t["x"]->setValue(value);
    QCOMPARE(t.link.packets.size(), 1);
    QCOMPARE(t.link.packets.first().offset, qint64(1));
    QCOMPARE(t.link.packets.first().data, bytes);
    QCOMPARE(t["x"]->rawData(), bytes);
}

void tst_SlProperty::roundTrip_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("size");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("int8") << 1 << 1u << QVariant(-128);
    QTest::newRow("uint8") << 2 << 1u << QVariant(200);
    QTest::newRow("int16") << 3 << 2u << QVariant(-32768);
    QTest::newRow("uint16") << 4 << 2u << QVariant(65535);
    QTest::newRow("int32") << 5 << 4u << QVariant(-123456789);
    QTest::newRow("uint32") << 6 << 4u << QVariant(3000000000u);
    QTest::newRow("bool") << 7 << 1u << QVariant(true);
    QTest::newRow("latin1 key") << 8 << 24u << QVariant(QString("K\u00ff\u0001y"));
    QTest::newRow("utf8") << 9 << 30u << QVariant(QString("S/N \u00e9\u4e2d"));
    QTest::newRow("date") << 10 << 4u << QVariant(QDate(1999, 2, 28));
    QTest::newRow("time") << 11 << 5u << QVariant(QTime(0, 0, 1, 5));
    QTest::newRow("datetime") << 12 << 9u
                              << QVariant(QDateTime(QDate(2038, 1, 19), QTime(3, 14, 7, 999)));
}

void tst_SlProperty::roundTrip()
{
    QFETCH(int, type);
    QFETCH(uint, size);
    QFETCH(QVariant, value);

    Tree writer({leaf("x", type, size, 2)});
    writer["x"]->setValue(value);
    QCOMPARE(writer.link.packets.size(), 1);
    const PacketRecorder::Packet p = writer.link.packets.first();
    QCOMPARE(p.data.size(), int(size));

    Tree reader({leaf("x", type, size, 3)});
    reader.store(p.offset, p.data);
    reader.root.dataUpdated(p.offset, p.data.size());
    QCOMPARE(reader["x"]->value(), value);
    QCOMPARE(reader.events, QStringList({"x:changed", "x:received"}));
}

void tst_SlProperty::encodingRefused_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("date from text") << 10 << QVariant("2021-12-31");
    QTest::newRow("time from int") << 11 << QVariant(5);
    QTest::newRow("datetime from date") << 12 << QVariant(QDate(2021, 1, 1));
}

void tst_SlProperty::encodingRefused()
{
    QFETCH(int, type);
    QFETCH(QVariant, value);
    Tree t({leaf("x", type, 0, 19)});
    QSignalSpy changed(t["x"], &SlProperty::valueChanged);
    t["x"]->setValue(value);
    QVERIFY(t.link.packets.isEmpty());
    QCOMPARE(changed.count(), 0);
}

void tst_SlProperty::writeSkippedWhenBytesAlreadyHeld()
{
    Tree t({leaf("n", PROPERTY_UINT16), leaf("s", PROPERTY_UTF8_STRING, 8)});
    t.store(0, hex("0500 616263"));
    QCOMPARE(t["n"]->value(), QVariant(5));
    QCOMPARE(t["s"]->value(), QVariant("abc"));
    t["n"]->setValue(5);
    t["s"]->setValue("abc");
    QVERIFY(t.link.packets.isEmpty());

    t["n"]->setValue(6);
    QCOMPARE(t.link.packets.size(), 1);
    QCOMPARE(t.link.packets.last().data, hex("0600"));
    // The bytes just sent count as held until the gadget says otherwise.
    t["n"]->setValue(6);
    QCOMPARE(t.link.packets.size(), 1);
}

void tst_SlProperty::writeOfNeverReadFieldIsSent()
{
    // Nothing is known about the gadget's bytes yet, so a zero must not look like "already held".
    Tree t({leaf("n", PROPERTY_UINT8)});
    t["n"]->setValue(0);
    QCOMPARE(t.link.packets.size(), 1);
    QCOMPARE(t.link.packets.first().data, hex("00"));
}

void tst_SlProperty::cutWriteEqualToHeldBytesRestoresView()
{
    Tree t({leaf("s", PROPERTY_UTF8_STRING, 4)});
    t.store(0, "abcd");
    QCOMPARE(t["s"]->value(), QVariant("abcd"));
    QSignalSpy changed(t["s"], &SlProperty::valueChanged);
    t["s"]->setValue("abcdefgh");
    QVERIFY(t.link.packets.isEmpty());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first(), QVariant("abcd"));

    t["s"]->setValue("abcxyz");
    QCOMPARE(t.link.packets.size(), 1);
    QCOMPARE(t.link.packets.first().data, QByteArray("abcx"));
}

void tst_SlProperty::writeOnlyAlwaysSends()
{
    Tree t({leaf("pad", PROPERTY_UTF8_STRING, 84), leaf("cmd", PROPERTY_UINT8, 0, 2)});
    t["cmd"]->setValue(2);
    t["cmd"]->setValue(2);
    QCOMPARE(t.link.packets.size(), 2);
    for (const PacketRecorder::Packet &p : qAsConst(t.link.packets)) {
        QCOMPARE(p.offset, qint64(84));
        QCOMPARE(p.data, hex("02"));
    }
}

void tst_SlProperty::immediateEmitsBeforePacket()
{
    Tree t({leaf("pad", PROPERTY_UINT8), leaf("b", PROPERTY_UINT8, 0, 19)});
    t["b"]->setValue(42);
    QCOMPARE(t.events, QStringList({"b:changed", "write@1"}));
    QCOMPARE(t["b"]->value(), QVariant(42));
    // Only the gadget's echo changes the image.
    QCOMPARE(t.mirror.size(), qint64(0));
}

void tst_SlProperty::nonImmediateWaitsForEcho()
{
    Tree t({leaf("pad", PROPERTY_UINT8), leaf("b", PROPERTY_UINT8, 0, 3)});
    t["b"]->setValue(42);
    QCOMPARE(t.events, QStringList({"write@1"}));
    // The image still holds the old byte until the gadget echoes the write.
    QCOMPARE(t["b"]->value(), QVariant(0));

    const PacketRecorder::Packet p = t.link.packets.first();
    t.store(p.offset, p.data);
    t.root.dataUpdated(p.offset, p.data.size());
    QCOMPARE(t["b"]->value(), QVariant(42));
    QCOMPARE(t.events.mid(1), QStringList({"b:changed", "b:received"}));
}

void tst_SlProperty::variableLengthWriteIsNotPadded()
{
    Tree t({leaf("v", PROPERTY_LATIN1_STRING, 10, 3 | PROPERTY_FLAG_VARIABLE_LENGTH)});
    t["v"]->setValue("ab");
    t["v"]->setValue("ab");
    QCOMPARE(t.link.packets.size(), 2);
    QCOMPARE(t.link.packets.last().data, QByteArray("ab"));
    t["v"]->setValue(QString(12, 'z'));
    QCOMPARE(t.link.packets.last().data, QByteArray(10, 'z'));
}

void tst_SlProperty::writeRefusals()
{
    Tree t({leaf("ro", PROPERTY_UINT8, 0, 1), leaf("sub", PROPERTY_LIST, 0, 3)});
    t["ro"]->setValue(1);
    QTest::ignoreMessage(QtDebugMsg, "PROPERTY LIST do not support set value");
    t["sub"]->setValue(1);
    QVERIFY(t.link.packets.isEmpty());

    SlPropertyStreams readOnly(&t.mirror, nullptr);
    SlProperty node(&readOnly, leaf("x", PROPERTY_UINT8, 0, 19, 0));
    QTest::ignoreMessage(QtDebugMsg, "can`t set value: write stream is invalid");
    node.setValue(1);
    QVERIFY(node.rawData().isEmpty());
}

void tst_SlProperty::writeSeekFailureLeavesCache()
{
    QBuffer mirror;
    mirror.setData(hex("00000009"));
    mirror.open(QIODevice::ReadOnly);
    QBuffer closedLink;
    SlPropertyStreams streams(&mirror, &closedLink);
    SlProperty node(&streams, leaf("x", PROPERTY_UINT8, 0, 19, 3));
    QCOMPARE(node.value(), QVariant(9));
    QSignalSpy changed(&node, &SlProperty::valueChanged);
    QTest::ignoreMessage(QtWarningMsg, "QBuffer::seek: Invalid pos: 3");
    QTest::ignoreMessage(QtDebugMsg, "fail to seek stream device to 3");
    node.setValue(7);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(node.value(), QVariant(9));
    QVERIFY(closedLink.data().isEmpty());
}

void tst_SlProperty::rangedUpdate_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QStringList>("events");

    const QStringList a{"a:changed", "a:received"};
    const QStringList b{"b:changed", "b:received"};
    const QStringList c{"c:changed", "c:received"};
    const QStringList d{"d:changed", "d:received"};
    QTest::newRow("10+4 hits last byte of b and first of c") << qint64(10) << qint64(4) << b + c;
    QTest::newRow("first byte only") << qint64(0) << qint64(1) << a;
    QTest::newRow("shared byte 8") << qint64(8) << qint64(1) << a + b;
    QTest::newRow("inside d is not a hit") << qint64(18) << qint64(2) << QStringList();
    QTest::newRow("whole block in offset order") << qint64(0) << qint64(24) << a + b + c + d;
    QTest::newRow("beyond") << qint64(24) << qint64(8) << QStringList();
    QTest::newRow("empty range") << qint64(12) << qint64(0) << QStringList();
}

void tst_SlProperty::rangedUpdate()
{
    QFETCH(qint64, offset);
    QFETCH(qint64, size);
    QFETCH(QStringList, events);
    // Declared out of order on purpose: updates follow offsets, not declaration.
    Tree t({leaf("d", PROPERTY_LATIN1_STRING, 8, 3, 16), leaf("c", PROPERTY_UINT32, 0, 3, 12),
            leaf("a", PROPERTY_DATETIME, 0, 3, 0), leaf("b", PROPERTY_UINT32, 0, 3, 8)});
    t.store(0, QByteArray(24, '\x01'));
    t.root.dataUpdated(offset, size);
    QCOMPARE(t.events, events);
}

void tst_SlProperty::rangedUpdateSignalsUnchangedValues()
{
    Tree t({leaf("n", PROPERTY_UINT16)});
    t.store(0, hex("0700"));
    QSignalSpy changed(t["n"], &SlProperty::valueChanged);
    QSignalSpy received(t["n"], &SlProperty::valueReceived);
    t.root.dataUpdated(0, 2);
    t.root.dataUpdated(0, 2);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(received.count(), 2);
    QCOMPARE(changed.last().first(), QVariant(7));
}

// The gadget appends its catalogue from a receiver of a basic-block signal,
// that is while the root is still walking its children.
void tst_SlProperty::childrenAddedDuringAnUpdate()
{
    Tree t({leaf("key", PROPERTY_UINT8, 0, 3, 0), leaf("tail", PROPERTY_UINT8, 0, 3, 70)});
    QList<SlPropertyDescriptor> more;
    for (int i = 0; i < 64; ++i)
        more << leaf(QStringLiteral("p%1").arg(i), PROPERTY_UINT8, 0, 3, quint32(1 + i));
    bool extended = false;
    connect(t["key"], &SlProperty::valueChanged, &t.root, [&] {
        if (!extended) {
            extended = true;
            t.root.addChildren(more);
        }
    });
    QByteArray image(71, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i + 1);
    t.store(0, image);
    t.root.dataUpdated(0, image.size());
    QVERIFY(extended);
    QCOMPARE(t.root.childrens().size(), 66);
    QCOMPARE(t.events.count(QStringLiteral("tail:changed")), 1);
    // The nodes added on the way were reached by the same update.
    QCOMPARE(t["p0"]->value(), QVariant(2));
    QCOMPARE(t["p63"]->value(), QVariant(65));
}

void tst_SlProperty::rangedUpdateVariableLength()
{
    Tree t({leaf("v", PROPERTY_LATIN1_STRING, 10, 3 | PROPERTY_FLAG_VARIABLE_LENGTH)});
    t.store(0, hex("61626300646566676869"));
    t.root.dataUpdated(0, 5);
    QCOMPARE(t["v"]->value(), QVariant(hex("6162630064")));
}

void tst_SlProperty::fullRefreshReportsOnlyChanges()
{
    Tree t({leaf("a", PROPERTY_UINT8), leaf("b", PROPERTY_UINT8), leaf("c", PROPERTY_UINT8)});
    t.store(0, hex("010203"));
    t.root.dataUpdated();
    QCOMPARE(t.events, QStringList({"a:changed", "b:changed", "c:changed"}));
    t.events.clear();
    t.store(1, hex("09"));
    t.root.dataUpdated();
    QCOMPARE(t.events, QStringList({"b:changed"}));
    QCOMPARE(t["b"]->value(), QVariant(9));
}

void tst_SlProperty::valueFromString_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");

    const QVariant none;
    QTest::newRow("int8 -128") << 1 << "-128" << QVariant(-128);
    QTest::newRow("int8 128") << 1 << "128" << none;
    QTest::newRow("uint8 255") << 2 << "255" << QVariant(255);
    QTest::newRow("uint8 256") << 2 << "256" << none;
    QTest::newRow("uint8 -1") << 2 << "-1" << none;
    QTest::newRow("int16 -32769") << 3 << "-32769" << none;
    QTest::newRow("int16 32767") << 3 << "32767" << QVariant(32767);
    QTest::newRow("uint16 65535") << 4 << "65535" << QVariant(65535);
    QTest::newRow("uint16 65536") << 4 << "65536" << none;
    QTest::newRow("int32 min") << 5 << "-2147483648" << QVariant(INT_MIN);
    QTest::newRow("int32 hex text") << 5 << "0x10" << none;
    QTest::newRow("uint32 -1") << 6 << "-1" << QVariant(4294967295u);
    QTest::newRow("uint32 above int") << 6 << "2147483648" << none;
    QTest::newRow("bool 1") << 7 << "1" << QVariant(true);
    QTest::newRow("bool false") << 7 << "false" << QVariant(false);
    QTest::newRow("bool True") << 7 << "True" << none;
    QTest::newRow("latin1") << 8 << "k3y" << QVariant("k3y");
    QTest::newRow("utf8 empty") << 9 << "" << QVariant(QString(""));
    const QDateTime dt(QDate(2020, 5, 1), QTime(12, 34, 56, 789), Qt::LocalTime);
    QTest::newRow("date") << 10 << "2020-05-01T12:34:56.789Z" << QVariant(dt.date());
    QTest::newRow("time") << 11 << "2020-05-01T12:34:56.789Z" << QVariant(dt.time());
    QTest::newRow("datetime") << 12 << "2020-05-01T12:34:56.789Z" << QVariant(dt);
    QTest::newRow("datetime without ms") << 12 << "2020-05-01T12:34:56Z" << none;
    QTest::newRow("type 0") << 0 << "1" << none;
    QTest::newRow("list") << 13 << "1" << none;
    QTest::newRow("type 14") << 14 << "1" << none;
}

void tst_SlProperty::valueFromString()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    const QVariant v = SlProperty::valueFromString(type, text);
    QCOMPARE(v.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(v.userType(), expected.userType());
        QCOMPARE(v, expected);
    }
    if (v.userType() == QMetaType::QDateTime)
        QCOMPARE(v.toDateTime().timeSpec(), Qt::LocalTime);
}

void tst_SlProperty::toVariantMapFlat()
{
    Tree t({leaf("u8", PROPERTY_UINT8), leaf("u16", PROPERTY_UINT16), leaf("i8", PROPERTY_INT8),
            leaf("u32", PROPERTY_UINT32), leaf("cmd", PROPERTY_UINT8, 0, 2),
            leaf("flag", PROPERTY_BOOL)});
    t.store(0, hex("fe 3412 ff 01000000 05 01"));
    const QVariantMap m = SlProperty::toVariantMap(&t.root);
    QCOMPARE(m.keys(), QStringList({"cmd", "flag", "i8", "u16", "u32", "u8"}));
    QCOMPARE(m.value("u8").userType(), int(QMetaType::Int));
    QCOMPARE(m.value("u8"), QVariant(254));
    QCOMPARE(m.value("u16").userType(), int(QMetaType::Int));
    QCOMPARE(m.value("u16"), QVariant(0x1234));
    QCOMPARE(m.value("i8"), QVariant(-1));
    QCOMPARE(m.value("u32").userType(), int(QMetaType::UInt));
    QVERIFY(m.contains("cmd"));
    QVERIFY(!m.value("cmd").isValid());
    QCOMPARE(m.value("flag"), QVariant(true));
    QVERIFY(SlProperty::toVariantMap(nullptr).isEmpty());
}

void tst_SlProperty::toVariantMapNested()
{
    // root -> "stats" (list of records) -> "r0", "r1" (lists of leaves), plus a plain leaf.
    auto record = [](const QString &name, quint32 offset) {
        SlPropertyDescriptor r(name, PROPERTY_LIST, offset, 0, 3);
        r.children = {leaf("count", PROPERTY_UINT16, 0, 3, offset),
                      leaf("on", PROPERTY_BOOL, 0, 3, offset + 2)};
        return r;
    };
    SlPropertyDescriptor stats("stats", PROPERTY_LIST, 1, 0, 3);
    stats.children = {record("r0", 1), record("r1", 4)};
    Tree t({leaf("top", PROPERTY_UINT8, 0, 3, 0), stats}, "device");
    t.store(0, hex("09 0200 01 0300 00"));

    const QVariantMap m = SlProperty::toVariantMap(&t.root);
    QCOMPARE(m.keys(), QStringList({"device"}));
    const QVariantMap device = m.value("device").toMap();
    QCOMPARE(device.value("top"), QVariant(9));
    const QVariantList rows = device.value("stats").toList();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).toMap(), QVariantMap({{"count", 2}, {"on", true}}));
    QCOMPARE(rows.at(1).toMap(), QVariantMap({{"count", 3}, {"on", false}}));
}

void tst_SlProperty::propertyFileBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Tree t({leaf("b", PROPERTY_UINT16, 0, 19, 7), leaf("a", PROPERTY_UINT8, 0, 2, 0)}, "ab");
    const QString path = dir.filePath("properties.bsp");
    QFile stale(path);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray(500, 'x'));
    stale.close();

    QVERIFY(SlProperty::saveToFile(QUrl::fromLocalFile(path), &t.root));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray expected = hex("00000004 00610062 0000000d 00000003 00000002 00000000"
                                    "00000002 0061 00000002 00000002 00000001 00000000"
                                    "00000002 0062 00000004 00000013 00000002 00000007");
    QCOMPARE(f.readAll(), expected);
}

void tst_SlProperty::propertyFileFailures_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("missing folder") << QUrl::fromLocalFile("/nonexistent-dir/x/properties.bsp");
    QTest::newRow("not a file url") << QUrl("http://example.invalid/properties.bsp");
}

void tst_SlProperty::propertyFileFailures()
{
    QFETCH(QUrl, url);
    Tree t({leaf("a", PROPERTY_UINT8)});
    QTest::ignoreMessage(QtDebugMsg, "can`t save properties to file");
    QVERIFY(!SlProperty::saveToFile(url, &t.root));
}

QTEST_GUILESS_MAIN(tst_SlProperty)
#include "tst_slproperty.moc"
