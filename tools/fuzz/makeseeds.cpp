// Writes the fuzz targets' starting corpora with the program's own encoders, so
// the seeds follow the formats as the code knows them instead of living in the
// tree as binary files.
//   fuzz-make-seeds OUTDIR    one folder per target under OUTDIR
#include "crypto/slaesenvelope.h"
#include "device/fheader.h"
#include "device/slwfragmentator.h"
#include "storage/sldevicerecord.h"
#include "web/sluser.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstdio>

namespace {

QString outRoot;

bool put(const QString &target, const QString &name, const QByteArray &bytes)
{
    const QString folder = outRoot + QLatin1Char('/') + target;
    if (!QDir().mkpath(folder))
        return false;
    QFile file(folder + QLatin1Char('/') + name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The fragments the watch sends for one packet, each a whole report.
QByteArray fragmentsOf(const QByteArray &payload, quint32 offset)
{
    const int max = SlWFragmentator::MaxPayload;
    const int count = qMax(1, (payload.size() + max - 1) / max);
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        FHeader header;
        header.index = quint16(i);
        header.count = quint16(count);
        header.offset = offset;
        const QByteArray part = payload.mid(i * max, max);
        header.length = quint8(part.size());
        QByteArray fragment = header.toBytes() + part;
        fragment.append(QByteArray(SlWFragmentator::FragmentSize - fragment.size(), '\0'));
        out += fragment;
    }
    return out;
}

QByteArray ntpReply()
{
    QByteArray d(48, '\0');
    d[0] = char((0 << 6) | (4 << 3) | 4); // no leap warning, version 4, server
    d[1] = 2;
    d.replace(12, 4, "GPS\0");
    const quint32 seconds = 3973000000u; // late 2025 in the NTP era
    for (int at = 16; at < 48; at += 8) {
        qToBigEndian<quint32>(seconds + quint32(at), d.data() + at);
        qToBigEndian<quint32>(0x80000000u, d.data() + at + 4);
    }
    return d;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    outRoot = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    const QByteArray shortPacket = fragmentsOf("hello", 0x10);
    const QByteArray longPacket = fragmentsOf(QByteArray(100, 'x'), 0x200);
    for (char reads : {'\0', '\3'}) {
        ok &= put("fragment_hid", QStringLiteral("short%1").arg(int(reads)), reads + shortPacket);
        ok &= put("fragment_hid", QStringLiteral("long%1").arg(int(reads)), reads + longPacket);
    }
    for (char cut : {'\x06', '\x1f', '\x40'})
        ok &= put("fragment_stream", QStringLiteral("cut%1").arg(int(cut)),
                  cut + shortPacket + longPacket);

    // The basic block as the watch lays it out: ids, version, serial, two keys.
    QByteArray block;
    block += QByteArray::fromHex("9d09") + QByteArray::fromHex("03010000");
    block += QByteArray("TR31-000123").leftJustified(30, '\0');
    block += QByteArray(24, 'D') + QByteArray(24, 'S') + QByteArray(1, '\0');
    ok &= put("gadget", QStringLiteral("basic"), fragmentsOf(block, 0));
    ok &= put("gadget", QStringLiteral("twice"), fragmentsOf(block, 0) + fragmentsOf("TR31-9", 6));

    const struct
    {
        int type;
        QByteArray bytes;
    } fields[] = {{1, "\x80"},        {2, "\xff"},      {3, "\x01\x80"},
                  {4, "\xff\xff"},    {5, "-12345"},    {6, "4294967295"},
                  {7, "true"},        {8, "Latin"},     {9, "\xc3\xa9t\xc3\xa9"},
                  {10, "2026-12-07"}, {11, "23:59:59"}, {12, "2026-12-07T12:00:00"},
                  {13, "a,b"}};
    for (const auto &field : fields)
        ok &= put("property", QStringLiteral("type%1").arg(field.type),
                  char(field.type) + field.bytes);

    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    for (int mode : {int(SlAesEnvelope::MODE_PLAIN), int(SlAesEnvelope::MODE_DIGEST)}) {
        const SlAesEnvelope aes(key, mode);
        ok &= put("envelope", QStringLiteral("mode%1").arg(mode),
                  char(mode) + aes.encrypt("a sealed value of some length"));
        ok &= put("envelope", QStringLiteral("empty%1").arg(mode), char(mode) + aes.encrypt({}));
    }

    ok &= put("ntpreply", QStringLiteral("server"), ntpReply());

    SlUser user;
    QByteArray userBytes;
    QDataStream userStream(&userBytes, QIODevice::WriteOnly);
    userStream << user;
    QByteArray versionBytes;
    QDataStream(&versionBytes, QIODevice::WriteOnly) << qint32(1) << qint32(3) << qint32(9);
    ok &= put("settings", QStringLiteral("user"), '\0' + userBytes);
    ok &= put("settings", QStringLiteral("version"), '\1' + versionBytes);
    ok &= put("settings", QStringLiteral("firstrun"), QByteArray("\2\1", 2));
    ok &= put("settings", QStringLiteral("link"), "\3https://example.invalid/a");
    ok &= put("settings", QStringLiteral("record"), '\0' + SlDeviceRecord().toStoredForm());

    ok &= put("jobreply", QStringLiteral("job"),
              R"({"current_job_list": [{"id": "0f0e0d0c-0b0a-0908-0706-050403020100",
                  "state": "PENDING", "time": "2024-01-02T03:04:05.006Z",
                  "document": {"parameters": {"indicBrightness": "77"}}}]})");
    ok &= put("jobreply", QStringLiteral("none"), R"({"current_job_list": []})");
    ok &= put("versions", QStringLiteral("app"), "1.3.10");
    ok &= put("versions", QStringLiteral("firmware"), "20200315");
    // Type byte (the request type plus one), status byte (an index: 0 is 200, 1 is 201, 2 is
    // 400, 3 is 406), then the body.
    ok &= put("webreply", QStringLiteral("login"),
              QByteArray("\x02\x00") + R"({"customer": {"email": "a@b.c", "token": "t"}})");
    ok &= put("webreply", QStringLiteral("firmware"),
              QByteArray("\x0a\x00") +
                  R"({"firmware_versions": [{"version": "20200316", "file": "/f.bin"}]})");
    ok &= put("webreply", QStringLiteral("errors"),
              QByteArray("\x01\x02") + R"({"errors": {"email": ["taken"]}})");
    ok &= put("webreply", QStringLiteral("signature"), QByteArray("\x07\x03Signature wrong"));

    return ok ? 0 : 1;
}
