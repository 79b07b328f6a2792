#ifndef GGADGET_H
#define GGADGET_H

#include "device/fheader.h"
#include "device/slpacketinfo.h"
#include "model/slfirmwarever.h"
#include "model/slpropertydescriptor.h"
#include "model/slpropertystreams.h"

#include <QBitArray>
#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class QIODevice;
class SlDeviceRecord;
class SlProperty;
class SlWFragmentator;

// One connected watch for as long as its connection lasts: the framing over the connection, a
// mirror of the watch's parameter memory and the property tree over that mirror. It learns the
// watch's identity, accepts its keys and, once authorised, extends the tree for the TR-31.
class GGadget : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariant properties READ properties NOTIFY propertiesChanged)
    Q_PROPERTY(bool isBasicInit READ isBasicInit NOTIFY isBasicInitChanged)
    Q_PROPERTY(bool isExtendInit READ isExtendInit NOTIFY isExtendInitChanged)
    Q_PROPERTY(bool isAuthorized READ isAuthorized NOTIFY isAuthorizedChanged)
    Q_PROPERTY(QByteArray serverKey READ serverKey NOTIFY serverKeyChanged)
    Q_PROPERTY(QByteArray deviceKey READ deviceKey NOTIFY deviceKeyChanged)
    Q_PROPERTY(QString serial READ serial NOTIFY serialChanged)
    Q_PROPERTY(QString description READ description NOTIFY descriptionChanged)
    Q_PROPERTY(int id READ id NOTIFY idChanged)
    Q_PROPERTY(SlFirmwareVer fwVer READ fwVer NOTIFY fwVerChanged)
    Q_PROPERTY(QDateTime produced READ produced CONSTANT)
    Q_PROPERTY(QDateTime activated READ activated CONSTANT)
    Q_PROPERTY(int writeDelay READ writeDelay WRITE setWriteDelay NOTIFY writeDelayChanged)

public:
    enum DeviceCommand {
        DEVICE_COMMAND_REQUEST_ALL_DATA = 1,
        DEVICE_COMMAND_KEY_ACCEPTED = 2,
        DEVICE_COMMAND_ATTACHED = 3,
        DEVICE_COMMAND_DEATTACHED = 4,
        DEVICE_COMMAND_RESET_TO_FACTORY = 5,
        DEVICE_COMMAND_ENTER_TRANSPORTATION_MODE = 7
    };
    Q_ENUM(DeviceCommand)

    enum DeviceType { DEVICE_GADGET_TR31 = 5 };
    Q_ENUM(DeviceType)

    enum TimeFormat { DEVICE_TIME_FORMAT_12H = 0, DEVICE_TIME_FORMAT_24H = 1 };
    Q_ENUM(TimeFormat)

    // Outcome codes of firmware writes (firmwareWritten).
    enum Error { ERROR_NONE = 0, ERROR_WRITE_FAILED = 1, ERROR_WRITE_STOPPED = 2 };
    Q_ENUM(Error)

    // Packets addressed here and above belong to the firmware area, never to the mirror.
    static constexpr qint64 FirmwareBase = 0x100000;
    // The TR-31 catalogue's addresses in the parameter memory, end exclusive.
    static constexpr qint64 CatalogueBegin = 85;
    static constexpr qint64 CatalogueEnd = 176;

    explicit GGadget(QIODevice *device = nullptr, QObject *parent = nullptr);
    ~GGadget() override;

    // Identity block every model shares, laid out from address 0 (85 bytes).
    static QList<SlPropertyDescriptor> basicBlock();

    QVariant properties() const;
    bool isBasicInit() const { return m_isBasicInit; }
    bool isExtendInit() const { return m_isExtendInit; }
    bool isAuthorized() const { return m_isAuthorized; }
    // Every byte of the catalogue's memory has come from the watch at least once.
    bool isCatalogueReceived() const { return m_catalogueReceived; }
    QByteArray serverKey() const;
    QByteArray deviceKey() const;
    QString serial() const;
    QString description() const { return m_description; }
    int id() const;
    SlFirmwareVer fwVer() const;
    QDateTime produced() const { return m_produced; }
    QDateTime activated() const { return m_activated; }
    int writeDelay() const;

    SlProperty *root() const { return m_root; }
    SlProperty *findProperty(const QString &name) const;
    void sendCommand(int command);
    bool authorize();
    bool authorize(const SlDeviceRecord &record);
    QVariantMap paramsModel() const;
    QVariantMap statisticsModel() const;
    // Queues data for the firmware area at offset and returns at once: false when it cannot
    // be carried. Progress comes by updateProgressChanged, the outcome by firmwareWritten.
    bool writeFirmware(const QByteArray &data, qint64 offset);
    // Abandons a firmware write in progress and waits, bounded, until the link is idle.
    bool stopWrites(int timeoutMs);
    // The parameter memory as received so far.
    QByteArray mirrorData() const { return m_mirror.data(); }

signals:
    void propertiesChanged(QVariant v);
    void dataTransmitted(SlPacketInfo packetInfo);
    void isBasicInitChanged(bool isBasicInit);
    void isExtendInitChanged(bool isExtendInit);
    void isAuthorizedChanged(bool isAuthorized);
    void serverKeyChanged();
    void deviceKeyChanged();
    void serialChanged();
    void idChanged();
    void fwVerChanged();
    void writeDelayChanged(int writeDelay);
    void descriptionChanged(QString description);
    void deviceDisconnected();
    void anyPropertyChanged();
    void updateProgressChanged(float progress);
    bool directWrite(FHeader header, QByteArray data);
    // A firmware write ended; error is one of Error.
    void firmwareWritten(int error);
    // Emitted once, after the block that completed the catalogue's memory was taken in.
    void catalogueReceived();

public slots:
    void setWriteDelay(int delay);
    bool checkPin(QString pin);

private slots:
    void onDeviceReadyRead();
    void onDeviceDisconnected();
    void onKeyAccepted();
    void onWriteFinished(quint32 address, qint64 result);

private:
    void basicInit();
    void extendInit();
    void completeAuthorize(const SlDeviceRecord *record);
    QVariant nodeValue(const char *name) const;

    QBuffer m_mirror;
    SlWFragmentator *m_link = nullptr;
    SlProperty *m_root = nullptr;
    SlPropertyStreams m_streams;
    bool m_isBasicInit = false;
    bool m_isAuthorized = false;
    bool m_isExtendInit = false;
    QString m_pin;
    QString m_description;
    QDateTime m_produced;
    QDateTime m_activated;
    QMetaObject::Connection m_deviceKeyAccept;
    QMetaObject::Connection m_serverKeyAccept;
    // Set while the tree walks a received block. Authorising then would append the catalogue
    // to the very list being walked, so it waits until the walk is over.
    bool m_updating = false;
    bool m_authorizePending = false;
    std::unique_ptr<SlDeviceRecord> m_pendingRecord;
    // A socket reports its end both as end of input and as disconnection; tell the owner once.
    bool m_disconnectReported = false;
    // Which catalogue bytes the watch has sent; until all have, the tree shows zeros there.
    QBitArray m_catalogueSeen = QBitArray(int(CatalogueEnd - CatalogueBegin));
    bool m_catalogueReceived = false;
};

#endif // GGADGET_H
