#pragma once

#include <QObject>

// The interface's handle on the per-user start at log-on, and its memory of
// whether the main window is hidden.
class TaskBarUtility : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool hide READ hide WRITE setHide NOTIFY hideChanged)
public:
    explicit TaskBarUtility(QObject *parent = nullptr);

    bool hide() const { return m_hide; }

    Q_INVOKABLE static bool isAutorun();
    Q_INVOKABLE static void setAutorun(bool on);

public slots:
    void setHide(bool value);

signals:
    void hideChanged(bool hide);

private:
    bool m_hide = false;
};
