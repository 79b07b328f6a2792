#ifndef SLCLITCPSERVER_H
#define SLCLITCPSERVER_H

#include "model/ggadget.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QVariant>

class QTcpServer;
class QTcpSocket;
class SlProperty;

// A terminal on the local machine talking to the watch's own command line: what the client
// types goes into the watch's "cli" field, every new value of that field goes back to it.
class SlCliTCPServer : public QObject
{
    Q_OBJECT
    // A scene binds the console to the current gadget. Qt 5 takes no property without a read
    // accessor, so it can be read back too; nothing announces changes.
    Q_PROPERTY(GGadget *device READ currentDevice WRITE setDevice)
public:
    static constexpr quint16 Port = 19022;

    explicit SlCliTCPServer(QObject *parent = nullptr);

    bool isListening() const;
    GGadget *currentDevice() const;

public slots:
    void setDevice(GGadget *device);

private slots:
    void onClientConnected();
    void onReadyRead();
    void onDisconnected();
    void onPropertiesChanged(QVariant v);
    void onCliValueChanged(QVariant v);

private:
    void dropField();

    QTcpServer *tcpServer = nullptr;
    QPointer<QTcpSocket> client;
    // Guarded: the gadget, and with it the field, may be destroyed while a console is open.
    QPointer<GGadget> device;
    QPointer<SlProperty> cliProperty;
    QMetaObject::Connection cliConnection;
};

#endif // SLCLITCPSERVER_H
