#include "app/slapplogic.h"
#include "app/taskbarutility.h"
#include "platform/platform.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TstPlatform : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void hostKeyFromFile_data();
    void hostKeyFromFile();
    void hostKeyFollowsTheOverride();
    void autostartEntryLifeCycle();
    void hubAutorunChangesOnlyOnDifference();
    void autostartWithoutConfigHome();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    QByteArray entryBytes() const;
    QTemporaryDir m_dir;
};

void TstPlatform::init()
{
    const QString config = m_dir.filePath(QStringLiteral("config"));
    QDir(config).removeRecursively();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
}

QString TstPlatform::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(bytes);
    return path;
}

QByteArray TstPlatform::entryBytes() const
{
    QFile file(Platform::autostartLocation());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TstPlatform::hostKeyFromFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expectedHex");
    // Digests from sha1sum over the identifier followed by one zero byte.
    const QByteArray id32 = "ad7e14eb37fa48cb44aba9753cd8ee24d8fa871e";
    QTest::newRow("machine-id with newline")
        << QByteArray("0123456789abcdef0123456789abcdef\n") << id32;
    QTest::newRow("machine-id without newline")
        << QByteArray("0123456789abcdef0123456789abcdef") << id32;
    QTest::newRow("36 characters hash 37 bytes")
        << QByteArray("3f2504e0-4f89-11d3-9a0c-0305e82c3301\n")
        << QByteArray("34be0684faf6fdcb186fb818be2f94dcbb6c73be");
    QTest::newRow("empty file") << QByteArray() << QByteArray();
    QTest::newRow("only a newline") << QByteArray("\n") << QByteArray();
}

void TstPlatform::hostKeyFromFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expectedHex);
    const QString path = writeFile(QStringLiteral("machine-id"), content);
    const QByteArray key = Platform::hostKeyFromMachineIdFile(path);
    QCOMPARE(key.toHex(), expectedHex);
    QCOMPARE(key.isEmpty() ? 0 : key.size(), expectedHex.isEmpty() ? 0 : 20);
}

void TstPlatform::hostKeyFollowsTheOverride()
{
    const QString path =
        writeFile(QStringLiteral("id"), QByteArray("0123456789abcdef0123456789abcdef\n"));
    qputenv("CORVANE_MACHINE_ID_FILE", path.toUtf8());
    SlAppLogic hub;
    QCOMPARE(hub.host_key(), QStringLiteral("ad7e14eb37fa48cb44aba9753cd8ee24d8fa871e"));
    qputenv("CORVANE_MACHINE_ID_FILE", m_dir.filePath(QStringLiteral("absent")).toUtf8());
    QCOMPARE(hub.host_key(), QString());
    QVERIFY(Platform::hostKey().isEmpty());
    qunsetenv("CORVANE_MACHINE_ID_FILE");
}

void TstPlatform::autostartEntryLifeCycle()
{
    const QString expectedPath = m_dir.filePath(QStringLiteral("config/autostart/"
                                                               "com.corvane.watch.desktop"));
    QCOMPARE(Platform::autostartLocation(), expectedPath);
    QVERIFY(!TaskBarUtility::isAutorun());

    TaskBarUtility::setAutorun(true);
    QVERIFY(TaskBarUtility::isAutorun());
    QSettings entry(expectedPath, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
    QVERIFY(!entry.value(QStringLiteral("Name")).toString().isEmpty());
    const QByteArray bytes = entryBytes();
    const QByteArray exec =
        "\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" --hidden\n";
    QVERIFY2(bytes.contains(exec), bytes.constData());

    // Always rewritten on true, whatever the user left in the file.
    writeFile(QStringLiteral("config/autostart/com.corvane.watch.desktop"), "garbage");
    TaskBarUtility::setAutorun(true);
    QVERIFY(entryBytes().contains(exec));

    TaskBarUtility::setAutorun(false);
    QVERIFY(!QFile::exists(expectedPath));
    QVERIFY(!TaskBarUtility::isAutorun());
    QVERIFY(Platform::setAutorun(false));
}

void TstPlatform::hubAutorunChangesOnlyOnDifference()
{
    SlAppLogic hub;
    QSignalSpy spy(&hub, &SlAppLogic::autorunChanged);
    QVERIFY(!hub.autorun());
    hub.setAutorun(true);
    QCOMPARE(spy.count(), 1);
    QVERIFY(hub.autorun());
    writeFile(QStringLiteral("config/autostart/com.corvane.watch.desktop"), "kept");
    hub.setAutorun(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(entryBytes(), QByteArray("kept"));
    hub.setAutorun(false);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!hub.autorun());
}

void TstPlatform::autostartWithoutConfigHome()
{
    qunsetenv("XDG_CONFIG_HOME");
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.toUtf8());
    QCOMPARE(Platform::autostartLocation(),
             home + QStringLiteral("/.config/autostart/com.corvane.watch.desktop"));
    QVERIFY(Platform::setAutorun(true));
    QVERIFY(QFile::exists(home + QStringLiteral("/.config/autostart/com.corvane.watch.desktop")));
    qputenv("HOME", oldHome);
}

QTEST_GUILESS_MAIN(TstPlatform)
#include "tst_platform.moc"
