#pragma once

#include <QObject>
#include <QString>

class QDataStream;

// The account of the person using the program on the web service.
class SlUser : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(qlonglong id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)
    Q_PROPERTY(bool isValid READ isValid NOTIFY isValidChanged)

public:
    explicit SlUser(QObject *parent = nullptr);

    QString name() const { return m_name; }
    QString email() const { return m_email; }
    qlonglong id() const { return m_id; }
    bool isActive() const { return m_isActive; }

    // Sets every field and announces each of them, then the validity.
    void assign(const QString &name, const QString &email, qlonglong id, bool isActive);

signals:
    void nameChanged(QString name);
    void emailChanged(QString email);
    void idChanged(qlonglong id);
    // Carries the new isActive value as 0 or 1.
    void isActiveChanged(qlonglong id);
    void isValidChanged(bool isValid);

public slots:
    void setName(QString name);
    void setEmail(QString email);
    void setId(qlonglong id);
    void setIsActive(bool isActive);

public:
    Q_INVOKABLE bool isValid() const;

private:
    QString m_name;
    QString m_email;
    qlonglong m_id = -1;
    bool m_isActive = false;
};

// The stored form: name, email (QString), id (qint64), isActive (bool).
QDataStream &operator<<(QDataStream &stream, const SlUser &user);
// Fields that cannot be read keep their previous values.
QDataStream &operator>>(QDataStream &stream, SlUser &user);
