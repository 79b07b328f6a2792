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
#include <QThread>
#include <QThreadPool>
#include <QtEndian>

SlFirmwareUpdater::SlFirmwareUpdater(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<GGadget::Error>("GGadget::Error");
    qRegisterMetaType<SlPacketInfo>("SlPacketInfo");
}

SlFirmwareUpdater::~SlFirmwareUpdater()
{
    // A worker still settling after its transfer reports back to this object.
    while (m_writing.load())
        QThread::msleep(10);
}

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
    setProgress(0);
    setIsUpdateAvailable(true);
}

void SlFirmwareUpdater::startUpdate()
{
    GGadget *gadget = m_appLogic ? m_appLogic->device() : nullptr;
    if (!gadget || m_writing.exchange(true))
        return;
    connect(gadget, &GGadget::updateProgressChanged, this, &SlFirmwareUpdater::setProgress,
            Qt::UniqueConnection);
    // The worker gets its own copy: the buffer stays the main thread's.
    m_firmware.open(QIODevice::ReadOnly);
    m_pending = m_firmware.readAll();
    m_firmware.close();
    m_target = gadget;
    // Followed on this thread, so that the verdict below knows whether this watch is still here.
    QPointer<GGadget> watched(gadget);
    QThreadPool::globalInstance()->start([this, watched]() { updateProcess(watched); });
}

void SlFirmwareUpdater::updateProcess(QPointer<GGadget> watched)
{
    GGadget *gadget = m_target;
    const bool written = gadget && gadget->writeFirmware(m_pending, 0);
    if (written)
        QThread::sleep(2);
    // A link buffers what it is given: the whole image can be written while the watch is
    // already leaving. Only a watch that is still connected after the pause took it; and a
    // watch plugged in meanwhile keeps its own offer.
    QMetaObject::invokeMethod(
        this,
        [this, watched, written]() {
            if (written && watched && m_appLogic && m_appLogic->device() == watched.data())
                setIsUpdateAvailable(false);
            else
                qDebug() << "updateProcess: the watch did not take the image";
        },
        Qt::QueuedConnection);
    m_writing.store(false);
}

void SlFirmwareUpdater::cancel()
{
    setIsUpdateAvailable(false);
}
