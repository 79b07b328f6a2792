#include "mirrortree.h"
#include "model/slstatmodeltranslator.h"

#include <QtTest>

namespace {

constexpr quint32 kRecordSize = 11; // datetime (9) + value (2)

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::LocalTime);
}

// A statistics list "stats" of records r0, r1, ... each holding "datetime" and "value".
SlPropertyDescriptor statsList(int records)
{
    SlPropertyDescriptor stats("stats", PROPERTY_LIST, 0, 0, 3);
    for (quint32 base = 0; stats.children.size() < records; base += kRecordSize) {
        SlPropertyDescriptor rec(QString("r%1").arg(stats.children.size()), PROPERTY_LIST, base, 0,
                                 3);
        rec.children = {SlPropertyDescriptor("datetime", PROPERTY_DATETIME, base, 0, 3),
                        SlPropertyDescriptor("value", PROPERTY_UINT16, base + 9, 0, 3)};
        stats.children.append(rec);
    }
    return stats;
}

struct StatsTree : MirrorTree
{
    explicit StatsTree(const QList<QDateTime> &stamps)
        : MirrorTree({statsList(stamps.size())})
        , list(root.child("stats"))
    {
        for (int i = 0; i < stamps.size(); ++i)
            restamp(i, stamps.at(i));
    }

    void restamp(int i, const QDateTime &dt)
    {
        // Encoded by the codec that tst_slproperty checks byte for byte; an unused slot is zeros.
        QByteArray bytes(9, '\0');
        if (dt.isValid())
            SlProperty::encode(PROPERTY_DATETIME, dt, &bytes);
        receive(i * kRecordSize, bytes);
    }

    QVariant record(int i) const { return list->child(QString("r%1").arg(i))->value(); }

    SlProperty *list;
};

// QSignalSpy cannot copy the non-const reference argument, so count emissions directly.
struct ModelChangedCounter
{
    explicit ModelChangedCounter(SlStatModelTranslator *tr)
    {
        QObject::connect(tr, &SlStatModelTranslator::modelChanged,
                         [this](QVariantList &model) { ++count, last = model; });
    }
    int count = 0;
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
    void translate();
    void followsInput();
};

void tst_StatModelTranslator::translate()
{
    // Children in offset order are deliberately not in date order. All-zero bytes, an unused
    // slot, read as 1900-01-01 and never reach the model. The default method collects.
    StatsTree t({at(2020, 5, 1, 23), at(2020, 5, 2, 10), QDateTime(), at(2020, 5, 2, 8)});
    SlStatModelTranslator collect, pass, unknown;
    pass.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    unknown.setMethod(7);
    ModelChangedCounter collectChanged(&collect);
    for (SlStatModelTranslator *tr : {&collect, &pass, &unknown})
        tr->setModelProperty(t.list);
    // One row per day, newest first, stamped with the day's earliest record.
    const QVariantList days{row(at(2020, 5, 2, 8), {t.record(1), t.record(3)}),
                            row(at(2020, 5, 1, 23), {t.record(0)})};
    QCOMPARE(collect.model(), days);
    QCOMPARE(collectChanged.last, days);
    QCOMPARE(pass.model(), QVariantList({t.record(1), t.record(3), t.record(0)}));
    QCOMPARE(unknown.model(), QVariantList());
    StatsTree unused({QDateTime()});
    collect.setModelProperty(unused.list);
    QCOMPARE(collect.model(), QVariantList());
}

void tst_StatModelTranslator::followsInput()
{
    StatsTree a({at(2020, 5, 1, 23), at(2020, 5, 2, 10)}), b({at(2021, 5, 1, 23)});
    SlStatModelTranslator tr;
    tr.setMethod(SlStatModelTranslator::PASS_TROUGHT);
    ModelChangedCounter changed(&tr);
    QSignalSpy inputChanged(&tr, &SlStatModelTranslator::modelPropertyChanged);
    tr.setModelProperty(a.list);
    a.restamp(0, at(2020, 5, 3, 1));
    QCOMPARE(changed.count, 2);
    QCOMPARE(tr.model(), QVariantList({a.record(0), a.record(1)}));
    // One block over both records refreshes both date-times: one translation each. The value
    // leaf is not watched.
    a.root.dataUpdated(0, 2 * kRecordSize);
    QCOMPARE(changed.count, 4);
    a.root.dataUpdated(9, 2);
    QCOMPARE(changed.count, 4);
    // Neither the same input again nor a new method translates.
    tr.setModelProperty(a.list);
    tr.setMethod(SlStatModelTranslator::COLLECT_SAME_DATES);
    QCOMPARE(inputChanged.count(), 1);
    QCOMPARE(changed.count, 4);
    // A new input drops the old one's connections.
    tr.setModelProperty(b.list);
    a.restamp(0, at(2022, 1, 2));
    QCOMPARE(changed.count, 5);
    b.restamp(0, at(2022, 1, 1));
    QCOMPARE(changed.count, 6);
    QCOMPARE(tr.model(), QVariantList({row(at(2022, 1, 1), {b.record(0)})}));
    // Without input nothing is translated.
    tr.setModelProperty(nullptr);
    b.restamp(0, at(2022, 1, 3));
    QCOMPARE(inputChanged.count(), 3);
    QCOMPARE(changed.count, 6);
}

QTEST_GUILESS_MAIN(tst_StatModelTranslator)
#include "tst_statmodeltranslator.moc"
