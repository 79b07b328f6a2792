#include "slapplogic.h"

#include "app/appinfo.h"
#include "app/endpoints.h"
#include "app/taskbarutility.h"
#include "crypto/slaesenvelope.h"
#include "model/ggadget.h"
#include "model/slproperty.h"
#include "storage/sldevicerecord.h"
#include "web/slparamsender.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>
#include <QtEndian>

SlAppLogic::SlAppLogic(QObject *parent)
    : SlServiceHub(parent)
    , m_settings(AppInfo::hostKey())
{
    connect(&m_deviceServer, &SlIODeviceServer::accessDeniedChanged, this,
            &SlAppLogic::deviceAccessDeniedChanged);
    connect(&m_deviceServer, &SlIODeviceServer::newDeviceConnected, this,
            &SlAppLogic::onDeviceConnected);
    connect(this, &SlAppLogic::deviceChanged, this, &SlServiceHub::gadgetChanged);
    connect(&m_webService, &SlWebService::userRegisterRequestFinished, this, &SlAppLogic::onSignUp);
    connect(&m_webService, &SlWebService::userEmailConfirmationRequestFinished, this,
            &SlAppLogic::onSignUp);
    connect(&m_webService, &SlWebService::userLoginRequestFinished, this, &SlAppLogic::onSignUp);
    connect(&m_webService, &SlWebService::deviceRegistrationRequestFinished, this,
            &SlAppLogic::onDeviceRegistered);
    connect(this, &SlAppLogic::deviceChanged, &m_jobProcessor, &JobProcessor::setDevice);

    m_webService.setServiceHost(Endpoints::serviceOrigin());
    m_webService.setHostKey(AppInfo::hostKey());
    m_webService.setSslConfiguration(
        SlWebService::configurationWithCaFile(Endpoints::serviceCaFile()));
    m_deviceServer.setEnabled(true);
    m_paramSender = new SlParamSender(this);

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
        // A firmware transfer is abandoned first (the watch keeps its old firmware and the
        // update is offered again next time), so that the detach command is not queued behind
        // it. The link flushes the command within a bounded wait of its own as it goes.
        m_device->stopWrites(1000);
        m_device->sendCommand(GGadget::DEVICE_COMMAND_DEATTACHED);
        delete m_device;
        m_device = nullptr;
    }
}

bool SlAppLogic::isServiceMode() const
{
    return AppInfo::isServiceMode();
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

QString SlAppLogic::saveAllParams()
{
    if (!m_device)
        return {};
    const QUrl url(QStringLiteral("file:properties.bsp"));
    return SlProperty::saveToFile(url, m_device->root()) ? SlProperty::localPath(url) : QString();
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
    connect(m_device, &GGadget::serialChanged, this, &SlAppLogic::onDeviceSerialNumberChanged);
    connect(m_device, &GGadget::serverKeyChanged, this, &SlAppLogic::onDeviceServerKeyChanged);
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
    m_webService.setSerial(QStringLiteral("invalid"));
    m_webService.setServerKey(QByteArray());
}

void SlAppLogic::onDeviceSerialNumberChanged()
{
    if (m_device)
        m_webService.setSerial(m_device->serial());
}

void SlAppLogic::onDeviceServerKeyChanged()
{
    if (m_device)
        m_webService.setServerKey(m_device->serverKey());
}

qint64 SlAppLogic::userIdOf(const QVariant &value)
{
    constexpr qint64 largest = qint64(1) << 53;
    bool ok = false;
    qint64 id = -1;
    if (value.userType() == QMetaType::QString) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,16}$"));
        if (digits.match(value.toString()).hasMatch())
            id = value.toString().toLongLong(&ok);
    } else if (value.userType() == QMetaType::Double) {
        const double number = value.toDouble();
        ok = number >= 0 && number <= double(largest) && number == double(qint64(number));
        id = ok ? qint64(number) : -1;
    } else if (value.userType() == QMetaType::Int || value.userType() == QMetaType::LongLong) {
        id = value.toLongLong(&ok);
    }
    return ok && id >= 0 && id <= largest ? id : -1;
}

void SlAppLogic::onSignUp(QVariantMap map, int error)
{
    // A success without a "customer" object carries no account: the stored one stays.
    if (error != SlWebService::SUCCESSFUL || map.isEmpty())
        return;
    const qint64 id = userIdOf(map.value(QStringLiteral("id")));
    if (id < 0) {
        // A number cut to fit would name another user.
        qDebug() << "onSignUp: the user id is no number in range:"
                 << map.value(QStringLiteral("id"));
        return;
    }
    m_user.assign(map.value(QStringLiteral("name")).toString(),
                  map.value(QStringLiteral("email")).toString(), id,
                  map.value(QStringLiteral("is_active")).toBool());
    if (!m_settings.saveUser(&m_user))
        qDebug() << "onSignUp: cannot store the user";
    if (m_device)
        m_device->authorize();
}

void SlAppLogic::onDeviceRegistered(QVariantMap map, int error)
{
    if (error != SlWebService::SUCCESSFUL)
        return;
    if (!m_device) {
        qDebug() << "onDeviceRegistered: no gadget to register";
        return;
    }
    static const QRegularExpression hexText(QStringLiteral("^([0-9a-fA-F]{2})+$"));
    const QString keyText = map.value(QStringLiteral("device_key")).toString();
    if (!hexText.match(keyText).hasMatch()) {
        qDebug() << "onDeviceRegistered: device_key is not hexadecimal";
        return;
    }
    const QByteArray envelope = QByteArray::fromHex(keyText.toLatin1());
    // The stated length must lie within the ciphertext; the form carries no digest to tell.
    const int head = SlAesEnvelope::IV_SIZE + SlAesEnvelope::LENGTH_SIZE;
    if (envelope.size() < head ||
        qFromBigEndian<quint32>(envelope.constData() + SlAesEnvelope::IV_SIZE) >
            quint32(envelope.size() - head)) {
        qDebug() << "onDeviceRegistered: device_key states a length beyond its text";
        return;
    }
    bool ok = false;
    const QByteArray deviceKey =
        SlAesEnvelope(m_device->serverKey(), SlAesEnvelope::MODE_PLAIN).decrypt(envelope, &ok);
    if (!ok) {
        qDebug() << "onDeviceRegistered: device_key does not decrypt with the gadget's key";
        return;
    }
    SlDeviceRecord record;
    record.serial = m_device->serial();
    record.deviceKey = deviceKey;
    record.serverKey = m_device->serverKey();
    record.pin = map.value(QStringLiteral("pin")).toString();
    record.description = map.value(QStringLiteral("model_description")).toString();
    record.userId = m_user.id();
    record.produced = map.value(QStringLiteral("produced_date")).toDateTime();
    record.activated = map.value(QStringLiteral("activated_date")).toDateTime();
    if (!m_device->authorize(record)) {
        qDebug() << "Fail authorize device";
        return;
    }
    if (!m_settings.saveDevice(record))
        qDebug() << "onDeviceRegistered: cannot store the gadget";
}

void SlAppLogic::onDeviceDeviceKeyChanged()
{
    if (m_device)
        m_device->authorize();
}
