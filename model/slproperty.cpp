#include "slproperty.h"

#include "slpropertystreams.h"

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

void registerMetaType()
{
    static const int id = qRegisterMetaType<SlProperty *>("SlProperty*");
    Q_UNUSED(id)
}

// Copies at most n bytes of bytes into buf and zero-fills the rest, so short input never reads
// past its end.
void copyPadded(const QByteArray &bytes, uchar *buf, int n)
{
    const int have = qMin(bytes.size(), n);
    std::memcpy(buf, bytes.constData(), size_t(have));
    std::memset(buf + have, 0, size_t(n - have));
}

QString textUntilZero(const QByteArray &bytes, bool utf8)
{
    const int end = bytes.indexOf('\0');
    const int n = end < 0 ? bytes.size() : end;
    return utf8 ? QString::fromUtf8(bytes.constData(), n)
                : QString::fromLatin1(bytes.constData(), n);
}

template <typename T> bool encodeInteger(const QVariant &v, QByteArray *out)
{
    T x = 0;
    const int target = qMetaTypeId<T>();
    if (v.userType() == target) {
        x = v.value<T>();
    } else {
        QVariant c = v;
        if (c.convert(target))
            x = c.value<T>();
    }
    out->resize(int(sizeof(T)));
    qToLittleEndian<T>(x, out->data());
    return true;
}

void putDate(uchar *p, const QDate &d)
{
    qToLittleEndian<qint16>(qint16(d.year()), p);
    p[2] = uchar(d.month());
    p[3] = uchar(d.day());
}

void putTime(uchar *p, const QTime &t)
{
    p[0] = uchar(t.hour());
    p[1] = uchar(t.minute());
    p[2] = uchar(t.second());
    qToLittleEndian<qint16>(qint16(t.msec()), p + 3);
}

QDate getDate(const uchar *p)
{
    return QDate(qFromLittleEndian<qint16>(p), p[2], p[3]);
}

QTime getTime(const uchar *p)
{
    return QTime(p[0], p[1], p[2], qFromLittleEndian<qint16>(p + 3));
}

// Pre-order record of one node in the property file.
void writeStructure(QDataStream &out, SlProperty *node)
{
    const QVariantList children = node->childrens();
    const bool isList = node->type() == PROPERTY_LIST;
    out << node->name() << qint32(node->type()) << qint32(node->flags())
        << qint32(isList ? children.size() : int(node->size())) << qint32(node->offset());
    if (!isList)
        return;
    for (const QVariant &c : children) {
        if (SlProperty *child = c.value<SlProperty *>())
            writeStructure(out, child);
    }
}

} // namespace

SlProperty::SlProperty(QObject *parent)
    : QObject(parent)
{
    registerMetaType();
}

SlProperty::SlProperty(SlPropertyStreams *streams, const SlPropertyDescriptor &descriptor,
                       QObject *parent)
    : QObject(parent)
    , m_streams(streams)
    , m_name(descriptor.name)
    , m_type(descriptor.type)
    , m_offset(descriptor.offset)
    , m_size(descriptor.size)
    , m_flags(descriptor.flags)
    , m_childDescriptors(descriptor.children)
    , m_nextOffset(0)
{
    registerMetaType();
}

SlProperty::~SlProperty()
{
    qDeleteAll(m_childNodes);
}

SlProperty *SlProperty::child(const QString &name) const
{
    return m_childrenByName.value(name).value<SlProperty *>();
}

void SlProperty::addChildren(const QList<SlPropertyDescriptor> &descriptors)
{
    if (m_type != PROPERTY_LIST) {
        qDebug() << "can`t add child to non PROPERTY_LIST property";
        return;
    }
    for (SlPropertyDescriptor d : descriptors) {
        if (d.offset == PROPERTY_OFFSET_AUTO)
            d.offset = quint32(m_nextOffset);
        else
            m_nextOffset = d.offset;
        auto *node = new SlProperty(m_streams, d);
        // Children have no QObject parent; the tree, not the QML garbage collector, owns them.
        QQmlEngine::setObjectOwnership(node, QQmlEngine::CppOwnership);
        SlProperty *replaced = child(d.name);
        m_childrenByName.insert(d.name, QVariant::fromValue(node));
        if (replaced) {
            m_childNodes.removeOne(replaced);
            delete replaced;
        }
        m_childNodes.append(node);
        if (!d.children.isEmpty())
            node->addChildren(d.children);
        else
            m_nextOffset += d.size;
    }
    m_value = m_childrenByName;
    m_size = quint32(m_childrenByName.size());

    std::stable_sort(
        m_childNodes.begin(), m_childNodes.end(),
        [](const SlProperty *a, const SlProperty *b) { return a->m_offset < b->m_offset; });
    m_childrens.clear();
    m_childrens.reserve(m_childNodes.size());
    for (SlProperty *node : qAsConst(m_childNodes))
        m_childrens.append(QVariant::fromValue(node));
    emit childrensChanged(m_childrens);
    emit valueChanged(m_value);
}

QVariant SlProperty::value()
{
    if (!(m_flags & PROPERTY_FLAG_READABLE))
        return QVariant();
    if (m_value.isValid() && !m_value.isNull())
        return m_value;
    m_value = readField();
    return m_value;
}

QVariant SlProperty::readField()
{
    QIODevice *device = m_streams ? m_streams->readDevice : nullptr;
    if (!device || !device->isReadable()) {
        qDebug() << "can`t read value: stream is invalid";
        return QVariant(0);
    }
    if (m_type == PROPERTY_LIST)
        return m_childrenByName;

    QByteArray bytes;
    // Seeking past the end of a writable buffer would grow the memory image; bytes beyond its
    // end read as zeros anyway, so the image is left alone.
    if (device->isSequential() || qint64(m_offset) < device->size()) {
        if (!device->seek(m_offset))
            return QVariant(0);
        bytes = device->read(m_size);
    }
    const int have = bytes.size();
    if (have < int(m_size)) {
        bytes.resize(int(m_size));
        std::memset(bytes.data() + have, 0, size_t(int(m_size) - have));
    }
    m_rawData = bytes;
    m_rawKnown = true;
    return decode(m_type, bytes);
}

QVariant SlProperty::decode(qint32 type, const QByteArray &bytes)
{
    uchar buf[9];
    const int fixed = SlPropertyDescriptor::fixedSize(type);
    if (fixed > 0)
        copyPadded(bytes, buf, fixed);

    switch (type) {
    case PROPERTY_INVALID:
        qDebug() << "could not deserialize property value";
        return QVariant();
    case PROPERTY_INT8:
        return QVariant::fromValue<qint16>(qint16(qint8(buf[0])));
    case PROPERTY_UINT8:
        return QVariant::fromValue<quint16>(quint16(buf[0]));
    case PROPERTY_INT16:
        return QVariant::fromValue<qint16>(qFromLittleEndian<qint16>(buf));
    case PROPERTY_UINT16:
        return QVariant::fromValue<quint16>(qFromLittleEndian<quint16>(buf));
    case PROPERTY_INT32:
        return QVariant::fromValue<qint32>(qFromLittleEndian<qint32>(buf));
    case PROPERTY_UINT32:
        return QVariant::fromValue<quint32>(qFromLittleEndian<quint32>(buf));
    case PROPERTY_BOOL:
        return QVariant(buf[0] != 0);
    case PROPERTY_LATIN1_STRING:
        return textUntilZero(bytes, false);
    case PROPERTY_UTF8_STRING:
        return textUntilZero(bytes, true);
    case PROPERTY_DATE:
        return getDate(buf);
    case PROPERTY_TIME:
        return getTime(buf);
    case PROPERTY_DATETIME: {
        const QDateTime dt(getDate(buf), getTime(buf + 4), Qt::LocalTime);
        if (!dt.isValid())
            return QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0, 0), Qt::LocalTime);
        return dt;
    }
    default:
        return QVariant();
    }
}

bool SlProperty::encode(qint32 type, const QVariant &v, QByteArray *out)
{
    out->clear();
    switch (type) {
    case PROPERTY_INVALID:
        qDebug() << "could not serialize property value";
        return false;
    case PROPERTY_INT8:
        return encodeInteger<qint8>(v, out);
    case PROPERTY_UINT8:
        return encodeInteger<quint8>(v, out);
    case PROPERTY_INT16:
        return encodeInteger<qint16>(v, out);
    case PROPERTY_UINT16:
        return encodeInteger<quint16>(v, out);
    case PROPERTY_INT32:
        return encodeInteger<qint32>(v, out);
    case PROPERTY_UINT32:
        return encodeInteger<quint32>(v, out);
    case PROPERTY_BOOL:
        out->append(char(v.toBool() ? 1 : 0));
        return true;
    case PROPERTY_LATIN1_STRING:
        *out = v.toString().toLatin1();
        return true;
    case PROPERTY_UTF8_STRING:
        *out = v.toString().toUtf8();
        return true;
    case PROPERTY_DATE: {
        QDate d;
        if (v.userType() == QMetaType::QDate)
            d = v.toDate();
        else if (v.userType() == QMetaType::QDateTime)
            d = v.toDateTime().date();
        else
            return false;
        out->resize(4);
        putDate(reinterpret_cast<uchar *>(out->data()), d);
        return true;
    }
    case PROPERTY_TIME: {
        QTime t;
        if (v.userType() == QMetaType::QTime)
            t = v.toTime();
        else if (v.userType() == QMetaType::QDateTime)
            t = v.toDateTime().time();
        else
            return false;
        out->resize(5);
        putTime(reinterpret_cast<uchar *>(out->data()), t);
        return true;
    }
    case PROPERTY_DATETIME: {
        if (v.userType() != QMetaType::QDateTime)
            return false;
        const QDateTime dt = v.toDateTime();
        out->resize(9);
        auto *p = reinterpret_cast<uchar *>(out->data());
        putDate(p, dt.date());
        putTime(p + 4, dt.time());
        return true;
    }
    default:
        return false;
    }
}

void SlProperty::setValue(const QVariant &v)
{
    if (!(m_flags & PROPERTY_FLAG_WRITABLE))
        return;
    QIODevice *device = m_streams ? m_streams->writeDevice : nullptr;
    if (!device) {
        qDebug() << "can`t set value: write stream is invalid";
        return;
    }
    if (m_type == PROPERTY_LIST) {
        qDebug() << "PROPERTY LIST do not support set value";
        return;
    }
    QByteArray bytes;
    if (!encode(m_type, v, &bytes))
        return;

    const int size = int(m_size);
    if (m_rawData.size() != size) {
        const int have = m_rawData.size();
        m_rawData.resize(size);
        if (have < size)
            std::memset(m_rawData.data() + have, 0, size_t(size - have));
    }
    bool cut = false;
    if (bytes.size() > size) {
        bytes.truncate(size);
        cut = true;
    } else if (!(m_flags & PROPERTY_FLAG_VARIABLE_LENGTH) && bytes.size() < size) {
        const int have = bytes.size();
        bytes.resize(size);
        std::memset(bytes.data() + have, 0, size_t(size - have));
    }

    if ((m_flags & PROPERTY_FLAG_READABLE) && !(m_flags & PROPERTY_FLAG_VARIABLE_LENGTH) &&
        m_rawKnown && bytes == m_rawData) {
        if (cut)
            emit valueChanged(m_value);
        return;
    }

    if (!device->seek(m_offset)) {
        qDebug().noquote() << QStringLiteral("fail to seek stream device to ") +
                                  QString::number(m_offset);
        return;
    }
    if (m_flags & PROPERTY_FLAG_IMMEDIATE) {
        m_value = v;
        emit valueChanged(m_value);
        // A receiver of the signal may have written through the shared link meanwhile.
        device->seek(m_offset);
    }
    const qint64 written = device->write(bytes);
    // Only bytes the watch was sent are believed held there; a refused write is tried again
    // with the same value.
    if (written != bytes.size()) {
        qDebug() << "can`t set value: write failed for" << m_name;
        return;
    }
    m_rawData = bytes;
    m_rawKnown = true;
}

void SlProperty::dataUpdated(qint64 offset, qint64 size)
{
    if (m_type == PROPERTY_LIST) {
        // By index on the live list: a receiver of a child's signal may append
        // to or replace children of this node (the gadget extends its tree on
        // the device key), which would invalidate iterators or a copy.
        for (int i = 0; i < m_childNodes.size(); ++i)
            m_childNodes.at(i)->dataUpdated(offset, size);
        return;
    }
    // The gadget's addresses are 32-bit: compare as the watch would.
    const qint32 first = qint32(offset);
    const qint32 last = qint32(quint32(offset) + quint32(size) - 1u);
    const qint32 fieldFirst = qint32(m_offset);
    const qint32 fieldLast = qint32(m_offset + m_size - 1u);
    const bool firstIn = fieldFirst >= first && fieldFirst <= last;
    const bool lastIn = fieldLast >= first && fieldLast <= last;
    if (!firstIn && !lastIn)
        return;

    QVariant v = readField();
    if (m_flags & PROPERTY_FLAG_VARIABLE_LENGTH)
        v = m_rawData.left(int(qBound<qint64>(0, size, m_rawData.size())));
    m_value = v;
    emit valueChanged(m_value);
    emit valueReceived();
}

void SlProperty::dataUpdated()
{
    if (m_type == PROPERTY_LIST) {
        for (int i = 0; i < m_childNodes.size(); ++i)
            m_childNodes.at(i)->dataUpdated();
        return;
    }
    const QVariant v = readField();
    if (v == m_value)
        return;
    m_value = v;
    emit valueChanged(m_value);
}

QVariant SlProperty::valueFromString(int type, const QString &text)
{
    bool ok = false;
    switch (type) {
    case PROPERTY_INT8:
    case PROPERTY_UINT8:
    case PROPERTY_INT16:
    case PROPERTY_UINT16:
    case PROPERTY_INT32:
    case PROPERTY_UINT32: {
        const int n = text.toInt(&ok, 10);
        if (!ok)
            return QVariant();
        if (type == PROPERTY_UINT32)
            return QVariant(uint(n));
        static const int lo[] = {-128, 0, -32768, 0, INT_MIN};
        static const int hi[] = {127, 255, 32767, 65535, INT_MAX};
        const int i = type - PROPERTY_INT8;
        if (n < lo[i] || n > hi[i])
            return QVariant();
        return QVariant(n);
    }
    case PROPERTY_BOOL:
        if (text == QLatin1String("false") || text == QLatin1String("0"))
            return QVariant(false);
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            return QVariant(true);
        return QVariant();
    case PROPERTY_LATIN1_STRING:
    case PROPERTY_UTF8_STRING:
        return QVariant(text);
    case PROPERTY_DATE:
    case PROPERTY_TIME:
    case PROPERTY_DATETIME: {
        QDateTime dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
        if (!dt.isValid())
            return QVariant();
        dt.setTimeSpec(Qt::LocalTime);
        if (type == PROPERTY_DATE)
            return dt.date();
        if (type == PROPERTY_TIME)
            return dt.time();
        return dt;
    }
    default:
        return QVariant();
    }
}

void SlProperty::toVariantMapStep(SlProperty *node, int depth, QVariantMap &out)
{
    if (node->m_type != PROPERTY_LIST) {
        QVariant v = node->value();
        if (v.isValid() && (node->m_type == PROPERTY_UINT8 || node->m_type == PROPERTY_UINT16))
            v = QVariant(v.toInt());
        out.insert(node->m_name, v);
        return;
    }
    const bool hasListChild =
        std::any_of(node->m_childNodes.cbegin(), node->m_childNodes.cend(),
                    [](const SlProperty *c) { return c->m_type == PROPERTY_LIST; });
    if (!hasListChild) {
        for (SlProperty *c : qAsConst(node->m_childNodes))
            toVariantMapStep(c, depth + 1, out);
    } else if (depth == 0) {
        QVariantMap map;
        for (SlProperty *c : qAsConst(node->m_childNodes))
            toVariantMapStep(c, 1, map);
        out.insert(node->m_name, map);
    } else {
        QVariantList list;
        list.reserve(node->m_childNodes.size());
        for (SlProperty *c : qAsConst(node->m_childNodes)) {
            QVariantMap map;
            toVariantMapStep(c, depth + 1, map);
            list.append(map);
        }
        out.insert(node->m_name, list);
    }
}

QVariantMap SlProperty::toVariantMap(SlProperty *root)
{
    QVariantMap out;
    if (root)
        toVariantMapStep(root, 0, out);
    return out;
}

QString SlProperty::localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    const QString name = url.toLocalFile();
    if (QDir::isAbsolutePath(name))
        return name;
    // The working directory is the program's folder, which is not the user's to write.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(folder);
    return QDir(folder).absoluteFilePath(name);
}

bool SlProperty::saveToFile(const QUrl &url, SlProperty *root)
{
    QByteArray buffer;
    {
        QDataStream out(&buffer, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_5_15);
        out.setByteOrder(QDataStream::BigEndian);
        if (root)
            writeStructure(out, root);
    }
    QFile file(localPath(url));
    if (!url.isLocalFile() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "can`t save properties to file";
        return false;
    }
    const bool written = file.write(buffer) == buffer.size() && file.flush();
    file.close();
    if (!written) {
        qDebug() << "can`t save properties to file";
        return false;
    }
    qDebug().noquote() << "saveToFile: wrote" << file.fileName();
    return true;
}
