#include "slpasswordmanipulator.h"

#include <QDebug>

SlPasswordManipulator::SlPasswordManipulator(QObject *parent)
    : QObject(parent)
{}

void SlPasswordManipulator::fitText()
{
    if (m_text.size() > m_digits)
        m_text.truncate(m_digits);
    else
        m_text = m_text.leftJustified(m_digits, QLatin1Char(' '));
    emit isClearChanged(isClear());
}

bool SlPasswordManipulator::allDigits() const
{
    for (const QChar c : m_text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

int SlPasswordManipulator::textValue() const
{
    // A PIN too long for an int has no number, so it cannot count as valid;
    // neither has an empty one.
    bool ok = false;
    const int number = m_text.toInt(&ok, 10);
    return allDigits() && ok ? number : -1;
}

void SlPasswordManipulator::setValue(int value)
{
    if (m_value == value)
        return;
    m_value = value;
    emit valueChanged(m_value);
}

void SlPasswordManipulator::setDigits(int digits)
{
    if (digits < 0) {
        qDebug() << "SlPasswordManipulator::setDigits: negative digit count" << digits;
        return;
    }
    if (digits == m_digits)
        return;
    m_digits = digits;
    const QString before = m_text;
    const bool wasValid = isValid();
    fitText();
    emit digitsChanged(m_digits);
    // Cutting or widening the PIN changes what it spells, so the text and
    // the number must follow or bindings would show the old PIN.
    if (m_text != before) {
        setValue(textValue());
        if (isValid() != wasValid)
            emit isValidChanged(isValid());
        emit textChanged(m_text);
    }
}

void SlPasswordManipulator::clear()
{
    if (!m_text.isEmpty()) {
        m_text.clear();
        emit textChanged(m_text);
    }
    setValue(-1);
    emit isClearChanged(true);
    emit isValidChanged(false);
}

void SlPasswordManipulator::digitManipulate(int digit, bool up)
{
    if (digit < 0 || digit >= m_digits) {
        qDebug() << "SlPasswordManipulator::digitManipulate: position" << digit << "outside 0 to"
                 << m_digits - 1;
        return;
    }
    fitText();
    const QChar current = m_text.at(digit);
    int next;
    if (current >= QLatin1Char('0') && current <= QLatin1Char('9')) {
        const int d = current.digitValue();
        next = up ? (d + 1) % 10 : (d + 9) % 10;
    } else {
        next = up ? 0 : 9;
    }
    m_text[digit] = QLatin1Char(char('0' + next));

    setValue(textValue());
    emit isValidChanged(isValid());
    emit textChanged(m_text);
}
