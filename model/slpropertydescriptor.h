#ifndef SLPROPERTYDESCRIPTOR_H
#define SLPROPERTYDESCRIPTOR_H

#include <QList>
#include <QString>
#include <QtGlobal>

// Type codes of a field in the gadget's parameter memory.
enum SlPropertyType : qint32 {
    PROPERTY_INVALID = 0,
    PROPERTY_INT8 = 1,
    PROPERTY_UINT8 = 2,
    PROPERTY_INT16 = 3,
    PROPERTY_UINT16 = 4,
    PROPERTY_INT32 = 5,
    PROPERTY_UINT32 = 6,
    PROPERTY_BOOL = 7,
    PROPERTY_LATIN1_STRING = 8,
    PROPERTY_UTF8_STRING = 9,
    PROPERTY_DATE = 10,
    PROPERTY_TIME = 11,
    PROPERTY_DATETIME = 12,
    PROPERTY_LIST = 13
};

// Access flags of a field; the other bits carry no meaning.
enum SlPropertyFlag : quint32 {
    PROPERTY_FLAG_READABLE = 0x01,
    PROPERTY_FLAG_WRITABLE = 0x02,
    PROPERTY_FLAG_IMMEDIATE = 0x10,
    PROPERTY_FLAG_VARIABLE_LENGTH = 0x20
};

// Offset value that places a field directly after its previous sibling.
constexpr quint32 PROPERTY_OFFSET_AUTO = 0xFFFFFFFFu;

// Description of one field (or list of fields) before a tree node exists for it.
struct SlPropertyDescriptor
{
    SlPropertyDescriptor() = default;
    // The size of fixed-width types follows from the type code; the given size is ignored.
    SlPropertyDescriptor(const QString &name, qint32 type, quint32 offset, quint32 size,
                         quint32 flags);

    // Encoded size of a fixed-width type code, or -1 when the code has no fixed width.
    static int fixedSize(qint32 type);

    QString name;
    qint32 type = PROPERTY_INVALID;
    quint32 offset = 0;
    quint32 size = 0;
    quint32 flags = 0;
    QList<SlPropertyDescriptor> children;
};

#endif // SLPROPERTYDESCRIPTOR_H
