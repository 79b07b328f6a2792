#include "ggadget.h"

#include "device/slwfragmentator.h"
#include "model/slproperty.h"
#include "model/slpropertydescriptor.h"
#include "model/tr31catalogue.h"
#include "storage/sldevicerecord.h"

#include <QAbstractSocket>
#include <QDebug>
#include <QUrl>

GGadget::GGadget(QIODevice *device, QObject *parent)
    : QObject(parent)
    , m_link(new SlWFragmentator(device))
    , m_streams(&m_mirror, m_link)
{
    qRegisterMetaType<SlPacketInfo>("SlPacketInfo");
    qRegisterMetaType<FHeader>("FHeader");
    qRegisterMetaType<GGadget::Error>("GGadget::Error");

    m_mirror.open(QIODevice::ReadWrite);
    if (!m_link->isOpen())
        m_link->open(QIODevice::ReadWrite);

    m_root = new SlProperty(&m_streams,
                            SlPropertyDescriptor(QStringLiteral("root"), PROPERTY_LIST, 0, 0,
                                                 PROPERTY_FLAG_READABLE | PROPERTY_FLAG_WRITABLE));

    connect(m_root, &SlProperty::valueChanged, this, &GGadget::propertiesChanged);
    connect(m_link, &QIODevice::readyRead, this, &GGadget::onDeviceReadyRead);
    connect(m_link, &SlWFragmentator::dataTransmitted, this, &GGadget::dataTransmitted);
    connect(m_link, &SlWFragmentator::progressChanged, this, &GGadget::updateProgressChanged);
    connect(m_link, &SlWFragmentator::writeFinished, this, &GGadget::onWriteFinished);
    if (device) {
        connect(device, &QIODevice::readChannelFinished, this, &GGadget::onDeviceDisconnected);
        // A reset connection ends without end of input; the session must still end.
        if (auto *socket = qobject_cast<QAbstractSocket *>(device))
            connect(socket, &QAbstractSocket::disconnected, this, &GGadget::onDeviceDisconnected);
    }
    connect(this, &GGadget::directWrite, m_link, &SlWFragmentator::transmitPacket);

    basicInit();
}

GGadget::~GGadget()
{
    qDebug() << "__cdecl GGadget::~GGadget(void)" << static_cast<const void *>(this);
    // The link's teardown runs the event loop: nothing from the connection may reach a tree
    // that is already gone.
    disconnect(m_link, nullptr, this, nullptr);
    if (QIODevice *device = m_link->device())
        disconnect(device, nullptr, this, nullptr);
    SlProperty *root = m_root;
    m_root = nullptr;
    delete root;
    delete m_link;
    m_link = nullptr;
}

QList<SlPropertyDescriptor> GGadget::basicBlock()
{
    const quint32 a = PROPERTY_OFFSET_AUTO;
    return {SlPropertyDescriptor(QStringLiteral("productId"), PROPERTY_UINT16, a, 2, 3),
            SlPropertyDescriptor(QStringLiteral("firmwareVersion"), PROPERTY_UINT32, a, 4, 3),
            SlPropertyDescriptor(QStringLiteral("productSerial"), PROPERTY_UTF8_STRING, a, 30, 19),
            SlPropertyDescriptor(QStringLiteral("deviceKey"), PROPERTY_LATIN1_STRING, a, 24, 19),
            SlPropertyDescriptor(QStringLiteral("serverKey"), PROPERTY_LATIN1_STRING, a, 24, 19),
            SlPropertyDescriptor(QStringLiteral("deviceCommand"), PROPERTY_UINT8, a, 1, 2)};
}

void GGadget::basicInit()
{
    m_root->addChildren(basicBlock());

    SlProperty *serialNode = m_root->child(QStringLiteral("productSerial"));
    SlProperty *idNode = m_root->child(QStringLiteral("productId"));
    SlProperty *deviceKeyNode = m_root->child(QStringLiteral("deviceKey"));
    SlProperty *serverKeyNode = m_root->child(QStringLiteral("serverKey"));
    connect(serialNode, &SlProperty::valueChanged, this, &GGadget::serialChanged);
    connect(idNode, &SlProperty::valueChanged, this, &GGadget::idChanged);
    connect(deviceKeyNode, &SlProperty::valueChanged, this, &GGadget::deviceKeyChanged);
    connect(serverKeyNode, &SlProperty::valueChanged, this, &GGadget::serverKeyChanged);
    m_deviceKeyAccept =
        connect(deviceKeyNode, &SlProperty::valueChanged, this, &GGadget::onKeyAccepted);
    m_serverKeyAccept =
        connect(serverKeyNode, &SlProperty::valueChanged, this, &GGadget::onKeyAccepted);

    SlProperty::saveToFile(QUrl(QStringLiteral("file:temp.bsp")), m_root);
}

void GGadget::extendInit()
{
    if (m_isExtendInit || id() != DEVICE_GADGET_TR31)
        return;
    appendCatalogue(m_root);
    m_isExtendInit = true;
    emit isExtendInitChanged(true);
}

QVariant GGadget::properties() const
{
    return m_root ? m_root->value() : QVariant();
}

QVariant GGadget::nodeValue(const char *name) const
{
    SlProperty *node = findProperty(QLatin1String(name));
    return node ? node->value() : QVariant();
}

QByteArray GGadget::serverKey() const
{
    return nodeValue("serverKey").toByteArray();
}

QByteArray GGadget::deviceKey() const
{
    return nodeValue("deviceKey").toByteArray();
}

QString GGadget::serial() const
{
    return nodeValue("productSerial").toString();
}

int GGadget::id() const
{
    return nodeValue("productId").toInt();
}

SlFirmwareVer GGadget::fwVer() const
{
    const QVariant v = nodeValue("firmwareVersion");
    return v.isValid() ? SlFirmwareVer::fromNumber(v.toUInt()) : SlFirmwareVer();
}

int GGadget::writeDelay() const
{
    return int(m_link->writeDelay());
}

SlProperty *GGadget::findProperty(const QString &name) const
{
    return m_root ? m_root->child(name) : nullptr;
}

void GGadget::sendCommand(int command)
{
    if (SlProperty *node = findProperty(QStringLiteral("deviceCommand")))
        node->setValue(command);
}

bool GGadget::authorize()
{
    if (m_isAuthorized || m_authorizePending)
        return false;
    if (m_updating) {
        m_authorizePending = true;
        return true;
    }
    completeAuthorize(nullptr);
    return true;
}

bool GGadget::authorize(const SlDeviceRecord &record)
{
    if (m_isAuthorized || m_authorizePending)
        return false;
    if (deviceKey() != record.deviceKey)
        return false;
    if (m_updating) {
        m_authorizePending = true;
        m_pendingRecord = std::make_unique<SlDeviceRecord>(record);
        return true;
    }
    completeAuthorize(&record);
    return true;
}

void GGadget::completeAuthorize(const SlDeviceRecord *record)
{
    extendInit();
    m_isAuthorized = true;
    if (record) {
        m_pin = record->pin;
        m_description = record->description;
        m_produced = record->produced;
        m_activated = record->activated;
    }
    qDebug() << "authorize: gadget authorized with" << properties().toMap().size() << "parameters";
    emit isAuthorizedChanged(true);
}

QVariantMap GGadget::paramsModel() const
{
    return id() == DEVICE_GADGET_TR31 ? makeParamsModel(m_root) : QVariantMap();
}

QVariantMap GGadget::statisticsModel() const
{
    return id() == DEVICE_GADGET_TR31 ? makeStatisticsModel(m_root) : QVariantMap();
}

bool GGadget::writeFirmware(const QByteArray &data, qint64 offset)
{
    // The address travels with the data: a seek made for a parameter meanwhile cannot move it,
    // and nothing may wrap below the firmware area into parameter memory.
    if (offset < 0 || FirmwareBase + offset + data.size() > qint64(0xFFFFFFFFu)) {
        qDebug() << "writeFirmware: offset out of range" << offset;
        return false;
    }
    return m_link->queueWrite(quint32(FirmwareBase + offset), data);
}

bool GGadget::stopWrites(int timeoutMs)
{
    return m_link->stopWrites(timeoutMs);
}

void GGadget::onWriteFinished(quint32 address, qint64 result)
{
    if (address < FirmwareBase)
        return;
    // A transfer cut short (the watch gone, a refused write) is no accepted image.
    const int error = result > 0   ? ERROR_NONE
                      : result < 0 ? ERROR_WRITE_STOPPED
                                   : ERROR_WRITE_FAILED;
    qDebug() << "writeFirmware: finished with" << result << "error" << error;
    emit firmwareWritten(error);
}

void GGadget::setWriteDelay(int delay)
{
    // A negative pause would become a wait of weeks after every fragment.
    const quint32 value = quint32(qMax(delay, 0));
    if (value == m_link->writeDelay())
        return;
    m_link->setWriteDelay(value);
    emit writeDelayChanged(int(value));
}

bool GGadget::checkPin(QString pin)
{
    return pin == m_pin;
}

void GGadget::onDeviceReadyRead()
{
    if (!m_root)
        return;
    m_link->seek(0);
    const QByteArray data = m_link->readAll();
    const qint64 address = m_link->packetOffset();
    if (address >= FirmwareBase || address < 0)
        return;

    if (address > m_mirror.size()) {
        m_mirror.seek(m_mirror.size());
        m_mirror.write(QByteArray(int(address - m_mirror.size()), '\0'));
    }
    m_mirror.seek(address);
    m_mirror.write(data);
    const qint64 seenFrom = qMax(address, CatalogueBegin);
    const qint64 seenTo = qMin(address + data.size(), CatalogueEnd);
    if (seenFrom < seenTo)
        m_catalogueSeen.fill(true, int(seenFrom - CatalogueBegin), int(seenTo - CatalogueBegin));
    if (!data.isEmpty()) {
        m_updating = true;
        m_root->dataUpdated(address, data.size());
        m_updating = false;
    }
    if (m_authorizePending) {
        m_authorizePending = false;
        const std::unique_ptr<SlDeviceRecord> record = std::move(m_pendingRecord);
        completeAuthorize(record.get());
    }

    if (!m_isBasicInit && !serial().isEmpty()) {
        m_isBasicInit = true;
        emit isBasicInitChanged(true);
    }
    emit anyPropertyChanged();
    if (!m_catalogueReceived && m_catalogueSeen.count(true) == m_catalogueSeen.size()) {
        m_catalogueReceived = true;
        emit catalogueReceived();
    }
}

void GGadget::onDeviceDisconnected()
{
    if (m_disconnectReported)
        return;
    m_disconnectReported = true;
    emit deviceDisconnected();
}

void GGadget::onKeyAccepted()
{
    if (deviceKey().isEmpty() || serverKey().isEmpty())
        return;
    disconnect(m_deviceKeyAccept);
    disconnect(m_serverKeyAccept);
    sendCommand(DEVICE_COMMAND_KEY_ACCEPTED);
}
