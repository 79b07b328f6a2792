#include "taskbarutility.h"

#include "platform/platform.h"

#include <QDebug>

TaskBarUtility::TaskBarUtility(QObject *parent)
    : QObject(parent)
{}

bool TaskBarUtility::isAutorun()
{
    return Platform::isAutorun();
}

void TaskBarUtility::setAutorun(bool on)
{
    if (!Platform::setAutorun(on))
        qDebug().noquote() << "setAutorun: cannot update" << Platform::autostartLocation();
}

void TaskBarUtility::setHide(bool value)
{
    if (m_hide == value)
        return;
    m_hide = value;
    emit hideChanged(m_hide);
}
