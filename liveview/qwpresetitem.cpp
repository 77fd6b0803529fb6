#include "liveview/qwpresetitem.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

qwPresetItem::qwPresetItem(QWidget *parent, int index, const QString &name, const QString &state)
    : QWidget(parent), m_index(index)
{
    setContentsMargins(4, 0, 2, 0);
    setStyleSheet(QStringLiteral("QLabel{color:white;}"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(6);
    const Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    auto *number = new QLabel(QString::number(index), this);
    number->setAlignment(align);
    number->setFixedSize(32, 22);
    auto *nameLabel = new QLabel(name, this);
    nameLabel->setAlignment(align);
    nameLabel->setMaximumHeight(22);
    nameLabel->setTextFormat(Qt::PlainText);
    auto *edit = new QLineEdit(name, this);
    edit->setMaximumHeight(22);
    edit->hide();
    auto *stateLabel = new QLabel(state, this);
    stateLabel->setAlignment(align);
    stateLabel->setFixedSize(72, 22);
    stateLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(number);
    layout->addWidget(nameLabel);
    layout->addWidget(edit);
    layout->addWidget(stateLabel);
    connect(edit, &QLineEdit::editingFinished, this, &qwPresetItem::onEditfinished);
}

qwPresetItem::~qwPresetItem()
{
    // A focused editor finishes editing while the row is torn down; the row
    // must not hear of it any more.
    if (QLineEdit *edit = nameEdit())
        disconnect(edit, nullptr, this, nullptr);
}

QWidget *qwPresetItem::cell(int i) const
{
    QLayoutItem *item = layout()->itemAt(i);
    return item ? item->widget() : nullptr;
}

QLabel *qwPresetItem::nameLabel() const
{
    return static_cast<QLabel *>(cell(1));
}
QLineEdit *qwPresetItem::nameEdit() const
{
    return static_cast<QLineEdit *>(cell(2));
}
QLabel *qwPresetItem::stateLabel() const
{
    return static_cast<QLabel *>(cell(3));
}

void qwPresetItem::setName(const QString &name)
{
    nameLabel()->setText(name);
    nameEdit()->setText(name);
}

void qwPresetItem::setStateText(const QString &text)
{
    stateLabel()->setText(text);
}

void qwPresetItem::beginRename()
{
    nameLabel()->hide();
    nameEdit()->show();
    nameEdit()->clear();
    nameEdit()->setFocus(Qt::OtherFocusReason);
}

void qwPresetItem::endRename()
{
    nameLabel()->show();
    nameEdit()->hide();
}

void qwPresetItem::cancelRename()
{
    const bool blocked = nameEdit()->blockSignals(true);
    endRename();
    nameEdit()->setText(nameLabel()->text());
    nameEdit()->blockSignals(blocked);
    m_editing = false;
}

void qwPresetItem::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        qDebug() << "Preset list Double Click:" << m_index;
        if (nameLabel()->isHidden()) {
            endRename();
            m_editing = false;
        } else {
            nameLabel()->hide();
            nameEdit()->show();
            m_savedName = nameEdit()->text();
            nameEdit()->setFocus(Qt::OtherFocusReason);
            m_editing = true;
        }
    }
    QWidget::mouseDoubleClickEvent(event);
}

void qwPresetItem::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        qDebug() << "Preset list Click:" << m_index;
        if (m_editing && nameEdit()->geometry().contains(event->pos()))
            onEditfinished();
        emit sigClicked(m_index);
    }
    QWidget::mouseReleaseEvent(event);
}

void qwPresetItem::onEditfinished()
{
    // Hiding the focused editor finishes the edit once more; read the text
    // first and let that second call find nothing to do.
    const QString text = nameEdit()->text();
    const bool blocked = nameEdit()->blockSignals(true);
    endRename();
    nameEdit()->blockSignals(blocked);
    if (text.isEmpty()) {
        nameEdit()->setText(m_savedName);
    } else if (text != m_savedName) {
        m_savedName = text;
        nameLabel()->setText(text);
        emit sigNameChange(m_index, text);
    }
    m_editing = false;
}
