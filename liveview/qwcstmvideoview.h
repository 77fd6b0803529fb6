#pragma once

#include <QWidget>

// One frame of the live grid. It takes a device row dropped on it, reports
// clicks and double clicks with its view index, and hands a copy of every
// press and release to its parent, where the page watches for a drag from
// one view to another.
class qwCstmVideoview : public QWidget
{
    Q_OBJECT
public:
    static const char *const kDragFormat; // "application/x-qabstractitemmodeldatalist"

    qwCstmVideoview(QWidget *parent, int index, int flag);

    void setIndex(int index) { m_index = index; }
    int index() const { return m_index; }
    // Shows the size-all cursor while a press is under way, then reports a click.
    void updateCursor();
    bool isDragging() const { return m_dragging; }

signals:
    void sigClick(int index);
    void sigDBClick(int index);
    void sigDropPlay(int index);
    void sigResize(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void forwardToParent(QMouseEvent *event);
    int m_index;
    int m_flag;
    bool m_dragging = false;
};
