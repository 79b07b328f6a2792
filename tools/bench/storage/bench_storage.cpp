// How the settings database's cost grows with what it holds: the statistics queue after a long
// time offline (1, 1 000, 100 000 entries) and the records of every watch ever registered
// (1, 100, 10 000). For each size: the time to open the database and read what a start reads,
// the memory that takes, and the time of the operation a user waits for.
//
//   bench_storage [--quick]      (--quick: the two smaller sizes only)

#include "storage/sldevicerecord.h"
#include "storage/slwatchsettings.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QByteArray kStorageKey(24, '\x5a');

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// The connection the settings object opened, to fill it inside one transaction: one commit
// (and one sync to disk) per entry would make the large sizes take hours.
QSqlDatabase connectionOf(const SlWatchSettings &)
{
    const QStringList names = QSqlDatabase::connectionNames();
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("corvane-settings-")))
            return QSqlDatabase::database(name, false);
    }
    return QSqlDatabase();
}

SlDeviceRecord record(int i)
{
    SlDeviceRecord r;
    r.serial = QStringLiteral("TR31-%1").arg(i, 8, 10, QLatin1Char('0'));
    r.deviceKey = QByteArray(24, char(i));
    r.serverKey = QByteArray(24, char(i + 1));
    r.userId = 42;
    r.produced = QDateTime(QDate(2026, 1, 2), QTime(3, 4));
    r.activated = r.produced;
    return r;
}

// A statistics model of the size the watch reports: a few dozen counters.
QVariantMap statistics(int i)
{
    QVariantMap model;
    for (int k = 0; k < 40; ++k)
        model.insert(QStringLiteral("counter%1").arg(k), i * 40 + k);
    return model;
}

std::unique_ptr<SlWatchSettings> openSettings(const QTemporaryDir &dir)
{
    return std::make_unique<SlWatchSettings>(dir.path(), QString(), kStorageKey);
}

// The resident memory a start adds, measured in a fresh process of this program, where the
// filling has not grown the heap already.
long startKiBInChild(const QTemporaryDir &dir, const char *what)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--start-only"), dir.path(), QString::fromLatin1(what)});
    if (!child.waitForFinished(60000))
        return -1;
    return child.readAllStandardOutput().trimmed().toLong();
}

int startOnly(const QString &folder, const QString &what)
{
    const long before = rssKiB();
    SlWatchSettings settings(folder, QString(), kStorageKey);
    if (what == QLatin1String("queue")) {
        QVariantMap model;
        SlDeviceRecord head;
        settings.peekStatistics(model, head);
    } else {
        settings.isFirstRun();
    }
    std::printf("%ld\n", rssKiB() - before);
    return 0;
}

void queue(int size)
{
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    {
        auto settings = openSettings(dir);
        QSqlDatabase db = connectionOf(*settings);
        db.transaction();
        for (int i = 0; i < size; ++i)
            settings->pushStatistics(statistics(i), record(i % 7));
        db.commit();
    }
    const double fillMs = msSince(timer);

    // A start that then serves the first connection: open, read the head of the queue.
    std::vector<double> starts;
    const long rssDelta = startKiBInChild(dir, "queue");
    for (int run = 0; run < 5; ++run) {
        timer.start();
        auto settings = openSettings(dir);
        QVariantMap model;
        SlDeviceRecord head;
        const bool found = settings->peekStatistics(model, head);
        starts.push_back(msSince(timer));
        if (!found)
            std::printf("  (queue head not readable)\n");
    }

    // The uploader's step after an accepted upload: remove the head, read the next one. The
    // entry is put back at the tail, unmeasured, so the queue keeps its size.
    auto settings = openSettings(dir);
    std::vector<double> pops;
    for (int run = 0; run < std::min(size, 20); ++run) {
        QVariantMap model;
        SlDeviceRecord head;
        settings->peekStatistics(model, head);
        timer.start();
        settings->popStatistics();
        settings->peekStatistics(model, head);
        pops.push_back(msSince(timer));
        settings->pushStatistics(statistics(run), record(run));
    }
    const qint64 fileKiB = QFileInfo(settings->path()).size() / 1024;
    std::printf("%-28s %8d %10.1f %12.2f %10ld %14.2f %10lld\n", "statistics queue", size, fillMs,
                median(starts), rssDelta, median(pops), fileKiB);
}

void devices(int size)
{
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    {
        auto settings = openSettings(dir);
        QSqlDatabase db = connectionOf(*settings);
        db.transaction();
        for (int i = 0; i < size; ++i)
            settings->saveDevice(record(i));
        db.commit();
    }
    const double fillMs = msSince(timer);

    // A start reads settings, not device records.
    std::vector<double> starts;
    const long rssDelta = startKiBInChild(dir, "devices");
    for (int run = 0; run < 5; ++run) {
        timer.start();
        auto settings = openSettings(dir);
        settings->isFirstRun();
        starts.push_back(msSince(timer));
    }

    // Finding one record by serial, as a registration does before it replaces the record: the
    // query alone, and the whole save (find, replace, commit).
    auto settings = openSettings(dir);
    QSqlDatabase db = connectionOf(*settings);
    std::vector<double> finds, saves;
    for (int run = 0; run < 20; ++run) {
        const SlDeviceRecord r = record(int((qint64(run) * 7919) % size));
        timer.start();
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT rowid,data FROM Devices WHERE serial=(?)"));
        query.addBindValue(QCryptographicHash::hash(r.serial.toLatin1(), QCryptographicHash::Md5));
        query.exec();
        const bool found = query.next();
        finds.push_back(msSince(timer));
        if (!found)
            std::printf("  (record %s not found)\n", qPrintable(r.serial));
        timer.start();
        settings->saveDevice(r);
        saves.push_back(msSince(timer));
    }
    const qint64 fileKiB = QFileInfo(settings->path()).size() / 1024;
    std::printf("%-28s %8d %10.1f %12.2f %10ld %14.3f %10lld   save %.2f ms\n", "device records",
                size, fillMs, median(starts), rssDelta, median(finds), fileKiB, median(saves));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() == 4 && app.arguments().at(1) == QLatin1String("--start-only"))
        return startOnly(app.arguments().at(2), app.arguments().at(3));
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    std::printf("%-28s %8s %10s %12s %10s %14s %10s\n", "", "entries", "fill ms", "start ms",
                "start KiB", "pop/find ms", "file KiB");
    for (int size : {1, 1000, 100000}) {
        if (!quick || size < 100000)
            queue(size);
    }
    for (int size : {1, 100, 10000}) {
        if (!quick || size < 10000)
            devices(size);
    }
    std::printf(
        "\nstart: open the database and read the queue's head (queue) or one setting "
        "(devices), median of 5;\nstart KiB: resident memory the start added, in a fresh process; "
        "pop: remove the head and read the next, median of 20;\nfind: the lookup by "
        "serial a registration does, median of 20; save: the whole replacement.\n");
    return 0;
}
