#include "platform/widgets/qipaddressedit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

namespace {
// Digits only, at most three, never above 255.
class OctetValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        if (input.isEmpty())
            return Intermediate;
        if (input.size() > 3)
            return Invalid;
        for (QChar c : input) {
            if (!c.isDigit())
                return Invalid;
        }
        return input.toInt() <= 255 ? Acceptable : Invalid;
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
    QStringList parts;
    for (QLineEdit *edit : m_fields) {
        if (edit->text().isEmpty())
            return QString();
        parts << QString::number(edit->text().toInt());
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
    bool valid = parts.size() == 4;
    for (int i = 0; valid && i < 4; ++i) {
        bool ok = false;
        const int v = parts[i].toInt(&ok);
        valid = ok && !parts[i].isEmpty() && parts[i].size() <= 3 && v >= 0 && v <= 255;
    }
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(valid ? QString::number(parts[i].toInt()) : QString());
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
            if (key->text() == QLatin1String(".")) {
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
