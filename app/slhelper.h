#pragma once

#include <QDateTime>
#include <QObject>
#include <QVariant>

// Small stateless formatting helpers for the screens.
class SlHelper : public QObject
{
    Q_OBJECT
public:
    explicit SlHelper(QObject *parent = nullptr);

    Q_INVOKABLE QVariant digitSplitThousand(QVariant value);
    Q_INVOKABLE QVariant fontSizeScale(QVariant value);
    Q_INVOKABLE bool isDateValid(QDateTime datetime);
};
