#ifndef SIMMEMORY_H
#define SIMMEMORY_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// The watch's 176-byte parameter memory: the identity block at 0..84 and the
// TR-31 settings at 85..175, every field little-endian.
class SimMemory
{
public:
    enum Kind { UInt8, Int16, UInt16, UInt32, Bool, Text, DateTime, Command };

    struct Field
    {
        const char *name;
        Kind kind;
        int size;
        int offset;
    };

    static constexpr int ImageSize = 176;
    static constexpr int CatalogueOffset = 85;
    static constexpr int DeviceCommandOffset = 84;
    static constexpr int DateTimeOffset = 85;
    static constexpr int TimeOffsetOffset = 94;
    static constexpr int SyncFlagOffset = 96;
    static constexpr int SyncTimeOffset = 97;
    static constexpr int TimeCmdOffset = 106;
    static constexpr int DateTimeSize = 9;

    SimMemory();

    static const QVector<Field> &fields();
    static const Field *field(const QString &name);
    static const Field *fieldAt(int offset);

    QByteArray bytes() const { return image; }
    QByteArray mid(int offset, int size) const { return image.mid(offset, size); }
    void replace(int offset, const QByteArray &data);

    quint32 value(const char *name) const;
    void setValue(const char *name, quint32 value);
    QDateTime dateTime(int offset) const;
    void setDateTime(int offset, const QDateTime &dt);
    void setText(const char *name, const QByteArray &text);

    static QByteArray encodeDateTime(const QDateTime &dt);
    static QDateTime decodeDateTime(const QByteArray &bytes);
    static QString formatValue(const Field &field, const QByteArray &raw);
    static QString formatDateTime(const QDateTime &dt);

private:
    QByteArray image;
};

#endif // SIMMEMORY_H
