#include "datetimebytes.h"
#include "model/ggadget.h"
#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"
#include "model/slpropertystreams.h"
#include "model/tr31catalogue.h"
#include "packetrecorder.h"

#include <QBuffer>
#include <QDateTime>
#include <QSignalSpy>
#include <QtTest>

namespace {

struct Gadget
{
    Gadget()
        : streams(&mirror, &link)
        , root(&streams, SlPropertyDescriptor("root", PROPERTY_LIST, 0, 0, 3))
    {
        mirror.open(QIODevice::ReadWrite);
        root.addChildren(GGadget::basicBlock());
    }

    void receive(qint64 offset, const QByteArray &bytes)
    {
        mirror.seek(offset);
        mirror.write(bytes);
        root.dataUpdated(offset, bytes.size());
    }

    QBuffer mirror;
    PacketRecorder link;
    SlPropertyStreams streams;
    SlProperty root;
};

} // namespace

class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void memoryMap_data();
    void memoryMap();
    void coversBlockWithoutGaps();
    void blockAt85UpdatesOnlyCatalogue();
    void paramsModel();
    void statisticsModel();
    void statisticsModelWithoutCatalogue();
    void nullRoot();
};

void tst_Catalogue::memoryMap_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("offset");
    QTest::addColumn<uint>("flags");

    struct Row
    {
        const char *name;
        int type;
        uint size, offset, flags;
    };
    // The TR-31's firmware reads these addresses; a shifted entry breaks every later one.
    const Row rows[] = {
        {"dateTime", 12, 9, 85, 3},
        {"timeOffset", 3, 2, 94, 3},
        {"syncFlag", 7, 1, 96, 3},
        {"syncTime", 12, 9, 97, 3},
        {"timeCmd", 2, 1, 106, 2},
        {"timeFormat", 2, 1, 107, 3},
        {"batteryLevel", 2, 1, 108, 3},
        {"batteryVoltage", 4, 2, 109, 3},
        {"predictedWTIndic", 2, 1, 111, 3},
        {"predictedWTStby", 6, 4, 112, 3},
        {"lastChargeDaysAgo", 4, 2, 116, 3},
        {"lastChargeLevel", 2, 1, 118, 3},
        {"indicCurrent", 4, 2, 119, 3},
        {"batteryChargeCycles", 4, 2, 121, 3},
        {"indicSwitchCount", 6, 4, 123, 3},
        {"indicWorkTime", 6, 4, 127, 3},
        {"button1ClickCount", 6, 4, 131, 3},
        {"button2ClickCount", 6, 4, 135, 3},
        {"eventButtonPress1", 2, 1, 139, 3},
        {"eventButtonPress2", 2, 1, 140, 3},
        {"eventButtonPress3", 2, 1, 141, 3},
        {"automaticSwitchMode", 2, 1, 142, 3},
        {"accelMode", 2, 1, 143, 3},
        {"personalization", 2, 1, 144, 3},
        {"indicBrightness", 2, 1, 145, 19},
        {"indicBackType", 2, 1, 146, 19},
        {"indicBack_hh", 2, 1, 147, 19},
        {"indicBack_mminute", 2, 1, 148, 19},
        {"indicBack_ss", 2, 1, 149, 19},
        {"indicBack_dd", 2, 1, 150, 19},
        {"indicBack_mmonth", 2, 1, 151, 19},
        {"indicBack_yy", 2, 1, 152, 19},
        {"indicBackBatChg", 2, 1, 153, 19},
        {"indicTimeOrder", 2, 1, 154, 3},
        {"indicDateOrder", 2, 1, 155, 3},
        {"indicDuration_hhms", 4, 2, 156, 3},
        {"indicDuration_mminute_ms", 4, 2, 158, 3},
        {"indicDuration_ss_ms", 4, 2, 160, 3},
        {"indicDuration_dd_ms", 4, 2, 162, 3},
        {"indicDuration_mmonth_ms", 4, 2, 164, 3},
        {"indicDuration_yy_ms", 4, 2, 166, 3},
        {"indicDurationChargems", 4, 2, 168, 3},
        {"indicEffect", 2, 1, 170, 3},
        {"accelerometerSensitivity", 2, 1, 171, 3},
        {"startOfUseDaysAgo", 6, 4, 172, 3},
    };
    for (const Row &r : rows)
        QTest::newRow(r.name) << QString(r.name) << r.type << r.size << r.offset << r.flags;
}

void tst_Catalogue::memoryMap()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(uint, size);
    QFETCH(uint, offset);
    QFETCH(uint, flags);
    Gadget g;
    appendCatalogue(&g.root);
    SlProperty *node = g.root.child(name);
    QVERIFY(node);
    QCOMPARE(node->type(), type);
    QCOMPARE(node->size(), size);
    QCOMPARE(node->offset(), offset);
    QCOMPARE(node->flags(), flags);
}

void tst_Catalogue::coversBlockWithoutGaps()
{
    Gadget g;
    QSignalSpy rootChanged(&g.root, &SlProperty::valueChanged);
    appendCatalogue(&g.root);
    QCOMPARE(rootChanged.count(), 1);
    QCOMPARE(rootChanged.first().first().toMap().size(), 51);
    QCOMPARE(g.root.size(), 51u);
    QCOMPARE(g.root.nextOffset(), qint64(176));

    quint32 expected = 0;
    for (const QVariant &v : g.root.childrens()) {
        auto *node = v.value<SlProperty *>();
        QCOMPARE(node->offset(), expected);
        expected += node->size();
    }
    QCOMPARE(expected, 176u);
}

void tst_Catalogue::blockAt85UpdatesOnlyCatalogue()
{
    Gadget g;
    appendCatalogue(&g.root);
    QStringList received;
    for (const QVariant &v : g.root.childrens()) {
        auto *node = v.value<SlProperty *>();
        connect(node, &SlProperty::valueReceived,
                [&received, node]() { received << node->name(); });
    }
    g.receive(85, QByteArray(91, '\x01'));
    QCOMPARE(received.size(), 45);
    QCOMPARE(received.first(), QString("dateTime"));
    QCOMPARE(received.last(), QString("startOfUseDaysAgo"));
    QVERIFY(!received.contains("deviceCommand"));
    QVERIFY(!received.contains("productId"));
}

void tst_Catalogue::paramsModel()
{
    Gadget g;
    appendCatalogue(&g.root);
    const QDateTime clock(QDate(2019, 5, 1), QTime(12, 0), Qt::LocalTime);
    g.receive(0, QByteArray::fromHex("0500") + QByteArray::fromHex("2d153401") +
                     QByteArray("SN-1").leftJustified(30, '\0'));
    g.receive(85, dateTimeBytes(clock) + QByteArray::fromHex("3c00 01"));
    g.receive(108, QByteArray::fromHex("63"));

    const QVariantMap model = makeParamsModel(&g.root);
    QCOMPARE(model.size(), 45);
    for (const char *gone :
         {"deviceCommand", "timeCmd", "productSerial", "productId", "deviceKey", "serverKey"})
        QVERIFY2(!model.contains(gone), gone);
    QCOMPARE(model.value("firmwareVersion"), QVariant(20190509u));
    QCOMPARE(model.value("dateTime"), QVariant(clock));
    QCOMPARE(model.value("timeOffset"), QVariant(60));
    QCOMPARE(model.value("syncFlag").userType(), int(QMetaType::Bool));
    QCOMPARE(model.value("syncFlag"), QVariant(true));
    QCOMPARE(model.value("batteryLevel").userType(), int(QMetaType::Int));
    QCOMPARE(model.value("batteryLevel"), QVariant(99));
    QCOMPARE(model.value("batteryVoltage").userType(), int(QMetaType::Int));
}

void tst_Catalogue::statisticsModel()
{
    Gadget g;
    appendCatalogue(&g.root);
    const QDateTime clock(QDate(2019, 5, 1), QTime(12, 0), Qt::LocalTime);
    g.receive(85, dateTimeBytes(clock));
    g.receive(121, QByteArray::fromHex("0700 0a000000 e8030000"));

    const QVariantMap model = makeStatisticsModel(&g.root);
    QCOMPARE(model.keys(),
             QStringList({"batteryChargeCycles", "indicSwitchCount", "indicWorkTime"}));
    const QList<QPair<QString, QVariant>> expected = {
        {"batteryChargeCycles", 7}, {"indicSwitchCount", 10u}, {"indicWorkTime", 1000u}};
    for (const auto &e : expected) {
        const QVariantList list = model.value(e.first).toList();
        QCOMPARE(list.size(), 1);
        const QVariantMap entry = list.first().toMap();
        QCOMPARE(entry.keys(), QStringList({"datetime", "value"}));
        QCOMPARE(entry.value("datetime"), QVariant(clock));
        QCOMPARE(entry.value("value"), e.second);
    }
}

void tst_Catalogue::statisticsModelWithoutCatalogue()
{
    Gadget g;
    const QVariantMap model = makeStatisticsModel(&g.root);
    QCOMPARE(model.size(), 3);
    for (const QVariant &v : model) {
        const QVariantMap entry = v.toList().value(0).toMap();
        QVERIFY(entry.contains("datetime"));
        QVERIFY(!entry.value("datetime").isValid());
        QVERIFY(!entry.value("value").isValid());
    }
}

void tst_Catalogue::nullRoot()
{
    appendCatalogue(nullptr);
    QVERIFY(makeParamsModel(nullptr).isEmpty());
    QCOMPARE(makeStatisticsModel(nullptr).size(), 3);
}

QTEST_GUILESS_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
