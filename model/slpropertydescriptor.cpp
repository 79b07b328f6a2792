#include "slpropertydescriptor.h"

#include <QDebug>

SlPropertyDescriptor::SlPropertyDescriptor(const QString &name, qint32 type, quint32 offset,
                                           quint32 size, quint32 flags)
    : name(name)
    , type(type)
    , offset(offset)
    , size(size)
    , flags(flags)
{
    const int fixed = fixedSize(type);
    if (fixed >= 0) {
        this->size = quint32(fixed);
    } else if (type != PROPERTY_LATIN1_STRING && type != PROPERTY_UTF8_STRING &&
               type != PROPERTY_LIST) {
        qDebug() << "invalid size for current type property";
    }
}

int SlPropertyDescriptor::fixedSize(qint32 type)
{
    switch (type) {
    case PROPERTY_INT8:
    case PROPERTY_UINT8:
    case PROPERTY_BOOL:
        return 1;
    case PROPERTY_INT16:
    case PROPERTY_UINT16:
        return 2;
    case PROPERTY_INT32:
    case PROPERTY_UINT32:
    case PROPERTY_DATE:
        return 4;
    case PROPERTY_TIME:
        return 5;
    case PROPERTY_DATETIME:
        return 9;
    default:
        return -1;
    }
}
