#include "localsettings/qwnumberedit.h"

#include "app/core/uitext.h"

#include <QLabel>
#include <QRegularExpressionValidator>

qwNumberEdit::qwNumberEdit(settingranges::Range range, Unit unit, QWidget *parent)
    : QLineEdit(parent), m_range(range), m_unit(unit), m_unitLabel(new QLabel(parent))
{
    // A minus is let through so that a negative number is refused with the
    // range rather than read without its sign.
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*")), this));
    connect(this, &QLineEdit::textChanged, this, &qwNumberEdit::showUnit);
    showUnit();
}

void qwNumberEdit::setNumber(int value)
{
    setText(QString::number(value));
}

QString qwNumberEdit::rangeText(settingranges::Range range)
{
    return QStringLiteral("%1 - %2").arg(range.min).arg(range.max);
}

void qwNumberEdit::showUnit()
{
    bool ok = false;
    const int typed = text().toInt(&ok);
    m_unitLabel->setText(QStringLiteral("%1 (%2)").arg(uiUnitText(ok ? typed : 0, m_unit.one, m_unit.many, m_unit.page),
                                                       rangeText(m_range)));
}
