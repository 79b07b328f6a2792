#ifndef SIMOPTIONS_H
#define SIMOPTIONS_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Command-line settings of one simulator run.
class SimOptions
{
public:
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 6666;
    QByteArray serial = "TR31-0001-4711";
    QByteArray deviceKey = "Dk7#pQ2!vX9@mL4$wR8%tY1&";
    QByteArray serverKey = "Sk3*hJ6(bN1)zC5+qE7=uM2?";
    quint16 productId = 5;
    quint32 firmwareVersion = 20200315;
    QDateTime clock;
    bool frozenClock = false;
    int pushClock = 0;
    bool verbose = false;
    int dropFragment = 0;
    int reorderFragment = 0;
    int disconnectAfter = 0;
    bool disconnectInFirmware = false;
    int garbage = 0;
    quint32 seed = 1;
    bool reconnect = false;
    int reconnectDelay = 500;

    // Parses the arguments; --help and --version print and exit. Returns
    // false with a message in error for a bad value.
    bool parse(const QStringList &arguments, QString *error);
};

#endif // SIMOPTIONS_H
