#include "web/sluser.h"

#include <QDataStream>
#include <QtTest>

// Appends every signal of the user to events, in emission order.
static void record(SlUser &user, QString &events)
{
    auto on = [&](auto signal, const char *name) {
        QObject::connect(&user, signal, [&events, name](const QVariant &v) {
            events += QStringLiteral("%1=%2;").arg(name, v.toString());
        });
    };
    on(&SlUser::nameChanged, "name");
    on(&SlUser::emailChanged, "email");
    on(&SlUser::idChanged, "id");
    on(&SlUser::isActiveChanged, "isActive");
    on(&SlUser::isValidChanged, "isValid");
}

static QByteArray stored(const SlUser &user)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << user;
    return data;
}

class TestSlUser : public QObject
{
    Q_OBJECT

private slots:
    void storedForm();
    void signalsAndValidity();
};

void TestSlUser::storedForm()
{
    // UTF-16 strings with a 32-bit length, a 64-bit id and a one-byte flag; a
    // null string is marked by an all-ones length, an empty one by zero.
    SlUser ann, nobody;
    ann.assign("Ann", "a@b", 7, true);
    nobody.assign(QString(), QString(""), -1, false);
    const std::pair<const SlUser *, const char *> forms[] = {
        {&ann, "000000060041006e006e00000006006100400062000000000000000701"},
        {&nobody, "ffffffff00000000ffffffffffffffff00"}};
    for (const auto &form : forms) {
        QCOMPARE(stored(*form.first).toHex(), QByteArray(form.second));
        SlUser back;
        back.assign("Old", "old@x", 1, !form.first->isActive());
        QDataStream stream(QByteArray::fromHex(form.second));
        stream >> back;
        QCOMPARE(stream.status(), QDataStream::Ok);
        QCOMPARE(stored(back).toHex(), QByteArray(form.second));
    }
    // Bytes cut off the end (in the e-mail address, in the id, the flag) and the fields taken:
    // those behind the damage must not be blanked.
    const std::pair<int, const char *> cuts[] = {
        {13, "name=Ann;"}, {3, "name=Ann;email=a@b;"}, {1, "name=Ann;email=a@b;id=7;"}};
    for (const auto &cut : cuts) {
        SlUser user;
        QString events;
        record(user, events);
        QDataStream stream(stored(ann).chopped(cut.first));
        stream >> user;
        QCOMPARE(events, cut.second);
    }
}

void TestSlUser::signalsAndValidity()
{
    SlUser user;
    QString events;
    record(user, events);
    // Even an unchanged value is announced again.
    const QString once = "name=Ann;email=a@b;id=0;isActive=1;isValid=true;";
    user.assign("Ann", "a@b", 0, true);
    user.assign("Ann", "a@b", 0, true);
    QCOMPARE(std::exchange(events, QString()), once + once);

    // The slots announce their own field only, even when validity changes.
    user.setEmail(QString());
    user.setId(0);
    user.setIsActive(false);
    user.setName("Ann");
    QVERIFY(!user.isValid());
    QCOMPARE(std::exchange(events, QString()), "email=;id=0;isActive=0;name=Ann;");

    // Nor is an account without a name or with a negative id.
    user.assign("", "a@b", 5, false);
    user.assign("Ann", "a@b", -1, false);
    QCOMPARE(events.count("isValid=false"), 2);
}

QTEST_GUILESS_MAIN(TestSlUser)
#include "tst_sluser.moc"
