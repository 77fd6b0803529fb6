#include "app/widgets/qwcustomdelegate.h"

#include <QLabel>
#include <QPainter>

qwCustomDelegate::qwCustomDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_signal(QStringLiteral(":/images/srcimages/devsettings/signal.png"))
{}

QPixmap qwCustomDelegate::levelPicture(int level) const
{
    const int cells = m_signal.width() / kCellWidth;
    if (level < 0 || level >= cells)
        level = 0;
    return m_signal.copy(level * kCellWidth, 0, kCellWidth, kCellHeight);
}

void qwCustomDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != kColumn)
        return;
    const QVariant value = index.data(Qt::UserRole);
    const int level = value.isNull() ? 0 : value.toInt();
    const QPixmap picture = levelPicture(level).scaled(24, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter->drawPixmap(option.rect.left() + 4, option.rect.top(), picture);
}

QWidget *qwCustomDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                        const QModelIndex &index) const
{
    if (index.column() != kColumn)
        return QStyledItemDelegate::createEditor(parent, option, index);
    auto *label = new QLabel(parent);
    label->setPixmap(levelPicture(0));
    return label;
}

void qwCustomDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    if (index.column() != kColumn) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    if (auto *label = qobject_cast<QLabel *>(editor))
        label->setPixmap(levelPicture(index.data(Qt::EditRole).toInt()));
}
