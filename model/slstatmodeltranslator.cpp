#include "slstatmodeltranslator.h"

#include "slproperty.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <limits>

namespace {

const QString kDateTimeKey = QStringLiteral("datetime");

struct Record
{
    QVariant map;
    QDateTime dateTime;
    qint64 sortKey;
};

bool isUsable(const QDateTime &dt)
{
    return dt.isValid() && dt.date().year() != 1900;
}

} // namespace

SlStatModelTranslator::SlStatModelTranslator(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SlProperty *>("SlProperty*");
}

void SlStatModelTranslator::setModelProperty(SlProperty *model)
{
    if (model == m_modelProperty)
        return;
    m_modelProperty = model;
    emit modelPropertyChanged(model);

    for (const QMetaObject::Connection &c : qAsConst(m_connections))
        disconnect(c);
    m_connections.clear();
    if (model) {
        const QVariantList records = model->childrens();
        for (const QVariant &r : records) {
            SlProperty *record = r.value<SlProperty *>();
            SlProperty *dt = record ? record->child(kDateTimeKey) : nullptr;
            if (dt) {
                m_connections.append(connect(dt, &SlProperty::valueChanged, this,
                                             &SlStatModelTranslator::modelPropertyChildsChanged));
            }
        }
    }
    translate();
}

void SlStatModelTranslator::setModel(QVariantList &model)
{
    m_model = model;
    emit modelChanged(m_model);
}

void SlStatModelTranslator::setMethod(int method)
{
    m_method = method;
}

void SlStatModelTranslator::modelPropertyChildsChanged()
{
    translate();
}

void SlStatModelTranslator::translate()
{
    if (!m_modelProperty)
        return;

    // Each record's date-time is read once; entries that are not records, or hold no valid
    // date-time, sort after every dated record so the ordering stays a strict weak one.
    const QVariantList children = m_modelProperty->childrens();
    QVector<Record> records;
    records.reserve(children.size());
    for (const QVariant &c : children) {
        Record rec{QVariant(), QDateTime(), std::numeric_limits<qint64>::min()};
        if (SlProperty *node = c.value<SlProperty *>()) {
            rec.map = node->value();
            if (SlProperty *dt = node->child(kDateTimeKey))
                rec.dateTime = dt->value().toDateTime();
            if (rec.dateTime.isValid())
                rec.sortKey = rec.dateTime.toMSecsSinceEpoch();
        }
        records.append(rec);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const Record &a, const Record &b) { return a.sortKey > b.sortKey; });

    QVariantList output;
    if (m_method == COLLECT_SAME_DATES) {
        // One row per day, stamped with the day's earliest record; the first record without a
        // usable date-time ends the model.
        const QString listKey = QStringLiteral("list");
        QVariantList group;
        QDateTime earliest;
        for (const Record &rec : qAsConst(records)) {
            const QDate current = group.isEmpty() ? rec.dateTime.date() : earliest.date();
            qDebug() << "translate: day" << current << "record" << rec.dateTime.date();
            if (!isUsable(rec.dateTime))
                break;
            if (!group.isEmpty() && rec.dateTime.date() != earliest.date()) {
                output.append(QVariantMap{{kDateTimeKey, earliest}, {listKey, group}});
                group.clear();
            }
            group.append(rec.map);
            earliest = rec.dateTime;
        }
        if (!group.isEmpty())
            output.append(QVariantMap{{kDateTimeKey, earliest}, {listKey, group}});
    } else if (m_method == PASS_TROUGHT) {
        for (const Record &rec : qAsConst(records)) {
            if (isUsable(rec.dateTime))
                output.append(rec.map);
        }
    }
    setModel(output);
}
