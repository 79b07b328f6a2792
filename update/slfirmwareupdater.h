#pragma once

#include "model/slfirmwarever.h"

#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariant>

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
    Q_PROPERTY(bool isUpdating READ isUpdating NOTIFY isUpdatingChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)

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
    // From the start of a transfer until its outcome is known (after the watch's 2 s to settle).
    bool isUpdating() const { return m_updating; }
    // What became of the last transfer, in a sentence for the user; empty before the first.
    QString status() const { return m_status; }

    // The firmware version a gadget reports, (0, 0, 0) when it has none.
    static SlFirmwareVer gadgetVersion(GGadget *gadget);

signals:
    void appLogicChanged(SlServiceHub *appLogic);
    void isUpdateAvailableChanged(bool isUpdateAvailable);
    void progressChanged(float progress);
    void isUpdatingChanged(bool isUpdating);
    void statusChanged(QString status);

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
    void updateProcess();
    void onFirmwareWritten(int error);
    void onSettled();

private:
    void loadImage(const QByteArray &image);
    void finishUpdate(bool taken, const QString &status);

    QPointer<SlServiceHub> m_appLogic;
    QBuffer m_firmware;
    bool m_isUpdateAvailable = false;
    float m_progress = 0;
    // The watch being written to.
    QPointer<GGadget> m_target;
    bool m_updating = false;
    QString m_status;
    // The watch's time to take the image before it counts as updated.
    QTimer m_settle;
};
