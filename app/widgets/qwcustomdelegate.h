#pragma once

#include <QPixmap>
#include <QStyledItemDelegate>

// Draws the signal-strength picture (levels 0-5) in column 4 of a Wi-Fi list.
class qwCustomDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static const int kColumn = 4;
    static const int kCellWidth = 60;
    static const int kCellHeight = 48;

    explicit qwCustomDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;

    // The strip cell of a level; levels outside the strip give cell 0.
    QPixmap levelPicture(int level) const;

private:
    QPixmap m_signal;
};
