#include "typeregistry.h"

#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/taskbarutility.h"

#include <QQmlEngine>
#include <QUrl>

void registerInterfaceTypes()
{
    qmlRegisterType<TaskBarUtility>("sl.watch.logic", 1, 0, "TaskBarUtility");
    qmlRegisterType<SlHelper>("sl.private.helper", 1, 0, "Helper");
    qmlRegisterType<SlAppLogic>("sl.watch.logic", 1, 0, "SlAppLogic");
    qmlRegisterSingletonType(QUrl(QStringLiteral("qrc:///singletone/GlobalStyles.qml")),
                             "sl.watch.styles", 1, 0, "GlobalStyles");
}
