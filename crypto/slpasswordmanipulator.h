#pragma once

#include <QObject>
#include <QString>

// Edits a numeric PIN of a fixed number of digits one digit at a time, for the
// PIN entry screen.
class SlPasswordManipulator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY textChanged)
    Q_PROPERTY(int value READ value NOTIFY valueChanged)
    Q_PROPERTY(int digits READ digits WRITE setDigits NOTIFY digitsChanged)
    Q_PROPERTY(bool isValid READ isValid NOTIFY isValidChanged)
    Q_PROPERTY(bool isClear READ isClear NOTIFY isClearChanged)

public:
    explicit SlPasswordManipulator(QObject *parent = nullptr);

    QString text() const { return m_text; }
    int value() const { return m_value; }
    int digits() const { return m_digits; }
    bool isValid() const { return m_value != -1; }
    bool isClear() const { return m_text.isEmpty(); }

signals:
    void textChanged(QString text);
    void valueChanged(int value);
    void digitsChanged(int digits);
    void isValidChanged(bool isValid);
    void isClearChanged(bool isClear);

public slots:
    void setDigits(int digits);
    void clear();
    void digitManipulate(int digit, bool up);

private:
    void fitText();
    bool allDigits() const;
    // The number the text spells, or -1 when it spells none.
    int textValue() const;
    void setValue(int value);

    QString m_text;
    int m_value = -1;
    int m_digits = 0;
};
