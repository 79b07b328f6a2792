#include "simoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

bool parseKey(const QString &text, QByteArray *out)
{
    const QByteArray key = QByteArray::fromHex(text.toLatin1());
    if (text.size() != 48 || key.size() != 24 || key.toHex() != text.toLower().toLatin1())
        return false;
    *out = key;
    return true;
}

bool parseCount(const QString &text, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 1)
        return false;
    *out = v;
    return true;
}

} // namespace

bool SimOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated TR-31 watch: connects to the program's gadget port and answers like the "
        "watch.\nPrints \"EVENT ...\" lines on stdout; --verbose traces the traffic on stderr."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption hostOpt(QStringLiteral("host"),
                                     QStringLiteral("Host to connect to (default 127.0.0.1)."),
                                     QStringLiteral("host"), host);
    const QCommandLineOption portOpt(QStringLiteral("port"),
                                     QStringLiteral("TCP port to connect to (default 6666)."),
                                     QStringLiteral("port"), QString::number(port));
    const QCommandLineOption serialOpt(QStringLiteral("serial"),
                                       QStringLiteral("Serial number text, up to 30 bytes."),
                                       QStringLiteral("text"));
    const QCommandLineOption deviceKeyOpt(QStringLiteral("device-key"),
                                          QStringLiteral("Device key, 24 bytes as 48 hex digits."),
                                          QStringLiteral("hex"));
    const QCommandLineOption serverKeyOpt(QStringLiteral("server-key"),
                                          QStringLiteral("Server key, 24 bytes as 48 hex digits."),
                                          QStringLiteral("hex"));
    const QCommandLineOption productOpt(QStringLiteral("product-id"),
                                        QStringLiteral("Model number (default 5, the TR-31)."),
                                        QStringLiteral("n"));
    const QCommandLineOption firmwareOpt(
        QStringLiteral("firmware-version"),
        QStringLiteral("Firmware date as yyyyMMdd (default 20200315)."), QStringLiteral("date"));
    const QCommandLineOption clockOpt(
        QStringLiteral("clock"),
        QStringLiteral("Start value of the clock, yyyy-MM-ddTHH:mm:ss[.zzz] (default: now)."),
        QStringLiteral("datetime"));
    const QCommandLineOption frozenOpt(QStringLiteral("frozen-clock"),
                                       QStringLiteral("Keep the clock from running on its own."));
    const QCommandLineOption pushOpt(
        QStringLiteral("push-clock"),
        QStringLiteral("Send the clock (dateTime) to the program every ms milliseconds."),
        QStringLiteral("ms"));
    const QCommandLineOption verboseOpt(
        QStringLiteral("verbose"),
        QStringLiteral("Print every fragment and packet in readable form on stderr."));
    const QCommandLineOption dropOpt(
        QStringLiteral("drop-fragment"),
        QStringLiteral("Fault: do not send the n-th fragment (counted from 1) of a connection."),
        QStringLiteral("n"));
    const QCommandLineOption reorderOpt(
        QStringLiteral("reorder-fragment"),
        QStringLiteral("Fault: send the n-th fragment after the one that follows it."),
        QStringLiteral("n"));
    const QCommandLineOption disconnectOpt(
        QStringLiteral("disconnect-after"),
        QStringLiteral("Fault: close the connection once n packets from the program were handled."),
        QStringLiteral("n"));
    const QCommandLineOption firmwareCutOpt(
        QStringLiteral("disconnect-in-firmware"),
        QStringLiteral("Fault: close the connection in the middle of a firmware packet."));
    const QCommandLineOption garbageOpt(
        QStringLiteral("garbage"),
        QStringLiteral("Fault: send n random 32-byte units after the memory image."),
        QStringLiteral("n"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Seed of the garbage generator (default 1)."),
                                     QStringLiteral("n"));
    const QCommandLineOption reconnectOpt(
        QStringLiteral("reconnect"),
        QStringLiteral("Connect again after a refused or closed connection instead of exiting."));
    const QCommandLineOption reconnectDelayOpt(
        QStringLiteral("reconnect-delay"),
        QStringLiteral("Milliseconds before connecting again (default 500)."),
        QStringLiteral("ms"));
    parser.addOptions({hostOpt, portOpt, serialOpt, deviceKeyOpt, serverKeyOpt, productOpt,
                       firmwareOpt, clockOpt, frozenOpt, pushOpt, verboseOpt, dropOpt, reorderOpt,
                       disconnectOpt, firmwareCutOpt, garbageOpt, seedOpt, reconnectOpt,
                       reconnectDelayOpt});
    parser.process(arguments);

    host = parser.value(hostOpt);
    bool ok = false;
    const uint p = parser.value(portOpt).toUInt(&ok);
    if (!ok || p == 0 || p > 65535) {
        *error = QStringLiteral("invalid --port");
        return false;
    }
    port = quint16(p);
    if (parser.isSet(serialOpt)) {
        serial = parser.value(serialOpt).toUtf8();
        if (serial.isEmpty() || serial.size() > 30) {
            *error = QStringLiteral("--serial must be 1 to 30 bytes");
            return false;
        }
    }
    if (parser.isSet(deviceKeyOpt) && !parseKey(parser.value(deviceKeyOpt), &deviceKey)) {
        *error = QStringLiteral("--device-key must be 48 hex digits");
        return false;
    }
    if (parser.isSet(serverKeyOpt) && !parseKey(parser.value(serverKeyOpt), &serverKey)) {
        *error = QStringLiteral("--server-key must be 48 hex digits");
        return false;
    }
    if (parser.isSet(productOpt)) {
        const uint id = parser.value(productOpt).toUInt(&ok);
        if (!ok || id > 0xFFFF) {
            *error = QStringLiteral("invalid --product-id");
            return false;
        }
        productId = quint16(id);
    }
    if (parser.isSet(firmwareOpt)) {
        firmwareVersion = parser.value(firmwareOpt).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("invalid --firmware-version");
            return false;
        }
    }
    if (parser.isSet(clockOpt)) {
        clock = QDateTime::fromString(parser.value(clockOpt), Qt::ISODateWithMs);
        if (!clock.isValid() || clock.date().year() < 2000 || clock.date().year() > 2099) {
            *error = QStringLiteral("--clock must be a date-time between 2000 and 2099");
            return false;
        }
        clock = QDateTime(clock.date(), clock.time(), Qt::UTC);
    } else {
        const QDateTime local = QDateTime::currentDateTime();
        clock = QDateTime(local.date(), local.time(), Qt::UTC);
    }
    frozenClock = parser.isSet(frozenOpt);
    verbose = parser.isSet(verboseOpt);
    const struct
    {
        const QCommandLineOption &option;
        int *target;
    } counts[] = {{dropOpt, &dropFragment},
                  {reorderOpt, &reorderFragment},
                  {disconnectOpt, &disconnectAfter},
                  {garbageOpt, &garbage},
                  {reconnectDelayOpt, &reconnectDelay},
                  {pushOpt, &pushClock}};
    for (const auto &c : counts) {
        if (parser.isSet(c.option) && !parseCount(parser.value(c.option), c.target)) {
            *error = QStringLiteral("--%1 needs a positive number").arg(c.option.names().first());
            return false;
        }
    }
    disconnectInFirmware = parser.isSet(firmwareCutOpt);
    if (parser.isSet(seedOpt)) {
        seed = parser.value(seedOpt).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("invalid --seed");
            return false;
        }
    }
    reconnect = parser.isSet(reconnectOpt);
    return true;
}
