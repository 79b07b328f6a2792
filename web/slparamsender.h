#pragma once

#include "storage/sldevicerecord.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

class GGadget;
class SlServiceHub;

// Keeps the service informed about the connected gadget: its parameters soon after it is fully
// initialised and then at most every 20 s while they change, once more when it leaves, and its
// statistics once per connection through the settings store's queue.
class SlParamSender : public QObject
{
    Q_OBJECT

public:
    static constexpr int UploadIntervalMs = 20000;

    explicit SlParamSender(SlServiceHub *parent);

    void setUploadInterval(int ms) { m_timer.setInterval(ms); }

private slots:
    void onDeviceChanged();
    void onAnyPropertyChanged();
    bool sendParameters();
    void onTimerTimeOut();
    void onDeviceExtendInit();
    void onParamsSendFinished(QVariant tag, int error);
    void onStatisticsSendFinished(QVariant tag, int error);

private:
    void sendQueuedStatistics();

    SlServiceHub *m_hub;
    QVariantMap m_params;
    SlDeviceRecord m_record;
    bool m_pending = false;
    QTimer m_timer;
    // Whether the model and record above belong to a gadget that reached its full catalogue.
    bool m_served = false;
    QPointer<GGadget> m_device;
    bool m_statisticsInFlight = false;
};
