#ifndef SLSTATMODELTRANSLATOR_H
#define SLSTATMODELTRANSLATOR_H

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QVector>

class SlProperty;

// Turns a statistics list node (a list of record lists, each with a "datetime" leaf) into a flat
// list model for views, newest first, either one row per record or one row per calendar day.
class SlStatModelTranslator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SlProperty *modelProperty READ modelProperty WRITE setModelProperty NOTIFY
                   modelPropertyChanged)
    Q_PROPERTY(QVariantList model READ model NOTIFY modelChanged)
    Q_PROPERTY(int method READ method WRITE setMethod)

public:
    enum Method { COLLECT_SAME_DATES = 0, PASS_TROUGHT = 1 };
    Q_ENUM(Method)

    explicit SlStatModelTranslator(QObject *parent = nullptr);

    SlProperty *modelProperty() const { return m_modelProperty; }
    QVariantList model() const { return m_model; }
    int method() const { return m_method; }

signals:
    void modelPropertyChanged(SlProperty *modelProperty);
    void modelChanged(QVariantList &model);

public slots:
    void setModelProperty(SlProperty *model);
    void setModel(QVariantList &model);
    void setMethod(int method);

private slots:
    void modelPropertyChildsChanged();

private:
    void translate();

    // Guarded: the tree that owns the input may be torn down before the view lets go of it.
    QPointer<SlProperty> m_modelProperty;
    QVariantList m_model;
    int m_method = COLLECT_SAME_DATES;
    QVector<QMetaObject::Connection> m_connections;
};

#endif // SLSTATMODELTRANSLATOR_H
