#include "liveview/qwcstmvideoview.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

const char *const qwCstmVideoview::kDragFormat = "application/x-qabstractitemmodeldatalist";

qwCstmVideoview::qwCstmVideoview(QWidget *parent, int index, int flag) : QWidget(parent), m_index(index), m_flag(flag)
{
    setAcceptDrops(true);
    setAttribute(Qt::WA_StyledBackground, true);
    setObjectName(QStringLiteral("videoview_%1").arg(index));
}

void qwCstmVideoview::updateCursor()
{
    setCursor(m_dragging ? Qt::SizeAllCursor : Qt::ArrowCursor);
    emit sigClick(m_index);
}

void qwCstmVideoview::forwardToParent(QMouseEvent *event)
{
    QWidget *parent = parentWidget();
    if (!parent)
        return;
    // A copy, so that the view itself still gets the event it reports from.
    QMouseEvent copy(event->type(), mapToParent(event->pos()), event->windowPos(), event->screenPos(), event->button(),
                     event->buttons(), event->modifiers());
    QApplication::sendEvent(parent, &copy);
}

void qwCstmVideoview::mousePressEvent(QMouseEvent *event)
{
    m_dragging = true;
    setCursor(Qt::SizeAllCursor);
    forwardToParent(event);
    event->accept();
}

void qwCstmVideoview::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    unsetCursor();
    emit sigClick(m_index);
    forwardToParent(event);
    event->accept();
}

void qwCstmVideoview::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit sigDBClick(m_index);
    event->accept();
}

void qwCstmVideoview::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData() && event->mimeData()->hasFormat(QLatin1String(kDragFormat)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void qwCstmVideoview::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData() && event->mimeData()->hasFormat(QLatin1String(kDragFormat)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void qwCstmVideoview::dropEvent(QDropEvent *event)
{
    if (!event->mimeData() || !event->mimeData()->hasFormat(QLatin1String(kDragFormat))) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit sigDropPlay(m_index);
}

void qwCstmVideoview::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
}

void qwCstmVideoview::paintEvent(QPaintEvent *)
{
    // Lets the page's style sheet (border and background) show on a plain widget.
    QStyleOption opt;
    opt.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &opt, &painter, this);
}
