#include "web/sluser.h"

#include <QDataStream>
#include <QtTest>

namespace {

// Every signal of one user in emission order, with its argument.
class Recorder : public QObject
{
public:
    explicit Recorder(SlUser *user)
    {
        connect(user, &SlUser::nameChanged, this,
                [this](const QString &v) { events << "name:" + v; });
        connect(user, &SlUser::emailChanged, this,
                [this](const QString &v) { events << "email:" + v; });
        connect(user, &SlUser::idChanged, this,
                [this](qlonglong v) { events << QStringLiteral("id:%1").arg(v); });
        connect(user, &SlUser::isActiveChanged, this,
                [this](qlonglong v) { events << QStringLiteral("isActive:%1").arg(v); });
        connect(user, &SlUser::isValidChanged, this, [this](bool v) {
            events << QStringLiteral("isValid:%1").arg(v ? "true" : "false");
        });
    }
    QStringList take()
    {
        QStringList out = events;
        events.clear();
        return out;
    }
    QStringList events;
};

QByteArray stored(const SlUser &user)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << user;
    return data;
}

} // namespace

class TestSlUser : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void storedForm_data();
    void storedForm();
    void validity_data();
    void validity();
    void assignAnnouncesEverything();
    void slotsAnnounceEveryCall();
    void readingAnnouncesEachField();
    void damagedEntryKeepsUnreadFields();
};

void TestSlUser::initialState()
{
    SlUser user;
    QCOMPARE(user.name(), QString());
    QCOMPARE(user.email(), QString());
    QCOMPARE(user.id(), -1);
    QVERIFY(!user.isActive());
    QVERIFY(!user.isValid());
}

void TestSlUser::storedForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<qlonglong>("id");
    QTest::addColumn<bool>("active");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("active account") << "Ann"
                                    << "a@b" << 7LL << true
                                    << QByteArray::fromHex("00000006"
                                                           "0041006e006e"
                                                           "00000006"
                                                           "00610040"
                                                           "0062"
                                                           "0000000000000007"
                                                           "01");
    // A null string is marked by an all-ones length; an empty one by zero.
    QTest::newRow("logged out") << QString() << QString("") << -1LL << false
                                << QByteArray::fromHex("ffffffff"
                                                       "00000000"
                                                       "ffffffffffffffff"
                                                       "00");
    QTest::newRow("non-Latin name, large id")
        << QString::fromUtf8("\xc3\x9c") << "x" << 0x0102030405060708LL << false
        << QByteArray::fromHex("00000002"
                               "00dc"
                               "00000002"
                               "0078"
                               "0102030405060708"
                               "00");
}

void TestSlUser::storedForm()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(qlonglong, id);
    QFETCH(bool, active);
    QFETCH(QByteArray, bytes);

    SlUser user;
    user.assign(name, email, id, active);
    QCOMPARE(stored(user).toHex(), bytes.toHex());

    SlUser back;
    QDataStream stream(bytes);
    stream >> back;
    QCOMPARE(stream.status(), QDataStream::Ok);
    QCOMPARE(back.name(), name);
    QCOMPARE(back.name().isNull(), name.isNull());
    QCOMPARE(back.email(), email);
    QCOMPARE(back.id(), id);
    QCOMPARE(back.isActive(), active);
}

void TestSlUser::validity_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<qlonglong>("id");
    QTest::addColumn<bool>("valid");

    QTest::newRow("complete") << "Ann"
                              << "a@b" << 5LL << true;
    QTest::newRow("id 0 counts") << "Ann"
                                 << "a@b" << 0LL << true;
    QTest::newRow("no id") << "Ann"
                           << "a@b" << -1LL << false;
    QTest::newRow("no name") << ""
                             << "a@b" << 5LL << false;
    QTest::newRow("no email") << "Ann"
                              << "" << 5LL << false;
}

void TestSlUser::validity()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(qlonglong, id);
    QFETCH(bool, valid);

    SlUser user;
    QSignalSpy spy(&user, &SlUser::isValidChanged);
    user.assign(name, email, id, false);
    QCOMPARE(user.isValid(), valid);
    QCOMPARE(user.property("isValid").toBool(), valid);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), valid);
}

void TestSlUser::assignAnnouncesEverything()
{
    SlUser user;
    Recorder rec(&user);
    user.assign("Ann", "a@b", 3, true);
    user.assign("Ann", "a@b", 3, true);
    const QStringList once = {"name:Ann", "email:a@b", "id:3", "isActive:1", "isValid:true"};
    QCOMPARE(rec.take(), once + once);

    // Logging out: the empty account, still every signal.
    user.assign(QString(), QString(), -1, false);
    QCOMPARE(rec.take(), QStringList({"name:", "email:", "id:-1", "isActive:0", "isValid:false"}));
}

void TestSlUser::slotsAnnounceEveryCall()
{
    SlUser user;
    user.assign("Ann", "a@b", 3, false);
    Recorder rec(&user);
    user.setEmail(QString());
    QVERIFY(!user.isValid());
    user.setId(3);
    user.setIsActive(false);
    user.setName("Ann");
    // Validity changed above, yet the slots never announce it.
    QCOMPARE(rec.take(), QStringList({"email:", "id:3", "isActive:0", "name:Ann"}));
}

void TestSlUser::readingAnnouncesEachField()
{
    SlUser source;
    source.assign("Bob", "b@c", 12, true);
    const QByteArray data = stored(source);

    SlUser user;
    Recorder rec(&user);
    QDataStream stream(data);
    stream >> user;
    QCOMPARE(rec.take(), QStringList({"name:Bob", "email:b@c", "id:12", "isActive:1"}));
    QVERIFY(user.isValid());
}

void TestSlUser::damagedEntryKeepsUnreadFields()
{
    SlUser source;
    source.assign("Bob", "b@c", 12, true);
    const QByteArray data = stored(source);

    // Cut after the name and half of the e-mail address.
    SlUser user;
    user.assign("Old", "old@x", 1, false);
    Recorder rec(&user);
    QDataStream stream(data.left(4 + 6 + 4 + 3));
    stream >> user;
    QCOMPARE(rec.take(), QStringList({"name:Bob"}));
    QCOMPARE(user.name(), QStringLiteral("Bob"));
    QCOMPARE(user.email(), QStringLiteral("old@x"));
    QCOMPARE(user.id(), 1);

    // Cut inside the id: name and e-mail address are taken, the rest is kept.
    SlUser other;
    other.assign("Old", "old@x", 1, false);
    QDataStream stream2(data.left(data.size() - 3));
    stream2 >> other;
    QCOMPARE(other.email(), QStringLiteral("b@c"));
    QCOMPARE(other.id(), 1);
    QVERIFY(!other.isActive());
}

QTEST_GUILESS_MAIN(TestSlUser)
#include "tst_sluser.moc"
