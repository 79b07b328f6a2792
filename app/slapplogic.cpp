#include "slapplogic.h"

#include "app/appinfo.h"
#include "app/taskbarutility.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>

SlAppLogic::SlAppLogic(QObject *parent)
    : QObject(parent)
{}

SlAppLogic::~SlAppLogic()
{
    qDebug() << "~SlAppLogic" << this;
}

bool SlAppLogic::hidden() const
{
    return QCoreApplication::arguments().contains(QStringLiteral("--hidden"), Qt::CaseSensitive);
}

bool SlAppLogic::autorun() const
{
    return TaskBarUtility::isAutorun();
}

void SlAppLogic::setAutorun(bool autorun)
{
    if (autorun == TaskBarUtility::isAutorun())
        return;
    TaskBarUtility::setAutorun(autorun);
    emit autorunChanged(autorun);
}

QString SlAppLogic::language() const
{
    return languageOf(QLocale::system().name());
}

QString SlAppLogic::languageOf(const QString &localeName)
{
    return localeName.section(QLatin1Char('_'), 0, 0);
}

bool SlAppLogic::devver()
{
    return false;
}

void SlAppLogic::testfunction(QVariant value)
{
    qDebug() << value;
}

QString SlAppLogic::currentAppVer()
{
    return AppInfo::currentVersionText();
}

void SlAppLogic::setIsUpdated(bool isUpdated)
{
    if (m_isUpdated == isUpdated)
        return;
    m_isUpdated = isUpdated;
    emit isUpdatedChanged(m_isUpdated);
}

QString SlAppLogic::host_key()
{
    return AppInfo::hostKeyHex();
}
