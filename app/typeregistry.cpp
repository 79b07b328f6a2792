#include "typeregistry.h"

#include "app/endpoints.h"
#include "app/slapplogic.h"
#include "app/slhelper.h"
#include "app/taskbarutility.h"
#include "crypto/slpasswordmanipulator.h"
#include "device/sliodeviceserver.h"
#include "model/ggadget.h"
#include "model/slclitcpserver.h"
#include "model/slproperty.h"
#include "model/slstatmodeltranslator.h"
#include "time/slntpclient.h"
#include "time/sltimemanipulator.h"
#include "time/sltimesync.h"
#include "update/slappupdaterclient.h"
#include "update/slfirmwareupdater.h"
#include "web/slservicehub.h"
#include "web/sluser.h"
#include "web/slwatchbanner.h"
#include "web/slwatchimage.h"
#include "web/slwebservice.h"

#include <QQmlEngine>
#include <QUrl>

void registerInterfaceTypes()
{
    qmlRegisterType<SlWatchImage>("sl.watch.image", 1, 0, "WatchImage");
    qmlRegisterType<TaskBarUtility>("sl.watch.logic", 1, 0, "TaskBarUtility");
    qmlRegisterType<SlProperty>("sl.watch.logic", 1, 0, "SlProperty");
    qmlRegisterType<SlStatModelTranslator>("sl.watch.logic", 1, 0, "StatModelTranslator");
    qmlRegisterType<SlHelper>("sl.private.helper", 1, 0, "Helper");
    qmlRegisterType<SlIODeviceServer>("sl.watch.server", 1, 0, "SlIODevicePool");
    qmlRegisterType<GGadget>("sl.watch.logic", 1, 0, "GGadget");
    qmlRegisterType<SlWebService>("sl.watch.server", 1, 0, "SlWebService");
    qmlRegisterType<SlWatchBanner>("sl.watch.logic", 1, 0, "SlWatchBanner");
    qmlRegisterType<SlAppUpdaterClient>("sl.app.updater", 1, 0, "AppUpdater");
    // The firmware updater takes the hub by its base type; QML must know that type to assign it.
    qmlRegisterAnonymousType<SlServiceHub>("sl.app.updater", 1);
    qmlRegisterType<SlFirmwareUpdater>("sl.app.updater", 1, 0, "FirmwareUpdater");
    qmlRegisterType<SlAppLogic>("sl.watch.logic", 1, 0, "SlAppLogic");
    qmlRegisterType<SlUser>("sl.watch.logic", 1, 0, "SlUser");
    SlTimeSync::setDefaultHost(Endpoints::defaultNtpHost());
    qmlRegisterType<SlTimeSync>("sl.watch.logic", 1, 0, "TimeSync");
    qmlRegisterType<SlPasswordManipulator>("sl.watch.logic", 1, 0, "PasswordManipulator");
    qmlRegisterType<SlTimeManipulator>("sl.watch.logic", 1, 0, "TimeManipulator");
    qmlRegisterType<SlNTPClient>("sl.watch.ntp", 1, 0, "NTPClient");
    qmlRegisterType<SlCliTCPServer>("sl.watch.cli", 1, 0, "CliTCPServer");
    qmlRegisterSingletonType(QUrl(QStringLiteral("qrc:///singletone/GlobalStyles.qml")),
                             "sl.watch.styles", 1, 0, "GlobalStyles");
}
