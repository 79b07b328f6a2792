#include "slfirmwareupdater.h"

#include "device/slpacketinfo.h"
#include "model/crc32.h"
#include "model/ggadget.h"
#include "model/slproperty.h"
#include "update/slappversion.h"
#include "web/slservicehub.h"
#include "web/slwebservice.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

namespace {
constexpr int kSettleMs = 2000;
} // namespace

SlFirmwareUpdater::SlFirmwareUpdater(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<GGadget::Error>("GGadget::Error");
    qRegisterMetaType<SlPacketInfo>("SlPacketInfo");
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &SlFirmwareUpdater::onSettled);
}

// Nothing to wait for: the transfer belongs to the watch's link, which stops it when it goes.
SlFirmwareUpdater::~SlFirmwareUpdater() = default;

SlFirmwareVer SlFirmwareUpdater::gadgetVersion(GGadget *gadget)
{
    SlProperty *node = gadget ? gadget->findProperty(QStringLiteral("firmwareVersion")) : nullptr;
    if (!node)
        return SlFirmwareVer();
    return SlFirmwareVer::fromText(QString::number(node->value().toULongLong()));
}

void SlFirmwareUpdater::setAppLogic(SlServiceHub *appLogic)
{
    if (appLogic == m_appLogic)
        return;
    if (m_appLogic) {
        disconnect(m_appLogic, nullptr, this, nullptr);
        disconnect(m_appLogic->webService(), nullptr, this, nullptr);
    }
    m_appLogic = appLogic;
    if (m_appLogic) {
        connect(m_appLogic, &SlServiceHub::gadgetChanged, this, &SlFirmwareUpdater::deviceChanged);
        connect(m_appLogic->webService(), &SlWebService::lastFirmwareVersionReceived, this,
                &SlFirmwareUpdater::firmwareVersionReceived);
        connect(m_appLogic->webService(), &SlWebService::fileReceived, this,
                &SlFirmwareUpdater::firmwareReceived);
    }
    emit appLogicChanged(m_appLogic);
    if (m_appLogic && m_appLogic->device())
        connect(m_appLogic->device(), &GGadget::isAuthorizedChanged, this,
                &SlFirmwareUpdater::deviceReadyToUpdate, Qt::UniqueConnection);
}

void SlFirmwareUpdater::setIsUpdateAvailable(bool isUpdateAvailable)
{
    if (isUpdateAvailable == m_isUpdateAvailable)
        return;
    m_isUpdateAvailable = isUpdateAvailable;
    emit isUpdateAvailableChanged(m_isUpdateAvailable);
}

void SlFirmwareUpdater::setProgress(float progress)
{
    if (qFuzzyCompare(progress + 1.0f, m_progress + 1.0f))
        return;
    m_progress = progress;
    emit progressChanged(m_progress);
}

void SlFirmwareUpdater::deviceChanged(GGadget *device)
{
    if (m_updating && device != m_target)
        finishUpdate(false, tr("The watch was disconnected during the update. Connect it again "
                               "to try once more."));
    if (device)
        connect(device, &GGadget::isAuthorizedChanged, this,
                &SlFirmwareUpdater::deviceReadyToUpdate, Qt::UniqueConnection);
    else
        setIsUpdateAvailable(false);
}

void SlFirmwareUpdater::deviceReadyToUpdate()
{
    if (!m_appLogic || !m_appLogic->device())
        return;
    SlWebService *web = m_appLogic->webService();
    if (SlProperty *key = m_appLogic->device()->findProperty(QStringLiteral("serverKey")))
        web->setServerKey(key->value().toByteArray());
    web->getLastFirmwareVersion();
}

void SlFirmwareUpdater::firmwareVersionReceived(QVariant tag, int error)
{
    Q_UNUSED(error)
    const QVariantMap model = tag.toMap();
    const QString required = model.value(QStringLiteral("min_app_version"))
                                 .toMap()
                                 .value(QStringLiteral("version"))
                                 .toString();
    const QString url = model.value(QStringLiteral("url")).toString();
    const QString version = model.value(QStringLiteral("version")).toString();
    if (!m_appLogic || !m_appLogic->device())
        return;
    const SlFirmwareVer own = gadgetVersion(m_appLogic->device());
    if (SlAppVersion::fromText(required) <= SlAppVersion::current() &&
        SlFirmwareVer::fromText(version) > own)
        m_appLogic->webService()->downloadFile(QUrl(url), QVariant(int(FirmwareTag)));
    qDebug() << "firmwareVersionReceived:" << required << url << version;
}

void SlFirmwareUpdater::firmwareReceived(QUrl url, QVariant tag, QByteArray &data, int error)
{
    Q_UNUSED(url)
    if (tag.toInt() != FirmwareTag)
        return;
    // The body of a failed download is the service's error page, not an image.
    if (error != SlWebService::SUCCESSFUL || data.isEmpty()) {
        qDebug() << "firmwareReceived: refused a failed download, error" << error;
        return;
    }
    loadImage(data);
}

void SlFirmwareUpdater::setFWFile(QUrl url)
{
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return;
    loadImage(file.readAll());
}

void SlFirmwareUpdater::loadImage(const QByteArray &image)
{
    QByteArray data = image;
    char checksum[4];
    qToLittleEndian<quint32>(crc32(image), checksum);
    data.append(checksum, 4);
    m_firmware.close();
    m_firmware.setData(data);
    if (!m_status.isEmpty()) {
        m_status.clear();
        emit statusChanged(m_status);
    }
    setProgress(0);
    setIsUpdateAvailable(true);
}

void SlFirmwareUpdater::startUpdate()
{
    GGadget *gadget = m_appLogic ? m_appLogic->device() : nullptr;
    if (!gadget || m_updating)
        return;
    connect(gadget, &GGadget::updateProgressChanged, this, &SlFirmwareUpdater::setProgress,
            Qt::UniqueConnection);
    connect(gadget, &GGadget::firmwareWritten, this, &SlFirmwareUpdater::onFirmwareWritten,
            Qt::UniqueConnection);
    m_target = gadget;
    m_updating = true;
    setProgress(0);
    emit isUpdatingChanged(true);
    updateProcess();
}

void SlFirmwareUpdater::updateProcess()
{
    if (!m_target)
        return;
    m_firmware.open(QIODevice::ReadOnly);
    const QByteArray image = m_firmware.readAll();
    m_firmware.close();
    if (!m_target->writeFirmware(image, 0))
        finishUpdate(false, tr("The firmware could not be sent to the watch. Try again."));
}

void SlFirmwareUpdater::onFirmwareWritten(int error)
{
    if (!m_updating || sender() != m_target.data())
        return;
    if (error != GGadget::ERROR_NONE) {
        finishUpdate(false, tr("The watch did not take the firmware: the transfer was cut "
                               "short. Keep the watch connected and try again."));
        return;
    }
    // A link buffers what it is given: the whole image can be written while the watch is
    // already leaving. Only a watch that is still connected after the pause took it.
    m_settle.start();
}

void SlFirmwareUpdater::onSettled()
{
    if (!m_updating)
        return;
    if (m_target && m_appLogic && m_appLogic->device() == m_target.data())
        finishUpdate(true, tr("The firmware was updated."));
    else
        finishUpdate(false, tr("The watch was disconnected during the update. Connect it again "
                               "to try once more."));
}

void SlFirmwareUpdater::finishUpdate(bool taken, const QString &status)
{
    m_settle.stop();
    if (!taken)
        qDebug() << "updateProcess: the watch did not take the image";
    m_target.clear();
    m_updating = false;
    if (m_status != status) {
        m_status = status;
        emit statusChanged(m_status);
    }
    if (taken)
        setIsUpdateAvailable(false);
    emit isUpdatingChanged(false);
}

void SlFirmwareUpdater::cancel()
{
    setIsUpdateAvailable(false);
}
