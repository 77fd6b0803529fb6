#pragma once

#include <QPoint>
#include <QStyledItemDelegate>

class QPushButton;

// Draws a modify button in column 4 and a delete button in column 5 of a
// user table and reports releases on them.
class qwUsermgrDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static const int kModifyColumn = 4;
    static const int kDeleteColumn = 5;

    explicit qwUsermgrDelegate(QObject *parent = nullptr);
    ~qwUsermgrDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    // The 22 x 22 button of a cell, centred.
    static QRect buttonRect(const QRect &cell);

    int pressState() const { return m_pressState; }

signals:
    void sigToolbuttonClicked(int row, int btnid);

private:
    QPoint m_mousePos;
    QPushButton *m_modify = nullptr;
    QPushButton *m_delete = nullptr;
    int m_pressState = -1;
};
