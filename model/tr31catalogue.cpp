#include "tr31catalogue.h"

#include "slproperty.h"
#include "slpropertydescriptor.h"

namespace {

struct CatalogueEntry
{
    const char *name;
    qint32 type;
    quint32 flags;
};

// Order fixes the watch's memory map: each entry follows the previous one from address 85.
const CatalogueEntry kCatalogue[] = {
    {"dateTime", PROPERTY_DATETIME, 3},
    {"timeOffset", PROPERTY_INT16, 3},
    {"syncFlag", PROPERTY_BOOL, 3},
    {"syncTime", PROPERTY_DATETIME, 3},
    {"timeCmd", PROPERTY_UINT8, 2},
    {"timeFormat", PROPERTY_UINT8, 3},
    {"batteryLevel", PROPERTY_UINT8, 3},
    {"batteryVoltage", PROPERTY_UINT16, 3},
    {"predictedWTIndic", PROPERTY_UINT8, 3},
    {"predictedWTStby", PROPERTY_UINT32, 3},
    {"lastChargeDaysAgo", PROPERTY_UINT16, 3},
    {"lastChargeLevel", PROPERTY_UINT8, 3},
    {"indicCurrent", PROPERTY_UINT16, 3},
    {"batteryChargeCycles", PROPERTY_UINT16, 3},
    {"indicSwitchCount", PROPERTY_UINT32, 3},
    {"indicWorkTime", PROPERTY_UINT32, 3},
    {"button1ClickCount", PROPERTY_UINT32, 3},
    {"button2ClickCount", PROPERTY_UINT32, 3},
    {"eventButtonPress1", PROPERTY_UINT8, 3},
    {"eventButtonPress2", PROPERTY_UINT8, 3},
    {"eventButtonPress3", PROPERTY_UINT8, 3},
    {"automaticSwitchMode", PROPERTY_UINT8, 3},
    {"accelMode", PROPERTY_UINT8, 3},
    {"personalization", PROPERTY_UINT8, 3},
    {"indicBrightness", PROPERTY_UINT8, 19},
    {"indicBackType", PROPERTY_UINT8, 19},
    {"indicBack_hh", PROPERTY_UINT8, 19},
    {"indicBack_mminute", PROPERTY_UINT8, 19},
    {"indicBack_ss", PROPERTY_UINT8, 19},
    {"indicBack_dd", PROPERTY_UINT8, 19},
    {"indicBack_mmonth", PROPERTY_UINT8, 19},
    {"indicBack_yy", PROPERTY_UINT8, 19},
    {"indicBackBatChg", PROPERTY_UINT8, 19},
    {"indicTimeOrder", PROPERTY_UINT8, 3},
    {"indicDateOrder", PROPERTY_UINT8, 3},
    {"indicDuration_hhms", PROPERTY_UINT16, 3},
    {"indicDuration_mminute_ms", PROPERTY_UINT16, 3},
    {"indicDuration_ss_ms", PROPERTY_UINT16, 3},
    {"indicDuration_dd_ms", PROPERTY_UINT16, 3},
    {"indicDuration_mmonth_ms", PROPERTY_UINT16, 3},
    {"indicDuration_yy_ms", PROPERTY_UINT16, 3},
    {"indicDurationChargems", PROPERTY_UINT16, 3},
    {"indicEffect", PROPERTY_UINT8, 3},
    {"accelerometerSensitivity", PROPERTY_UINT8, 3},
    {"startOfUseDaysAgo", PROPERTY_UINT32, 3},
};

// Commands and identity: the service learns those elsewhere.
const char *const kExcludedFromParams[] = {
    "clearHistory",  "deviceCommand", "diskOffCmd", "timeCmd",
    "productSerial", "productId",     "deviceKey",  "serverKey",
};

const char *const kStatisticsCounters[] = {
    "indicSwitchCount",
    "indicWorkTime",
    "batteryChargeCycles",
};

} // namespace

void appendCatalogue(SlProperty *root)
{
    if (!root)
        return;
    QList<SlPropertyDescriptor> descriptors;
    descriptors.reserve(int(sizeof(kCatalogue) / sizeof(kCatalogue[0])));
    for (const CatalogueEntry &e : kCatalogue) {
        descriptors.append(SlPropertyDescriptor(QString::fromLatin1(e.name), e.type,
                                                PROPERTY_OFFSET_AUTO, 0, e.flags));
    }
    root->addChildren(descriptors);
}

QVariantMap makeParamsModel(SlProperty *root)
{
    QVariantMap model = SlProperty::toVariantMap(root);
    for (const char *name : kExcludedFromParams)
        model.remove(QString::fromLatin1(name));
    return model;
}

QVariantMap makeStatisticsModel(SlProperty *root)
{
    const QVariantMap values = SlProperty::toVariantMap(root);
    const QVariant stamp = values.value(QStringLiteral("dateTime"));
    QVariantMap model;
    for (const char *counter : kStatisticsCounters) {
        const QString key = QString::fromLatin1(counter);
        QVariantMap entry;
        entry.insert(QStringLiteral("datetime"), stamp);
        entry.insert(QStringLiteral("value"), values.value(key));
        model.insert(key, QVariantList{entry});
    }
    return model;
}
