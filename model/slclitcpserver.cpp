#include "slclitcpserver.h"

#include "model/ggadget.h"
#include "model/slproperty.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
// Green text, the line, then the terminal's colours back to normal.
const char kGreeting[] = "\x1b[32mConnected to DialDesk\r\n\x1b[0m";
} // namespace

SlCliTCPServer::SlCliTCPServer(QObject *parent)
    : QObject(parent)
    , tcpServer(new QTcpServer(this))
{
    connect(tcpServer, &QTcpServer::newConnection, this, &SlCliTCPServer::onClientConnected);
    if (!tcpServer->listen(QHostAddress::LocalHost, Port))
        qDebug() << "Fail to listen";
}

bool SlCliTCPServer::isListening() const
{
    return tcpServer->isListening();
}

GGadget *SlCliTCPServer::currentDevice() const
{
    return device;
}

void SlCliTCPServer::setDevice(GGadget *newDevice)
{
    if (!newDevice)
        return;
    if (device && device != newDevice)
        disconnect(device, nullptr, this, nullptr);
    if (device != newDevice)
        dropField();
    device = newDevice;
    onPropertiesChanged(newDevice->properties());
    connect(newDevice, &GGadget::propertiesChanged, this, &SlCliTCPServer::onPropertiesChanged,
            Qt::UniqueConnection);
    connect(newDevice, &QObject::destroyed, this, &SlCliTCPServer::dropField, Qt::UniqueConnection);
}

void SlCliTCPServer::onClientConnected()
{
    while (QTcpSocket *socket = tcpServer->nextPendingConnection()) {
        if (client) {
            socket->close();
            socket->deleteLater();
            continue;
        }
        client = socket;
        client->write(kGreeting, qstrlen(kGreeting));
        connect(client, &QTcpSocket::readyRead, this, &SlCliTCPServer::onReadyRead);
        connect(client, &QTcpSocket::disconnected, this, &SlCliTCPServer::onDisconnected);
    }
}

void SlCliTCPServer::onReadyRead()
{
    if (!client)
        return;
    const QByteArray input = client->readAll();
    if (!cliProperty || cliProperty->size() == 0)
        return;
    const int piece = int(cliProperty->size());
    for (int at = 0; at < input.size() && cliProperty; at += piece)
        cliProperty->setValue(QVariant(input.mid(at, piece)));
}

void SlCliTCPServer::onDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != client)
        return;
    socket->deleteLater();
    client = nullptr;
}

void SlCliTCPServer::onPropertiesChanged(QVariant v)
{
    const QVariantMap map = v.toMap();
    const auto it = map.constFind(QStringLiteral("cli"));
    if (it == map.constEnd())
        return;
    auto *node = it->value<SlProperty *>();
    if (!node)
        return;
    if (node == cliProperty)
        return;
    dropField();
    cliProperty = node;
    cliConnection =
        connect(node, &SlProperty::valueChanged, this, &SlCliTCPServer::onCliValueChanged);
}

void SlCliTCPServer::onCliValueChanged(QVariant v)
{
    if (client)
        client->write(v.toByteArray());
}

void SlCliTCPServer::dropField()
{
    disconnect(cliConnection);
    cliProperty = nullptr;
}
