#pragma once

#include <QWidget>

class QLineEdit;

// IPv4 address editor: four octet fields with a dot between them. A '.' or a
// full octet moves on to the next field; text() is "a.b.c.d" once every field
// holds a value, "" before. Digits of other scripts, typed, pasted or set,
// are held as the ASCII digits they stand for.
class QIPAddressEdit : public QWidget
{
    Q_OBJECT
public:
    explicit QIPAddressEdit(QWidget *parent = nullptr);

    QString text() const;
    // Takes "a.b.c.d" with every part one to three digits, 0..255; anything
    // else (a sign, a blank) clears the fields.
    void setText(const QString &text);
    QLineEdit *field(int i) const { return m_fields[i]; }

    // The names the settings dialogs use. SetValue is setText; GetValue is
    // the four fields exactly as typed, joined by '.' ("010.1.1.1",
    // "192.168.."), or "" when all four are empty.
    void SetValue(const QString &text) { setText(text); }
    QString GetValue() const;

signals:
    void textChanged(const QString &text);
    // GetValue() after every change of a field, SetValue's included.
    void IPValueChanged(const QString &value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onFieldEdited(int i);
    QLineEdit *m_fields[4] = {};
};
