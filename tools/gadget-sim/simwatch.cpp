#include "simwatch.h"

#include "simconsole.h"
#include "simoptions.h"

namespace {

QString hex8(quint32 v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0'));
}

} // namespace

SimWatch::SimWatch(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , clock(options.clock, options.frozenClock)
{
    SimMemory &m = defaults;
    m.setValue("productId", options.productId);
    m.setValue("firmwareVersion", options.firmwareVersion);
    m.setText("productSerial", options.serial);
    m.setText("deviceKey", options.deviceKey);
    m.setText("serverKey", options.serverKey);
    m.setDateTime(SimMemory::DateTimeOffset, options.clock);
    m.setValue("timeOffset", quint32(QDateTime::currentDateTime().offsetFromUtc() / 60));
    m.setValue("syncFlag", 1);
    m.setDateTime(SimMemory::SyncTimeOffset, options.clock);
    // A watch in everyday use: charged three days ago, a few months of counters.
    const struct
    {
        const char *name;
        quint32 value;
    } settings[] = {{"timeFormat", 1},
                    {"batteryLevel", 87},
                    {"batteryVoltage", 3987},
                    {"predictedWTIndic", 95},
                    {"predictedWTStby", 20160},
                    {"lastChargeDaysAgo", 3},
                    {"lastChargeLevel", 100},
                    {"indicCurrent", 2450},
                    {"batteryChargeCycles", 42},
                    {"indicSwitchCount", 1873},
                    {"indicWorkTime", 52640},
                    {"button1ClickCount", 2311},
                    {"button2ClickCount", 407},
                    {"eventButtonPress1", 1},
                    {"eventButtonPress2", 2},
                    {"eventButtonPress3", 3},
                    {"accelMode", 1},
                    {"personalization", 1},
                    {"indicBrightness", 80},
                    {"indicBackType", 2},
                    {"indicBack_hh", 1},
                    {"indicBack_mminute", 2},
                    {"indicBack_ss", 3},
                    {"indicBack_dd", 4},
                    {"indicBack_mmonth", 1},
                    {"indicBack_yy", 2},
                    {"indicBackBatChg", 4},
                    {"indicDuration_hhms", 1000},
                    {"indicDuration_mminute_ms", 1000},
                    {"indicDuration_ss_ms", 500},
                    {"indicDuration_dd_ms", 1000},
                    {"indicDuration_mmonth_ms", 1000},
                    {"indicDuration_yy_ms", 500},
                    {"indicDurationChargems", 2000},
                    {"accelerometerSensitivity", 1},
                    {"startOfUseDaysAgo", 2160}};
    for (const auto &s : settings)
        m.setValue(s.name, s.value);
    memory = defaults;

    if (options.pushClock > 0) {
        pushTimer.setInterval(options.pushClock);
        connect(&pushTimer, &QTimer::timeout, this, [this] {
            memory.setDateTime(SimMemory::DateTimeOffset, clock.now());
            sendRange(SimMemory::DateTimeOffset, SimMemory::DateTimeSize);
        });
        pushTimer.start();
    }
}

QByteArray SimWatch::currentImage()
{
    memory.setDateTime(SimMemory::DateTimeOffset, clock.now());
    return memory.bytes();
}

void SimWatch::handlePacket(quint32 address, const QByteArray &data)
{
    if (address >= SimFirmwareReceiver::FirmwareBase) {
        handleFirmware(address, data);
        return;
    }
    const int offset = int(address);
    if (data.isEmpty() || offset + data.size() > SimMemory::ImageSize) {
        SimConsole::event(QStringLiteral("write-ignored offset=%1 size=%2 reason=out-of-range")
                              .arg(address)
                              .arg(data.size()));
        return;
    }
    if (offset == SimMemory::DeviceCommandOffset && data.size() == 1) {
        handleCommand(quint8(data.at(0)));
        return;
    }
    if (offset == SimMemory::TimeCmdOffset && data.size() == 1) {
        handleTimeCommand(quint8(data.at(0)));
        return;
    }
    handleWrite(offset, data);
}

void SimWatch::handleCommand(int command)
{
    switch (command) {
    case RequestAllData:
        SimConsole::event(QStringLiteral("request-all-data"));
        sendAllData();
        emit allDataSent();
        break;
    case KeyAccepted:
        SimConsole::event(QStringLiteral("key-accepted"));
        break;
    case Attached:
        SimConsole::event(QStringLiteral("attached"));
        break;
    case Deattached:
        SimConsole::event(QStringLiteral("detached"));
        break;
    case ResetToFactory: {
        // The clock keeps running through a reset; everything else returns
        // to the state the watch left the factory in.
        const QDateTime now = clock.now();
        memory = defaults;
        memory.setDateTime(SimMemory::DateTimeOffset, now);
        firmware.reset();
        SimConsole::event(QStringLiteral("factory-reset"));
        sendAllData();
        break;
    }
    case EnterTransportationMode:
        SimConsole::event(QStringLiteral("transportation-mode"));
        break;
    default:
        SimConsole::event(QStringLiteral("command-unknown value=%1").arg(command));
        break;
    }
}

void SimWatch::handleTimeCommand(int action)
{
    const SimClock::StepResult r = clock.step(action);
    const char *word = r == SimClock::StepApplied   ? "applied"
                       : r == SimClock::StepRefused ? "refused"
                                                    : "invalid";
    memory.setDateTime(SimMemory::DateTimeOffset, clock.now());
    SimConsole::event(QStringLiteral("timecmd action=%1 result=%2 time=%3")
                          .arg(action)
                          .arg(QLatin1String(word))
                          .arg(SimMemory::formatDateTime(clock.now())));
    sendRange(SimMemory::DateTimeOffset, SimMemory::DateTimeSize);
}

bool SimWatch::overlaps(int offset, int size, int fieldOffset, int fieldSize) const
{
    return offset < fieldOffset + fieldSize && fieldOffset < offset + size;
}

void SimWatch::handleWrite(int offset, const QByteArray &data)
{
    const QByteArray before = currentImage();
    memory.replace(offset, data);
    // Command registers are write-only and always read back as zero.
    memory.replace(SimMemory::DeviceCommandOffset, QByteArray(1, '\0'));
    memory.replace(SimMemory::TimeCmdOffset, QByteArray(1, '\0'));

    const QByteArray after = memory.bytes();
    const bool syncOn = after.at(SimMemory::SyncFlagOffset) != '\0';
    const bool touchesSyncTime =
        overlaps(offset, data.size(), SimMemory::SyncTimeOffset, SimMemory::DateTimeSize);
    const bool touchesOffset = overlaps(offset, data.size(), SimMemory::TimeOffsetOffset, 2);
    if (!syncOn && (touchesSyncTime || touchesOffset)) {
        // With synchronisation switched off the watch keeps its own time.
        memory.replace(SimMemory::SyncTimeOffset,
                       before.mid(SimMemory::SyncTimeOffset, SimMemory::DateTimeSize));
        memory.replace(SimMemory::TimeOffsetOffset, before.mid(SimMemory::TimeOffsetOffset, 2));
        SimConsole::event(QStringLiteral("write-ignored offset=%1 size=%2 reason=sync-off")
                              .arg(offset)
                              .arg(data.size()));
    }
    const SimMemory::Field *f = SimMemory::fieldAt(offset);
    if (f && f->size == data.size()) {
        SimConsole::event(QStringLiteral("write offset=%1 size=%2 name=%3 value=%4")
                              .arg(offset)
                              .arg(data.size())
                              .arg(QLatin1String(f->name))
                              .arg(SimMemory::formatValue(*f, data)));
    } else {
        SimConsole::event(QStringLiteral("write offset=%1 size=%2 name=- value=%3")
                              .arg(offset)
                              .arg(data.size())
                              .arg(QString::fromLatin1(data.toHex())));
    }

    bool clockChanged = false;
    if (overlaps(offset, data.size(), SimMemory::DateTimeOffset, SimMemory::DateTimeSize)) {
        const QDateTime dt = memory.dateTime(SimMemory::DateTimeOffset);
        if (dt.isValid())
            clock.set(dt);
        clockChanged = true;
    }
    if (syncOn && touchesSyncTime) {
        const QDateTime dt = memory.dateTime(SimMemory::SyncTimeOffset);
        if (dt.isValid()) {
            clock.set(dt);
            clockChanged = true;
        }
        SimConsole::event(QStringLiteral("sync time=%1 offset=%2")
                              .arg(SimMemory::formatDateTime(dt))
                              .arg(qint16(memory.value("timeOffset"))));
    }
    memory.setDateTime(SimMemory::DateTimeOffset, clock.now());
    sendRange(offset, data.size());
    if (clockChanged &&
        !overlaps(offset, data.size(), SimMemory::DateTimeOffset, SimMemory::DateTimeSize))
        sendRange(SimMemory::DateTimeOffset, SimMemory::DateTimeSize);
}

void SimWatch::handleFirmware(quint32 address, const QByteArray &data)
{
    const SimFirmwareReceiver::Result r = firmware.take(address, data);
    if (r.gap) {
        SimConsole::event(QStringLiteral("firmware bad reason=gap address=0x%1 size=%2")
                              .arg(address, 0, 16)
                              .arg(data.size()));
    } else if (r.ok) {
        SimConsole::event(
            QStringLiteral("firmware ok size=%1 crc=%2").arg(r.imageSize).arg(hex8(r.computed)));
    } else {
        SimConsole::event(QStringLiteral("firmware bad size=%1 crc=%2 stored=%3")
                              .arg(r.imageSize)
                              .arg(hex8(r.computed), hex8(r.stored)));
    }
}

void SimWatch::sendAllData()
{
    // The identity block and the settings travel as two packets, each
    // several fragments long.
    currentImage();
    sendRange(0, SimMemory::CatalogueOffset);
    sendRange(SimMemory::CatalogueOffset, SimMemory::ImageSize - SimMemory::CatalogueOffset);
}

void SimWatch::sendRange(int offset, int size)
{
    emit sendPacket(quint32(offset), memory.mid(offset, size));
}
