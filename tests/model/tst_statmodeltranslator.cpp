#include "datetimebytes.h"
#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"
#include "model/slpropertystreams.h"
#include "model/slstatmodeltranslator.h"

#include <QBuffer>
#include <QDateTime>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr quint32 kRecordSize = 11; // datetime (9) + value (2)

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::LocalTime);
}

// A statistics list "stats" of records r0, r1, ... each holding "datetime" and "value".
struct StatsTree
{
    explicit StatsTree(const QList<QDateTime> &stamps)
        : streams(&mirror, nullptr)
        , root(&streams, SlPropertyDescriptor("root", PROPERTY_LIST, 0, 0, 3))
    {
        mirror.open(QIODevice::ReadWrite);
        SlPropertyDescriptor stats("stats", PROPERTY_LIST, 0, 0, 3);
        for (int i = 0; i < stamps.size(); ++i) {
            const quint32 base = quint32(i) * kRecordSize;
            SlPropertyDescriptor rec(QString("r%1").arg(i), PROPERTY_LIST, base, 0, 3);
            rec.children = {SlPropertyDescriptor("datetime", PROPERTY_DATETIME, base, 0, 3),
                            SlPropertyDescriptor("value", PROPERTY_UINT16, base + 9, 0, 3)};
            stats.children.append(rec);
            mirror.seek(base);
            mirror.write(dateTimeBytes(stamps.at(i)));
        }
        root.addChildren({stats});
        list = root.child("stats");
    }

    void restamp(int i, const QDateTime &dt)
    {
        mirror.seek(i * kRecordSize);
        mirror.write(dateTimeBytes(dt));
        root.dataUpdated(i * kRecordSize, 9);
    }

    QVariant record(int i) const { return list->child(QString("r%1").arg(i))->value(); }

    QBuffer mirror;
    SlPropertyStreams streams;
    SlProperty root;
    SlProperty *list = nullptr;
};

// QSignalSpy cannot copy the non-const reference argument, so count emissions directly.
struct ModelChangedCounter
{
    explicit ModelChangedCounter(SlStatModelTranslator *tr)
    {
        QObject::connect(tr, &SlStatModelTranslator::modelChanged, [this](QVariantList &model) {
            ++n;
            last = model;
        });
    }
    int count() const { return n; }

    int n = 0;
    QVariantList last;
};

QVariantMap row(const QDateTime &dt, const QVariantList &records)
{
    return {{"datetime", dt}, {"list", records}};
}

} // namespace

class tst_StatModelTranslator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metaObjectOrder();
    void collectSameDatesGroupsByDay();
    void passThroughNewestFirst();
    void singleRecord_data();
    void singleRecord();
    void year1900CutsOff_data();
    void year1900CutsOff();
    void unknownMethodGivesEmptyModel();
    void sameInputAndMethodDoNotTranslate();
    void noInputNeverEmits();
    void dateTimeChangeTranslatesAgain();
    void newInputDropsOldConnections();
};

void tst_StatModelTranslator::initTestCase()
{
    // The translation logs one line per record it looks at.
    QLoggingCategory::setFilterRules("default.debug=false");
}

void tst_StatModelTranslator::metaObjectOrder()
{
    const QMetaObject &mo = SlStatModelTranslator::staticMetaObject;
    QStringList methods;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        methods << QString::fromLatin1(mo.method(i).methodSignature());
    QCOMPARE(methods,
             QStringList({"modelPropertyChanged(SlProperty*)", "modelChanged(QVariantList&)",
                          "setModelProperty(SlProperty*)", "setModel(QVariantList&)",
                          "setMethod(int)", "modelPropertyChildsChanged()"}));
    QCOMPARE(mo.enumerator(mo.indexOfEnumerator("Method")).keyCount(), 2);
}

void tst_StatModelTranslator::collectSameDatesGroupsByDay()
{
    // Children in offset order are deliberately not in date order.
    StatsTree t({at(2020, 5, 1, 23), at(2020, 5, 2, 10), at(2020, 5, 2, 8)});
    SlStatModelTranslator tr;
    tr.setMethod(SlStatModelTranslator::COLLECT_SAME_DATES);
    ModelChangedCounter changed(&tr);
    QSignalSpy inputChanged(&tr, &SlStatModelTranslator::modelPropertyChanged);
    tr.setModelProperty(t.list);
    QCOMPARE(inputChanged.count(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(tr.modelProperty(), t.list);
    const QVariantList expected{row(at(2020, 5, 2, 8), {t.record(1), t.record(2)}),
                                row(at(2020, 5, 1, 23), {t.record(0)})};
    QCOMPARE(tr.model(), expected);
    QCOMPARE(changed.last, expected);
}

void tst_StatModelTranslator::passThroughNewestFirst()
{
    StatsTree t({at(2020, 5, 1, 23), at(2020, 5, 2, 10), at(2020, 5, 2, 8)});
    SlStatModelTranslator tr;
    tr.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    tr.setModelProperty(t.list);
    QCOMPARE(tr.model(), QVariantList({t.record(1), t.record(2), t.record(0)}));
    // A record map gives views the nodes themselves.
    const QVariantMap first = tr.model().first().toMap();
    QCOMPARE(first.value("datetime").value<SlProperty *>()->value(), QVariant(at(2020, 5, 2, 10)));
}

void tst_StatModelTranslator::singleRecord_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("collect") << int(SlStatModelTranslator::COLLECT_SAME_DATES);
    QTest::newRow("pass") << int(SlStatModelTranslator::PASS_TROUGHT);
}

void tst_StatModelTranslator::singleRecord()
{
    QFETCH(int, method);
    StatsTree t({at(2021, 7, 4, 9)});
    SlStatModelTranslator tr;
    tr.setMethod(method);
    tr.setModelProperty(t.list);
    const QVariant expected = method == SlStatModelTranslator::COLLECT_SAME_DATES
                                  ? QVariant(row(at(2021, 7, 4, 9), {t.record(0)}))
                                  : t.record(0);
    QCOMPARE(tr.model(), QVariantList({expected}));
}

void tst_StatModelTranslator::year1900CutsOff_data()
{
    QTest::addColumn<QList<QDateTime>>("stamps");
    QTest::addColumn<int>("method");
    QTest::addColumn<QList<int>>("rowDays");      // day of month of each row's date, in order
    const QList<QDateTime> only1900{QDateTime()}; // all-zero bytes read as 1900-01-01
    const QList<QDateTime> mixed{at(2021, 3, 1, 5), QDateTime(), at(2020, 12, 31, 6)};
    QTest::newRow("only 1900 collect") << only1900 << 0 << QList<int>();
    QTest::newRow("only 1900 pass") << only1900 << 1 << QList<int>();
    QTest::newRow("mixed collect") << mixed << 0 << QList<int>{1, 31};
    QTest::newRow("mixed pass") << mixed << 1 << QList<int>{1, 31};
}

void tst_StatModelTranslator::year1900CutsOff()
{
    QFETCH(QList<QDateTime>, stamps);
    QFETCH(int, method);
    QFETCH(QList<int>, rowDays);
    StatsTree t(stamps);
    SlStatModelTranslator tr;
    tr.setMethod(method);
    ModelChangedCounter changed(&tr);
    tr.setModelProperty(t.list);
    QCOMPARE(changed.count(), 1);
    QList<int> days;
    for (const QVariant &r : tr.model()) {
        const QVariantMap m = r.toMap();
        const QDateTime dt = method == 0
                                 ? m.value("datetime").toDateTime()
                                 : m.value("datetime").value<SlProperty *>()->value().toDateTime();
        days << dt.date().day();
    }
    QCOMPARE(days, rowDays);
}

void tst_StatModelTranslator::unknownMethodGivesEmptyModel()
{
    StatsTree t({at(2021, 7, 4, 9)});
    SlStatModelTranslator tr;
    tr.setMethod(7);
    ModelChangedCounter changed(&tr);
    tr.setModelProperty(t.list);
    QCOMPARE(changed.count(), 1);
    QVERIFY(tr.model().isEmpty());
}

void tst_StatModelTranslator::sameInputAndMethodDoNotTranslate()
{
    StatsTree t({at(2020, 5, 1, 23), at(2020, 5, 2, 10)});
    SlStatModelTranslator tr;
    tr.setMethod(SlStatModelTranslator::COLLECT_SAME_DATES);
    tr.setModelProperty(t.list);
    const QVariantList before = tr.model();
    ModelChangedCounter changed(&tr);
    QSignalSpy inputChanged(&tr, &SlStatModelTranslator::modelPropertyChanged);
    tr.setModelProperty(t.list);
    tr.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(inputChanged.count(), 0);
    QCOMPARE(tr.model(), before);
    QCOMPARE(tr.method(), int(SlStatModelTranslator::PASS_TROUGHT));
}

void tst_StatModelTranslator::noInputNeverEmits()
{
    SlStatModelTranslator tr;
    ModelChangedCounter changed(&tr);
    tr.setModelProperty(nullptr);
    tr.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    QCOMPARE(changed.count(), 0);
    QVERIFY(tr.model().isEmpty());

    StatsTree t({at(2020, 1, 1, 1)});
    tr.setModelProperty(t.list);
    QCOMPARE(changed.count(), 1);
    tr.setModelProperty(nullptr);
    QCOMPARE(changed.count(), 1);
    t.restamp(0, at(2020, 1, 2, 1));
    QCOMPARE(changed.count(), 1);
}

void tst_StatModelTranslator::dateTimeChangeTranslatesAgain()
{
    StatsTree t({at(2020, 5, 1, 23), at(2020, 5, 2, 10)});
    SlStatModelTranslator tr;
    tr.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    tr.setModelProperty(t.list);
    ModelChangedCounter changed(&tr);

    t.restamp(0, at(2020, 5, 3, 1));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(tr.model(), QVariantList({t.record(0), t.record(1)}));

    // One block over both records refreshes both date-times: one translation each.
    t.root.dataUpdated(0, 2 * kRecordSize);
    QCOMPARE(changed.count(), 3);

    // The value leaf is not watched.
    t.root.dataUpdated(9, 2);
    QCOMPARE(changed.count(), 3);
}

void tst_StatModelTranslator::newInputDropsOldConnections()
{
    StatsTree a({at(2020, 5, 1, 23)});
    StatsTree b({at(2021, 5, 1, 23)});
    SlStatModelTranslator tr;
    tr.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    tr.setModelProperty(a.list);
    tr.setModelProperty(b.list);
    ModelChangedCounter changed(&tr);
    a.restamp(0, at(2022, 1, 1));
    QCOMPARE(changed.count(), 0);
    b.restamp(0, at(2022, 1, 1));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(tr.model(), QVariantList({b.record(0)}));
}

QTEST_GUILESS_MAIN(tst_StatModelTranslator)
#include "tst_statmodeltranslator.moc"
