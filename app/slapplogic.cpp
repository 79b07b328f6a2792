#include "slapplogic.h"

#include "app/appinfo.h"
#include "app/taskbarutility.h"
#include "model/ggadget.h"
#include "model/slproperty.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QTimer>
#include <QUrl>

SlAppLogic::SlAppLogic(QObject *parent)
    : QObject(parent)
    , m_settings(AppInfo::hostKey())
{
    connect(&m_deviceServer, &SlIODeviceServer::newDeviceConnected, this,
            &SlAppLogic::onDeviceConnected);
    m_deviceServer.setEnabled(true);

    m_settings.loadUser(&m_user);
    detectUpdate();
}

void SlAppLogic::detectUpdate()
{
    bool found = false;
    const SlWatchSettings::Version stored = m_settings.version(&found);
    const SlWatchSettings::Version current{AppInfo::currentVersionMajor(),
                                           AppInfo::currentVersionMinor(),
                                           AppInfo::currentVersionPatch()};
    if (found && stored != current) {
        qDebug() << "Application has been updated";
        setIsUpdated(true);
    }
    if ((!found || m_isUpdated) && !m_settings.setVersion(current))
        qDebug() << "detectUpdate: cannot store the version";
}

SlAppLogic::~SlAppLogic()
{
    qDebug() << "~SlAppLogic" << this;
    if (m_device) {
        // The hub keeps the gadget to the end: a disconnection during the wait must not hand it
        // to a deferred deletion that no event loop will run any more.
        disconnect(m_device, nullptr, this, nullptr);
        // The link flushes it within a bounded wait of its own as it goes.
        m_device->sendCommand(GGadget::DEVICE_COMMAND_DEATTACHED);
        delete m_device;
        m_device = nullptr;
    }
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

void SlAppLogic::logout()
{
    m_user.assign(QString(), QString(), -1, false);
    if (!m_settings.saveUser(&m_user))
        qDebug() << "logout: cannot store the user";
}

QString SlAppLogic::host_key()
{
    return AppInfo::hostKeyHex();
}

void SlAppLogic::saveAllParams()
{
    if (!m_device)
        return;
    SlProperty::saveToFile(QUrl(QStringLiteral("file:properties.bsp")), m_device->root());
}

void SlAppLogic::onDeviceConnected()
{
    QIODevice *connection = m_deviceServer.nextDevice();
    if (!connection)
        return;
    if (m_device) {
        // Only one watch at a time; a connection queued just before the first one was taken
        // must not linger half-open.
        connection->close();
        connection->deleteLater();
        return;
    }
    m_deviceServer.setEnabled(false);
    m_device = new GGadget(connection);
    connect(m_device, &GGadget::deviceDisconnected, this, &SlAppLogic::onDeviceDisconnected);
    emit deviceChanged(m_device);
    // The watch might have gone while the hub reacted to the new gadget.
    if (!m_device)
        return;
    m_device->sendCommand(GGadget::DEVICE_COMMAND_ATTACHED);
    m_device->sendCommand(GGadget::DEVICE_COMMAND_REQUEST_ALL_DATA);
    connect(m_device, &GGadget::deviceKeyChanged, this, &SlAppLogic::onDeviceDeviceKeyChanged);
}

void SlAppLogic::onDeviceDisconnected()
{
    if (m_device) {
        // Whatever the old gadget still reports on its way out must not reach the next one.
        disconnect(m_device, nullptr, this, nullptr);
        m_device->deleteLater();
        m_device = nullptr;
        emit deviceChanged(nullptr);
    }
    m_deviceServer.setEnabled(true);
}

void SlAppLogic::onDeviceDeviceKeyChanged()
{
    if (m_device)
        m_device->authorize();
}
