#include "sluser.h"

#include <QDataStream>

SlUser::SlUser(QObject *parent)
    : QObject(parent)
{}

bool SlUser::isValid() const
{
    return !m_email.isEmpty() && !m_name.isEmpty() && m_id >= 0;
}

void SlUser::setName(QString name)
{
    m_name = name;
    emit nameChanged(m_name);
}

void SlUser::setEmail(QString email)
{
    m_email = email;
    emit emailChanged(m_email);
}

void SlUser::setId(qlonglong id)
{
    m_id = id;
    emit idChanged(m_id);
}

void SlUser::setIsActive(bool isActive)
{
    m_isActive = isActive;
    emit isActiveChanged(m_isActive ? 1 : 0);
}

void SlUser::assign(const QString &name, const QString &email, qlonglong id, bool isActive)
{
    setName(name);
    setEmail(email);
    setId(id);
    setIsActive(isActive);
    emit isValidChanged(isValid());
}

QDataStream &operator<<(QDataStream &stream, const SlUser &user)
{
    stream << user.name() << user.email() << qint64(user.id()) << user.isActive();
    return stream;
}

QDataStream &operator>>(QDataStream &stream, SlUser &user)
{
    // Each field is taken only when it was read whole; a cut or damaged entry
    // must not blank the fields behind the damage.
    QString name;
    stream >> name;
    if (stream.status() != QDataStream::Ok)
        return stream;
    user.setName(name);

    QString email;
    stream >> email;
    if (stream.status() != QDataStream::Ok)
        return stream;
    user.setEmail(email);

    qint64 id = -1;
    stream >> id;
    if (stream.status() != QDataStream::Ok)
        return stream;
    user.setId(id);

    bool isActive = false;
    stream >> isActive;
    if (stream.status() != QDataStream::Ok)
        return stream;
    user.setIsActive(isActive);
    return stream;
}
