#pragma once

#include "model/slfirmwarever.h"

#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>

#include <atomic>

class GGadget;
class SlServiceHub;

// Keeps the watch's firmware current: asks the service for the newest image whenever the
// watch's authorisation changes, downloads it when it is newer, and on request writes it into
// the watch's firmware area from a worker thread.
class SlFirmwareUpdater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SlServiceHub *appLogic READ appLogic WRITE setAppLogic NOTIFY appLogicChanged)
    Q_PROPERTY(bool isUpdateAvailable READ isUpdateAvailable NOTIFY isUpdateAvailableChanged)
    Q_PROPERTY(float progress READ progress NOTIFY progressChanged)

public:
    // Downloads of this class carry it, so that their replies are told from others'.
    static constexpr int FirmwareTag = 2179941;

    explicit SlFirmwareUpdater(QObject *parent = nullptr);
    ~SlFirmwareUpdater() override;

    SlServiceHub *appLogic() const { return m_appLogic; }
    bool isUpdateAvailable() const { return m_isUpdateAvailable; }
    float progress() const { return m_progress; }
    // The image and its checksum as they will be written.
    QByteArray firmware() const { return m_firmware.data(); }
    // Worker tasks still running (the transfer and its 2 s settling time).
    bool isWriting() const { return m_writing.load(); }

    // The firmware version a gadget reports, (0, 0, 0) when it has none.
    static SlFirmwareVer gadgetVersion(GGadget *gadget);

signals:
    void appLogicChanged(SlServiceHub *appLogic);
    void isUpdateAvailableChanged(bool isUpdateAvailable);
    void progressChanged(float progress);

public slots:
    void setAppLogic(SlServiceHub *appLogic);
    void setIsUpdateAvailable(bool isUpdateAvailable);
    void setProgress(float progress);
    void startUpdate();
    void setFWFile(QUrl url);
    void cancel();

private slots:
    void deviceChanged(GGadget *device);
    void deviceReadyToUpdate();
    void firmwareVersionReceived(QVariant tag, int error);
    void firmwareReceived(QUrl url, QVariant tag, QByteArray &data, int error);
    void updateProcess(QPointer<GGadget> watched);

private:
    void loadImage(const QByteArray &image);

    QPointer<SlServiceHub> m_appLogic;
    QBuffer m_firmware;
    bool m_isUpdateAvailable = false;
    float m_progress = 0;
    // What the next worker task writes, and to which gadget; set on the main thread before it
    // starts.
    QByteArray m_pending;
    GGadget *m_target = nullptr;
    std::atomic<bool> m_writing{false};
};
