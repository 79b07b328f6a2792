#include "slparamsender.h"

#include "model/ggadget.h"
#include "storage/slwatchsettings.h"
#include "web/slservicehub.h"
#include "web/slwebservice.h"

#include <QDebug>

SlParamSender::SlParamSender(SlServiceHub *parent)
    : QObject(parent)
    , m_hub(parent)
{
    connect(m_hub, &SlServiceHub::gadgetChanged, this, &SlParamSender::onDeviceChanged);
    connect(&m_timer, &QTimer::timeout, this, &SlParamSender::onTimerTimeOut);
    connect(m_hub->webService(), &SlWebService::settingsSendRequestFinished, this,
            &SlParamSender::onParamsSendFinished);
    connect(m_hub->webService(), &SlWebService::statisticsSendRequestFinished, this,
            &SlParamSender::onStatisticsSendFinished);
    m_timer.setInterval(UploadIntervalMs);
}

void SlParamSender::onDeviceChanged()
{
    GGadget *device = m_hub->device();
    if (device) {
        m_device = device;
        connect(device, &GGadget::isExtendInitChanged, this, &SlParamSender::onDeviceExtendInit);
        // The catalogue is appended when the watch is authorised, its values arrive later: what
        // goes out is taken once both have happened, in whichever order.
        connect(device, &GGadget::catalogueReceived, this, &SlParamSender::onDeviceExtendInit);
        return;
    }
    // The last model goes out once more, but only one that belongs to the gadget that left:
    // never another gadget's parameters, never an empty model under an empty serial.
    if (m_served)
        sendParameters();
    m_served = false;
    m_params.clear();
    m_record = SlDeviceRecord();
    m_device = nullptr;
    m_timer.stop();
}

void SlParamSender::onDeviceExtendInit()
{
    GGadget *device = m_hub->device();
    if (m_hub->isServiceMode() || !device || !device->isExtendInit() ||
        !device->isCatalogueReceived() || m_served)
        return;
    m_record = SlDeviceRecord();
    m_record.serial = device->serial();
    m_record.deviceKey = device->deviceKey();
    m_record.serverKey = device->serverKey();
    m_record.produced = device->produced();
    m_record.activated = device->activated();
    m_served = true;
    connect(device, &GGadget::anyPropertyChanged, this, &SlParamSender::onAnyPropertyChanged,
            Qt::UniqueConnection);

    const QVariantMap statistics = device->statisticsModel();
    if (!statistics.isEmpty()) {
        if (!m_hub->settings()->pushStatistics(statistics, m_record))
            qDebug() << "onDeviceExtendInit: cannot queue the statistics";
        // The queue is first in, first out: its oldest entry goes first, today's in its turn.
        sendQueuedStatistics();
    }
    m_params = device->paramsModel();
    sendParameters();
    m_timer.start();
}

void SlParamSender::sendQueuedStatistics()
{
    // The reply to the upload in flight pops the queue's head and sends the next; a second
    // upload now would send that head twice and let two replies pop two entries.
    if (m_statisticsInFlight)
        return;
    QVariantMap model;
    SlDeviceRecord record;
    if (m_hub->settings()->peekStatistics(model, record)) {
        m_statisticsInFlight = true;
        m_hub->webService()->sendStatistic(model, record.serial, record.serverKey, QVariant(0));
    }
}

void SlParamSender::onAnyPropertyChanged()
{
    GGadget *device = m_hub->device();
    if (!device || !m_served)
        return;
    m_params = device->paramsModel();
    m_pending = true;
    if (device->isExtendInit() && !m_timer.isActive()) {
        sendParameters();
        m_timer.start();
    }
}

void SlParamSender::onTimerTimeOut()
{
    if (m_pending)
        sendParameters();
    else
        m_timer.stop();
}

bool SlParamSender::sendParameters()
{
    GGadget *device = m_hub->device();
    if ((device && !device->isExtendInit()) || !m_served)
        return false;
    m_hub->webService()->sendSettings(m_params, m_record.serial, m_record.serverKey, QVariant(0));
    m_pending = false;
    return true;
}

void SlParamSender::onParamsSendFinished(QVariant tag, int error)
{
    Q_UNUSED(tag)
    if (error != SlWebService::SUCCESSFUL)
        m_pending = true;
}

void SlParamSender::onStatisticsSendFinished(QVariant tag, int error)
{
    Q_UNUSED(tag)
    m_statisticsInFlight = false;
    if (error != SlWebService::SUCCESSFUL) {
        m_pending = true;
        return;
    }
    // The entry the last peek handed out is the one delivered; it alone goes.
    if (!m_hub->settings()->popStatistics())
        qDebug() << "onStatisticsSendFinished: the delivered entry is no longer queued";
    sendQueuedStatistics();
}
