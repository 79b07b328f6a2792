#pragma once

#include "device/sliodeviceserver.h"
#include "model/ggadget.h"
#include "storage/slwatchsettings.h"
#include "web/jobprocessor.h"
#include "web/slservicehub.h"
#include "web/sluser.h"
#include "web/slwebservice.h"

#include <QObject>
#include <QString>
#include <QVariant>

class SlParamSender;

// The one object that owns the program's long-lived services and the current
// gadget, and answers the interface's questions about the application.
class SlAppLogic : public SlServiceHub
{
    Q_OBJECT
    Q_PROPERTY(SlUser *user READ user NOTIFY userChanged)
    Q_PROPERTY(SlWebService *webService READ webService NOTIFY webServiceChanged)
    Q_PROPERTY(GGadget *device READ device NOTIFY deviceChanged)
    Q_PROPERTY(bool devver READ devver NOTIFY devverChanged)
    Q_PROPERTY(bool isUpdated READ isUpdated WRITE setIsUpdated NOTIFY isUpdatedChanged)
    Q_PROPERTY(bool hidden READ hidden CONSTANT)
    Q_PROPERTY(bool autorun READ autorun WRITE setAutorun NOTIFY autorunChanged)
    Q_PROPERTY(QString language READ language CONSTANT)
    // A watch is plugged in but this user may not open it: the unplugged page says how to fix it.
    Q_PROPERTY(bool deviceAccessDenied READ deviceAccessDenied NOTIFY deviceAccessDeniedChanged)
public:
    enum Action {
        NO_COMMAND = 0,
        ACTION_SECOND_BASE = 1,
        INCREMENT_SECOND_UNITS = ACTION_SECOND_BASE,
        DECREMENT_SECOND_UNITS,
        INCREMENT_SECOND_TENS,
        DECREMENT_SECOND_TENS,
        ACTION_MINUTE_BASE = 5,
        INCREMENT_MINUTE_UNITS = ACTION_MINUTE_BASE,
        DECREMENT_MINUTE_UNITS,
        INCREMENT_MINUTE_TENS,
        DECREMENT_MINUTE_TENS,
        ACTION_HOUR_BASE = 9,
        INCREMENT_HOUR_UNITS = ACTION_HOUR_BASE,
        DECREMENT_HOUR_UNITS,
        INCREMENT_HOUR_TENS,
        DECREMENT_HOUR_TENS,
        ACTION_DAY_BASE = 13,
        INCREMENT_DAY_UNITS = ACTION_DAY_BASE,
        DECREMENT_DAY_UNITS,
        INCREMENT_DAY_TENS,
        DECREMENT_DAY_TENS,
        ACTION_MONTH_BASE = 17,
        INCREMENT_MONTH_UNITS = ACTION_MONTH_BASE,
        DECREMENT_MONTH_UNITS,
        INCREMENT_MONTH_TENS,
        DECREMENT_MONTH_TENS,
        ACTION_YEAR_BASE = 21,
        INCREMENT_YEAR_UNITS = ACTION_YEAR_BASE,
        DECREMENT_YEAR_UNITS,
        INCREMENT_YEAR_TENS,
        DECREMENT_YEAR_TENS
    };
    Q_ENUM(Action)

    enum Constants {
        FORMAT_NEVER = 0,
        FORMAT_DAY = 1,
        FORMAT_MONTH = 2,
        FORMAT_YEAR = 3,
        STAND_INDIC_CLAP = 0,
        STAND_INDIC_ALWAYS = 1
    };
    Q_ENUM(Constants)

    explicit SlAppLogic(QObject *parent = nullptr);
    ~SlAppLogic() override;

    SlUser *user() { return &m_user; }
    SlWebService *webService() override { return &m_webService; }
    SlWatchSettings *settings() override { return &m_settings; }
    GGadget *device() const override { return m_device; }
    bool isServiceMode() const override;
    SlIODeviceServer *deviceServer() { return &m_deviceServer; }
    bool deviceAccessDenied() const { return m_deviceServer.isAccessDenied(); }
    JobProcessor *jobProcessor() { return &m_jobProcessor; }
    SlParamSender *paramSender() { return m_paramSender; }
    bool isUpdated() const { return m_isUpdated; }
    bool hidden() const;
    bool autorun() const;
    void setAutorun(bool autorun);
    QString language() const;

    // The language part of a locale name such as "de_CH".
    static QString languageOf(const QString &localeName);
    // The service's user id, a JSON number or its decimal text; -1 when it is neither or lies
    // outside 0 .. 2^53 (beyond that a JSON number is no longer exact).
    static qint64 userIdOf(const QVariant &value);

signals:
    void userChanged(SlUser *user);
    void webServiceChanged(SlWebService *webService);
    void deviceChanged(GGadget *device);
    void devverChanged(bool devver);
    void isUpdatedChanged(bool isUpdated);
    void maximize();
    void autorunChanged(bool autorun);
    void deviceAccessDeniedChanged(bool denied);

public slots:
    bool devver();
    void testfunction(QVariant value);

private slots:
    void onSignUp(QVariantMap map, int error);
    void onDeviceRegistered(QVariantMap map, int error);
    void onDeviceConnected();
    void onDeviceDisconnected();
    void onDeviceSerialNumberChanged();
    void onDeviceServerKeyChanged();
    void onDeviceDeviceKeyChanged();

public:
    Q_INVOKABLE QString currentAppVer();
    Q_INVOKABLE void setIsUpdated(bool isUpdated);
    Q_INVOKABLE QString host_key();
    // The full path of the file written, empty when nothing was.
    Q_INVOKABLE QString saveAllParams();
    Q_INVOKABLE void logout();

private:
    void detectUpdate();

    SlUser m_user;
    SlWebService m_webService;
    JobProcessor m_jobProcessor{&m_webService};
    SlIODeviceServer m_deviceServer;
    GGadget *m_device = nullptr;
    bool m_isUpdated = false;
    SlParamSender *m_paramSender = nullptr;
    SlWatchSettings m_settings;
};
