#include "platform/widgets/qipaddressedit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

namespace {
// An octet as the editor holds it: one to three digits, never above 255.
// Digits of any script (a fullwidth input method's, say) are taken as the
// ASCII digits they stand for, so that a box never holds what its font may
// not draw and what the address is read as is what the box shows. Null for
// anything else, the empty text included.
QString octetDigits(const QString &typed)
{
    QString digits;
    for (const uint c : typed.toUcs4()) {
        if (QChar::category(c) != QChar::Number_DecimalDigit)
            return QString();
        digits += QLatin1Char(char('0' + QChar::digitValue(c)));
    }
    if (digits.isEmpty() || digits.size() > 3 || digits.toInt() > 255)
        return QString();
    return digits;
}

// What octetDigits() takes; typed digits are put in as ASCII.
class OctetValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        if (input.isEmpty())
            return Intermediate;
        const QString digits = octetDigits(input);
        if (digits.isNull())
            return Invalid;
        input = digits;
        return Acceptable;
    }
};
} // namespace

QIPAddressEdit::QIPAddressEdit(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("octet%1").arg(i));
        edit->setMaxLength(3);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(new OctetValidator(edit));
        edit->installEventFilter(this);
        m_fields[i] = edit;
        layout->addWidget(edit);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { onFieldEdited(i); });
        connect(edit, &QLineEdit::textChanged, this, [this] {
            emit textChanged(text());
            emit IPValueChanged(GetValue());
        });
        if (i < 3)
            layout->addWidget(new QLabel(QStringLiteral("."), this));
    }
}

QString QIPAddressEdit::text() const
{
    // A field set from outside past its validator is no octet either.
    QStringList parts;
    for (QLineEdit *edit : m_fields) {
        const QString digits = octetDigits(edit->text());
        if (digits.isNull())
            return QString();
        parts << QString::number(digits.toInt());
    }
    return parts.join(QLatin1Char('.'));
}

QString QIPAddressEdit::GetValue() const
{
    QStringList parts;
    bool any = false;
    for (QLineEdit *edit : m_fields) {
        parts << edit->text();
        any = any || !edit->text().isEmpty();
    }
    return any ? parts.join(QLatin1Char('.')) : QString();
}

void QIPAddressEdit::setText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    QStringList octets;
    for (const QString &part : parts) {
        const QString digits = octetDigits(part);
        if (parts.size() != 4 || digits.isNull())
            break;
        octets << QString::number(digits.toInt());
    }
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(octets.size() == 4 ? octets[i] : QString());
}

void QIPAddressEdit::onFieldEdited(int i)
{
    // A full octet moves on, as the original editor did.
    if (i < 3 && m_fields[i]->text().size() == 3) {
        m_fields[i + 1]->setFocus();
        m_fields[i + 1]->selectAll();
    }
}

bool QIPAddressEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        for (int i = 0; i < 4; ++i) {
            if (watched != m_fields[i])
                continue;
            // The fullwidth full stop is the dot of the input method that
            // types fullwidth digits.
            if (key->text() == QLatin1String(".") || key->text() == QChar(0xFF0E)) {
                if (i < 3 && !m_fields[i]->text().isEmpty()) {
                    m_fields[i + 1]->setFocus();
                    m_fields[i + 1]->selectAll();
                }
                return true;
            }
            if (key->key() == Qt::Key_Backspace && i > 0 && m_fields[i]->text().isEmpty()) {
                m_fields[i - 1]->setFocus();
                return false;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
