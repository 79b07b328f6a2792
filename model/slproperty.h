#ifndef SLPROPERTY_H
#define SLPROPERTY_H

#include "slpropertydescriptor.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>
#include <QVariant>
#include <QVector>

struct SlPropertyStreams;

// One node of the typed view over the gadget's parameter memory: a list of child nodes, or a
// leaf that decodes its bytes from the shared read device and writes them to the shared link.
class SlProperty : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(int type READ type NOTIFY typeChanged)
    Q_PROPERTY(QVariant value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(QVariantList childrens READ childrens NOTIFY childrensChanged)

public:
    explicit SlProperty(QObject *parent = nullptr);
    SlProperty(SlPropertyStreams *streams, const SlPropertyDescriptor &descriptor,
               QObject *parent = nullptr);
    ~SlProperty() override;

    void addChildren(const QList<SlPropertyDescriptor> &descriptors);

    QVariant value();
    QString name() const { return m_name; }
    int type() const { return m_type; }
    quint32 offset() const { return m_offset; }
    quint32 size() const { return m_size; }
    quint32 flags() const { return m_flags; }
    qint64 nextOffset() const { return m_nextOffset; }
    QByteArray rawData() const { return m_rawData; }
    SlPropertyStreams *streams() const { return m_streams; }
    QList<SlPropertyDescriptor> childDescriptors() const { return m_childDescriptors; }
    QVariantMap childrenByName() const { return m_childrenByName; }
    QVariantList childrens() const { return m_childrens; }
    // Direct child of that name, or null.
    SlProperty *child(const QString &name) const;

    static QVariantMap toVariantMap(SlProperty *root);
    // Where saveToFile writes a file URL: a relative name lands in the user's data folder.
    static QString localPath(const QUrl &url);
    static bool saveToFile(const QUrl &url, SlProperty *root);
    static QVariant valueFromString(int type, const QString &text);

    // Field codec, little-endian; decode treats missing trailing bytes as zeros.
    static QVariant decode(qint32 type, const QByteArray &bytes);
    static bool encode(qint32 type, const QVariant &v, QByteArray *out);

signals:
    void valueChanged(const QVariant &value);
    void nameChanged(const QString &name);
    void typeChanged(int type);
    void sizeChanged(int size);
    void childrensChanged(const QVariantList &childrens);
    void valueReceived();

public slots:
    void setValue(const QVariant &v);
    void dataUpdated(qint64 offset, qint64 size);
    void dataUpdated();

private:
    QVariant readField();
    static void toVariantMapStep(SlProperty *node, int depth, QVariantMap &out);

    QVariant m_value;
    QByteArray m_rawData;
    // rawData mirrors bytes we actually read or wrote, so equal bytes really mean "already there".
    bool m_rawKnown = false;
    SlPropertyStreams *m_streams = nullptr;
    QString m_name;
    qint32 m_type = PROPERTY_INVALID;
    quint32 m_offset = 0;
    quint32 m_size = 0;
    quint32 m_flags = PROPERTY_FLAG_READABLE | PROPERTY_FLAG_WRITABLE;
    QList<SlPropertyDescriptor> m_childDescriptors;
    qint64 m_nextOffset = 0;
    QVariantMap m_childrenByName;
    QVariantList m_childrens;
    // Same nodes as m_childrens, kept typed so updates walk the children without variant casts.
    QVector<SlProperty *> m_childNodes;
};

#endif // SLPROPERTY_H
