#include "updatearchive.h"

#include <QStringList>
#include <QtEndian>

namespace {

constexpr quint32 kLocalSignature = 0x04034b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kEndSignature = 0x06054b50;
constexpr int kLocalSize = 30;
constexpr int kCentralSize = 46;
constexpr int kEndSize = 22;

quint16 u16(const QByteArray &data, qint64 at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 u32(const QByteArray &data, qint64 at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

// Names are unpacked on Windows too, where a backslash separates folders and a colon names a
// drive or a stream.
bool staysInside(const QString &name)
{
    if (name.isEmpty() || name.contains(QChar(0)) || name.contains(QLatin1Char(':')))
        return false;
    const QString path = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

bool refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

} // namespace

bool isSafeUpdateArchive(const QByteArray &data, QString *why)
{
    const qint64 size = data.size();
    // The end record closes the archive; its comment, if any, runs to the last byte, so an
    // archive cut short has no end record where one must be.
    qint64 end = -1;
    for (qint64 at = size - kEndSize; at >= 0 && at >= size - kEndSize - 0xffff; --at) {
        if (u32(data, at) == kEndSignature && at + kEndSize + u16(data, at + 20) == size) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return refuse(why, QStringLiteral("no end of a zip archive"));
    const int entries = u16(data, end + 10);
    const qint64 directorySize = u32(data, end + 12);
    const qint64 directory = u32(data, end + 16);
    if (u16(data, end + 4) != 0 || u16(data, end + 6) != 0 || u16(data, end + 8) != entries)
        return refuse(why, QStringLiteral("a multi-part archive"));
    if (entries == 0)
        return refuse(why, QStringLiteral("an empty archive"));
    if (directory + directorySize != end)
        return refuse(why, QStringLiteral("the central directory is not where the end says"));

    qint64 at = directory;
    for (int i = 0; i < entries; ++i) {
        if (at + kCentralSize > end || u32(data, at) != kCentralSignature)
            return refuse(why, QStringLiteral("entry %1: damaged central directory").arg(i));
        const int nameSize = u16(data, at + 28);
        const qint64 next = at + kCentralSize + nameSize + u16(data, at + 30) + u16(data, at + 32);
        if (next > end)
            return refuse(why, QStringLiteral("entry %1: runs past the directory").arg(i));
        const QByteArray rawName = data.mid(int(at + kCentralSize), nameSize);
        const QString name = QString::fromUtf8(rawName);
        if (!staysInside(name))
            return refuse(
                why, QStringLiteral("entry %1: unpacks outside its folder: %2").arg(i).arg(name));
        const qint64 packed = u32(data, at + 20);
        const qint64 local = u32(data, at + 42);
        if (local + kLocalSize > directory || u32(data, local) != kLocalSignature ||
            data.mid(int(local + kLocalSize), u16(data, local + 26)) != rawName)
            return refuse(why, QStringLiteral("entry %1: no matching local header").arg(i));
        const qint64 begin = local + kLocalSize + u16(data, local + 26) + u16(data, local + 28);
        if (begin + packed > directory)
            return refuse(why, QStringLiteral("entry %1: its data runs past the archive").arg(i));
        at = next;
    }
    if (at != end)
        return refuse(why, QStringLiteral("the directory holds more than its entries"));
    return true;
}
