#include "simmemory.h"

#include <QDate>
#include <QTime>
#include <QtEndian>

namespace {

// Offsets are computed once from the order and the sizes, the way the
// watch's firmware lays them out back to back.
QVector<SimMemory::Field> buildFields()
{
    using K = SimMemory::Kind;
    struct Entry
    {
        const char *name;
        K kind;
        int size;
    };
    static const Entry entries[] = {
        {"productId", K::UInt16, 2},
        {"firmwareVersion", K::UInt32, 4},
        {"productSerial", K::Text, 30},
        {"deviceKey", K::Text, 24},
        {"serverKey", K::Text, 24},
        {"deviceCommand", K::Command, 1},
        {"dateTime", K::DateTime, 9},
        {"timeOffset", K::Int16, 2},
        {"syncFlag", K::Bool, 1},
        {"syncTime", K::DateTime, 9},
        {"timeCmd", K::Command, 1},
        {"timeFormat", K::UInt8, 1},
        {"batteryLevel", K::UInt8, 1},
        {"batteryVoltage", K::UInt16, 2},
        {"predictedWTIndic", K::UInt8, 1},
        {"predictedWTStby", K::UInt32, 4},
        {"lastChargeDaysAgo", K::UInt16, 2},
        {"lastChargeLevel", K::UInt8, 1},
        {"indicCurrent", K::UInt16, 2},
        {"batteryChargeCycles", K::UInt16, 2},
        {"indicSwitchCount", K::UInt32, 4},
        {"indicWorkTime", K::UInt32, 4},
        {"button1ClickCount", K::UInt32, 4},
        {"button2ClickCount", K::UInt32, 4},
        {"eventButtonPress1", K::UInt8, 1},
        {"eventButtonPress2", K::UInt8, 1},
        {"eventButtonPress3", K::UInt8, 1},
        {"automaticSwitchMode", K::UInt8, 1},
        {"accelMode", K::UInt8, 1},
        {"personalization", K::UInt8, 1},
        {"indicBrightness", K::UInt8, 1},
        {"indicBackType", K::UInt8, 1},
        {"indicBack_hh", K::UInt8, 1},
        {"indicBack_mminute", K::UInt8, 1},
        {"indicBack_ss", K::UInt8, 1},
        {"indicBack_dd", K::UInt8, 1},
        {"indicBack_mmonth", K::UInt8, 1},
        {"indicBack_yy", K::UInt8, 1},
        {"indicBackBatChg", K::UInt8, 1},
        {"indicTimeOrder", K::UInt8, 1},
        {"indicDateOrder", K::UInt8, 1},
        {"indicDuration_hhms", K::UInt16, 2},
        {"indicDuration_mminute_ms", K::UInt16, 2},
        {"indicDuration_ss_ms", K::UInt16, 2},
        {"indicDuration_dd_ms", K::UInt16, 2},
        {"indicDuration_mmonth_ms", K::UInt16, 2},
        {"indicDuration_yy_ms", K::UInt16, 2},
        {"indicDurationChargems", K::UInt16, 2},
        {"indicEffect", K::UInt8, 1},
        {"accelerometerSensitivity", K::UInt8, 1},
        {"startOfUseDaysAgo", K::UInt32, 4},
    };
    QVector<SimMemory::Field> out;
    int offset = 0;
    for (const Entry &e : entries) {
        out.append({e.name, e.kind, e.size, offset});
        offset += e.size;
    }
    return out;
}

} // namespace

SimMemory::SimMemory()
    : image(ImageSize, '\0')
{}

const QVector<SimMemory::Field> &SimMemory::fields()
{
    static const QVector<Field> table = buildFields();
    return table;
}

const SimMemory::Field *SimMemory::field(const QString &name)
{
    for (const Field &f : fields()) {
        if (name == QLatin1String(f.name))
            return &f;
    }
    return nullptr;
}

const SimMemory::Field *SimMemory::fieldAt(int offset)
{
    for (const Field &f : fields()) {
        if (f.offset == offset)
            return &f;
    }
    return nullptr;
}

void SimMemory::replace(int offset, const QByteArray &data)
{
    if (offset < 0 || offset + data.size() > image.size())
        return;
    image.replace(offset, data.size(), data);
}

quint32 SimMemory::value(const char *name) const
{
    const Field *f = field(QLatin1String(name));
    if (!f)
        return 0;
    const uchar *p = reinterpret_cast<const uchar *>(image.constData()) + f->offset;
    switch (f->size) {
    case 1:
        return p[0];
    case 2:
        return qFromLittleEndian<quint16>(p);
    case 4:
        return qFromLittleEndian<quint32>(p);
    default:
        return 0;
    }
}

void SimMemory::setValue(const char *name, quint32 value)
{
    const Field *f = field(QLatin1String(name));
    if (!f)
        return;
    uchar *p = reinterpret_cast<uchar *>(image.data()) + f->offset;
    switch (f->size) {
    case 1:
        p[0] = uchar(value);
        break;
    case 2:
        qToLittleEndian<quint16>(quint16(value), p);
        break;
    case 4:
        qToLittleEndian<quint32>(value, p);
        break;
    default:
        break;
    }
}

QDateTime SimMemory::dateTime(int offset) const
{
    return decodeDateTime(image.mid(offset, DateTimeSize));
}

void SimMemory::setDateTime(int offset, const QDateTime &dt)
{
    replace(offset, encodeDateTime(dt));
}

void SimMemory::setText(const char *name, const QByteArray &text)
{
    const Field *f = field(QLatin1String(name));
    if (!f)
        return;
    QByteArray padded = text.left(f->size);
    padded.append(QByteArray(f->size - padded.size(), '\0'));
    replace(f->offset, padded);
}

QByteArray SimMemory::encodeDateTime(const QDateTime &dt)
{
    QByteArray out(DateTimeSize, '\0');
    uchar *p = reinterpret_cast<uchar *>(out.data());
    const QDate d = dt.date();
    const QTime t = dt.time();
    qToLittleEndian<qint16>(qint16(d.year()), p);
    p[2] = uchar(d.month());
    p[3] = uchar(d.day());
    p[4] = uchar(t.hour());
    p[5] = uchar(t.minute());
    p[6] = uchar(t.second());
    qToLittleEndian<qint16>(qint16(t.msec()), p + 7);
    return out;
}

QDateTime SimMemory::decodeDateTime(const QByteArray &bytes)
{
    if (bytes.size() < DateTimeSize)
        return QDateTime();
    const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
    const QDate d(qFromLittleEndian<qint16>(p), p[2], p[3]);
    const QTime t(p[4], p[5], p[6], qFromLittleEndian<qint16>(p + 7));
    // The watch has no time zone: UTC is used as a plain calendar without
    // daylight-saving gaps.
    return QDateTime(d, t, Qt::UTC);
}

QString SimMemory::formatDateTime(const QDateTime &dt)
{
    return dt.isValid() ? dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
                        : QStringLiteral("invalid");
}

QString SimMemory::formatValue(const Field &field, const QByteArray &raw)
{
    if (raw.size() != field.size)
        return QString::fromLatin1(raw.toHex());
    const uchar *p = reinterpret_cast<const uchar *>(raw.constData());
    switch (field.kind) {
    case UInt8:
    case Command:
        return QString::number(p[0]);
    case Bool:
        return p[0] ? QStringLiteral("true") : QStringLiteral("false");
    case Int16:
        return QString::number(qFromLittleEndian<qint16>(p));
    case UInt16:
        return QString::number(qFromLittleEndian<quint16>(p));
    case UInt32:
        return QString::number(qFromLittleEndian<quint32>(p));
    case DateTime:
        return formatDateTime(decodeDateTime(raw));
    case Text:
        return QString::fromLatin1(raw.toHex());
    }
    return QString();
}
