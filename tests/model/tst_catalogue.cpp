#include "mirrortree.h"
#include "model/ggadget.h"
#include "model/tr31catalogue.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QtTest>

namespace {

// The TR-31's firmware reads these addresses; a shifted entry breaks every later one. Each
// entry is name:type:offset:flags, and its size is the gap to the next; the block ends at 176.
// The first six are the identity block every gadget has.
const char kMap[] =
    "productId:4:0:3 firmwareVersion:6:2:3 productSerial:9:6:19 deviceKey:8:36:19 "
    "serverKey:8:60:19 deviceCommand:2:84:2 dateTime:12:85:3 timeOffset:3:94:3 syncFlag:7:96:3 "
    "syncTime:12:97:3 timeCmd:2:106:2 "
    "timeFormat:2:107:3 batteryLevel:2:108:3 batteryVoltage:4:109:3 predictedWTIndic:2:111:3 "
    "predictedWTStby:6:112:3 lastChargeDaysAgo:4:116:3 lastChargeLevel:2:118:3 "
    "indicCurrent:4:119:3 batteryChargeCycles:4:121:3 indicSwitchCount:6:123:3 "
    "indicWorkTime:6:127:3 button1ClickCount:6:131:3 button2ClickCount:6:135:3 "
    "eventButtonPress1:2:139:3 eventButtonPress2:2:140:3 eventButtonPress3:2:141:3 "
    "automaticSwitchMode:2:142:3 accelMode:2:143:3 personalization:2:144:3 "
    "indicBrightness:2:145:19 indicBackType:2:146:19 indicBack_hh:2:147:19 "
    "indicBack_mminute:2:148:19 indicBack_ss:2:149:19 indicBack_dd:2:150:19 "
    "indicBack_mmonth:2:151:19 indicBack_yy:2:152:19 indicBackBatChg:2:153:19 "
    "indicTimeOrder:2:154:3 indicDateOrder:2:155:3 indicDuration_hhms:4:156:3 "
    "indicDuration_mminute_ms:4:158:3 indicDuration_ss_ms:4:160:3 "
    "indicDuration_dd_ms:4:162:3 indicDuration_mmonth_ms:4:164:3 indicDuration_yy_ms:4:166:3 "
    "indicDurationChargems:4:168:3 indicEffect:2:170:3 accelerometerSensitivity:2:171:3 "
    "startOfUseDaysAgo:6:172:3";

} // namespace

class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void memoryMap();
    void models();
};

void tst_Catalogue::memoryMap()
{
    MirrorTree g(GGadget::basicBlock());
    QSignalSpy rootChanged(&g.root, &SlProperty::valueChanged);
    appendCatalogue(&g.root);
    // One batch, so that views rebuild the tree once.
    QCOMPARE(rootChanged.count(), 1);

    const QStringList entries = QString(kMap).split(' ');
    const QVariantList nodes = g.root.childrens();
    QCOMPARE(nodes.size(), entries.size());
    // With the end of the block the offsets fix every size.
    for (int i = 0; i < entries.size(); ++i) {
        const auto *node = nodes.at(i).value<SlProperty *>();
        QCOMPARE(QStringLiteral("%1:%2:%3:%4")
                     .arg(node->name(), QString::number(node->type()),
                          QString::number(node->offset()), QString::number(node->flags())),
                 entries.at(i));
    }
    QCOMPARE(g.root.nextOffset(), qint64(176));
}

void tst_Catalogue::models()
{
    appendCatalogue(nullptr); // no tree: nothing to add to, and no crash
    MirrorTree g(GGadget::basicBlock());
    appendCatalogue(&g.root);
    const QDateTime clock(QDate(2019, 5, 1), QTime(12, 0), Qt::LocalTime);
    g.receive(85, QByteArray::fromHex("e3070501 0c000000 00"));
    g.receive(121, QByteArray::fromHex("0700 0a000000 e8030000"));

    const QVariantMap params = makeParamsModel(&g.root);
    QCOMPARE(params.size(), 45);
    for (const char *gone :
         {"deviceCommand", "timeCmd", "productSerial", "productId", "deviceKey", "serverKey"})
        QVERIFY2(!params.contains(gone), gone);

    // Each counter becomes a one-entry history stamped with the watch's clock; without a tree
    // the statistics still carry every counter, empty.
    const QVariantMap stats = makeStatisticsModel(&g.root), empty = makeStatisticsModel(nullptr);
    const QVariantMap expected{
        {"batteryChargeCycles", 7}, {"indicSwitchCount", 10u}, {"indicWorkTime", 1000u}};
    QCOMPARE(stats.keys(), expected.keys());
    QCOMPARE(empty.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QVariantMap entry{{"datetime", clock}, {"value", it.value()}};
        QCOMPARE(stats.value(it.key()), QVariant(QVariantList{entry}));
        QCOMPARE(empty.value(it.key()),
                 QVariant(QVariantList{QVariantMap{{"datetime", {}}, {"value", {}}}}));
    }
}

QTEST_GUILESS_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
