#pragma once

#include <QObject>

class GGadget;
class SlWatchSettings;
class SlWebService;

// What the services beside the hub (banner, uploader, firmware updater) need of it: the web
// service, the settings store, the current gadget and its changes. They see the hub only
// through this base, so that the web and update layers never reach up into the application.
class SlServiceHub : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual SlWebService *webService() = 0;
    virtual SlWatchSettings *settings() = 0;
    virtual GGadget *device() const = 0;
    virtual bool isServiceMode() const = 0;

signals:
    // The current gadget changed (to a new one or to none); the hub forwards its own
    // deviceChanged here.
    void gadgetChanged(GGadget *device);
};
