#include "app/typeregistry.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QScopedPointer>
#include <QtTest>

// The interface reaches the program's classes only through these names.
class TstTypeRegistry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void creatableFromQml_data();
    void creatableFromQml();
    void missingSingletonFileFailsAtImportOnly();

private:
    QQmlEngine m_engine;
};

void TstTypeRegistry::initTestCase()
{
    registerInterfaceTypes();
}

void TstTypeRegistry::creatableFromQml_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    const struct
    {
        const char *module, *name, *className;
    } rows[] = {
        {"sl.watch.image", "WatchImage", "SlWatchImage"},
        {"sl.watch.logic", "TaskBarUtility", "TaskBarUtility"},
        {"sl.watch.logic", "SlProperty", "SlProperty"},
        {"sl.watch.logic", "StatModelTranslator", "SlStatModelTranslator"},
        {"sl.private.helper", "Helper", "SlHelper"},
        {"sl.watch.logic", "GGadget", "GGadget"},
        {"sl.watch.server", "SlWebService", "SlWebService"},
        {"sl.watch.logic", "SlWatchBanner", "SlWatchBanner"},
        {"sl.watch.logic", "SlUser", "SlUser"},
        {"sl.watch.logic", "TimeSync", "SlTimeSync"},
        {"sl.watch.logic", "PasswordManipulator", "SlPasswordManipulator"},
        {"sl.watch.logic", "TimeManipulator", "SlTimeManipulator"},
        {"sl.watch.ntp", "NTPClient", "SlNTPClient"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.module) << QString::fromLatin1(row.name)
                                << QString::fromLatin1(row.className);
}

void TstTypeRegistry::creatableFromQml()
{
    QFETCH(QString, module);
    QFETCH(QString, name);
    QFETCH(QString, className);
    QQmlComponent component(&m_engine);
    component.setData(QStringLiteral("import %1 1.0\n%2 {}\n").arg(module, name).toUtf8(),
                      QUrl(QStringLiteral("file:///registry.qml")));
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
}

void TstTypeRegistry::missingSingletonFileFailsAtImportOnly()
{
    // The styles live in the interface's resources, which this test does not
    // link: using the singleton fails, the registration itself did not.
    QQmlComponent component(&m_engine);
    component.setData("import QtQuick 2.14\nimport sl.watch.styles 1.0\n"
                      "Item { property real r: GlobalStyles.scaleRatio }\n",
                      QUrl(QStringLiteral("file:///styles.qml")));
    QScopedPointer<QObject> object(component.create());
    QVERIFY(!object);
    QVERIFY2(component.errorString().contains(QStringLiteral("singletone/GlobalStyles.qml")),
             qPrintable(component.errorString()));
}

QTEST_MAIN(TstTypeRegistry)
#include "tst_typeregistry.moc"
