#include "app/widgets/qwusermgrdelegate.h"

#include "app/widgets/stylesheets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>

qwUsermgrDelegate::qwUsermgrDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_modify(new QPushButton()), m_delete(new QPushButton())
{
    m_modify->setStyleSheet(QString::fromLatin1(styles::kDelegateModify));
    m_delete->setStyleSheet(QString::fromLatin1(styles::kDelegateDelete));
    m_modify->setToolTip(QStringLiteral("Modify"));
    m_delete->setToolTip(QStringLiteral("Delete"));
    m_modify->setMouseTracking(true);
    m_delete->setMouseTracking(true);
}

qwUsermgrDelegate::~qwUsermgrDelegate()
{
    delete m_modify;
    delete m_delete;
}

QRect qwUsermgrDelegate::buttonRect(const QRect &cell)
{
    const QPoint topLeft(cell.left() - 10 + cell.width() / 2, cell.top() - 10 + cell.height() / 2);
    return QRect(topLeft, topLeft + QPoint(21, 21));
}

void qwUsermgrDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem cell(option);
    cell.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, cell, index);

    const int column = index.column();
    if (column != kModifyColumn && column != kDeleteColumn)
        return;
    QPushButton *button = column == kModifyColumn ? m_modify : m_delete;
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.state = QStyle::State_Enabled;
    opt.rect = buttonRect(option.rect);
    if (opt.rect.contains(m_mousePos)) {
        if (m_pressState == 0)
            opt.state |= QStyle::State_MouseOver;
        else if (m_pressState == 1)
            opt.state |= QStyle::State_Sunken;
    }
    button->style()->drawControl(QStyle::CE_PushButton, &opt, painter, button);
}

bool qwUsermgrDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                    const QModelIndex &index)
{
    Q_UNUSED(model)
    const int column = index.column();
    if (column != kModifyColumn && column != kDeleteColumn)
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonDblClick)
        return false;

    auto *mouse = static_cast<QMouseEvent *>(event);
    m_pressState = -1;
    m_mousePos = mouse->pos();
    QApplication::restoreOverrideCursor();

    if (!buttonRect(option.rect).contains(m_mousePos))
        return false;

    switch (type) {
    case QEvent::MouseButtonPress:
        if (auto *view = qobject_cast<QAbstractItemView *>(parent()))
            view->setCurrentIndex(index);
        else if (option.widget)
            if (auto *owner = qobject_cast<const QAbstractItemView *>(option.widget))
                const_cast<QAbstractItemView *>(owner)->setCurrentIndex(index);
        m_pressState = 1;
        break;
    case QEvent::MouseButtonRelease:
        emit sigToolbuttonClicked(index.row(), column == kModifyColumn ? 0 : 1);
        break;
    case QEvent::MouseMove:
        QApplication::setOverrideCursor(Qt::PointingHandCursor);
        m_pressState = 0;
        break;
    default:
        break;
    }
    emit sizeHintChanged(index);
    return true;
}
