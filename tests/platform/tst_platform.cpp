#include "app/slapplogic.h"
#include "app/taskbarutility.h"
#include "platform/platform.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

static const char kEntry[] = "/autostart/com.corvane.watch.desktop";

class TstPlatform : public QObject
{
    Q_OBJECT
private slots:
    void hostKey_data();
    void hostKey();
    void autostartEntryLifeCycle();

private:
    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QTemporaryDir m_dir;
};

void TstPlatform::hostKey_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expectedHex");
    // Digests from sha1sum over the identifier followed by one zero byte.
    const QString id32 = "ad7e14eb37fa48cb44aba9753cd8ee24d8fa871e";
    QTest::newRow("newline") << QByteArray("0123456789abcdef0123456789abcdef\n") << id32;
    QTest::newRow("no newline") << QByteArray("0123456789abcdef0123456789abcdef") << id32;
    QTest::newRow("36 characters") << QByteArray("3f2504e0-4f89-11d3-9a0c-0305e82c3301\n")
                                   << "34be0684faf6fdcb186fb818be2f94dcbb6c73be";
    QTest::newRow("only a newline") << QByteArray("\n") << QString();
    // An override naming no file gives no key, never the system's.
    QTest::newRow("absent") << QByteArray() << QString();
}

void TstPlatform::hostKey()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedHex);
    const QString path = m_dir.filePath(QTest::currentDataTag());
    if (!content.isNull())
        writeFile(path, content);
    qputenv("CORVANE_MACHINE_ID_FILE", path.toUtf8());
    QCOMPARE(SlAppLogic().host_key(), expectedHex);
}

void TstPlatform::autostartEntryLifeCycle()
{
    const QString config = m_dir.filePath("config");
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    const auto entryBytes = [] {
        QFile file(Platform::autostartLocation());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    SlAppLogic hub;
    QSignalSpy spy(&hub, &SlAppLogic::autorunChanged);
    hub.setAutorun(true);
    QCOMPARE(spy.count(), 1);
    QSettings entry(config + kEntry, QSettings::IniFormat);
    QCOMPARE(entry.value("Desktop Entry/Type").toString(), QStringLiteral("Application"));
    QVERIFY(!entry.value("Desktop Entry/Name").toString().isEmpty());
    const QByteArray exec =
        "\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" --hidden\n";
    QVERIFY2(entryBytes().contains(exec), entryBytes().constData());

    // The hub leaves an entry that is already there alone; the utility always rewrites it.
    writeFile(config + kEntry, "kept");
    hub.setAutorun(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(entryBytes(), QByteArray("kept"));
    TaskBarUtility::setAutorun(true);
    QVERIFY(entryBytes().contains(exec));

    hub.setAutorun(false);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!QFile::exists(config + kEntry));
    QVERIFY(Platform::setAutorun(false));

    // Without XDG_CONFIG_HOME the entry goes below the home folder, made when missing.
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", m_dir.filePath("home").toUtf8());
    QVERIFY(Platform::setAutorun(true));
    QVERIFY(QFile::exists(m_dir.filePath("home/.config") + kEntry));
}

QTEST_GUILESS_MAIN(TstPlatform)
#include "tst_platform.moc"
