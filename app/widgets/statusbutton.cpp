#include "app/widgets/statusbutton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

StatusButton::StatusButton(QWidget *parent, int cellCount, const QString &imagePath, const QString &toolTip)
    : QPushButton(parent)
{
    // Other counts are never passed; fall back to the four-cell layout
    // rather than dividing by an arbitrary number.
    m_cellCount = (cellCount >= 2 && cellCount <= 4) ? cellCount : 4;
    m_strip = new QImage(imagePath);
    setToolTip(toolTip);
    setFlat(true);
}

StatusButton::StatusButton(QWidget *parent, const QString &toolTip, const QImage &normal, const QImage &hover,
                           const QImage *pressed, const QImage *disabled, int mask)
    : QPushButton(parent), m_mask(mask)
{
    m_normal = new QImage(normal);
    m_hover = new QImage(hover);
    if (pressed)
        m_pressed = new QImage(*pressed);
    if (disabled)
        m_disabled = new QImage(*disabled);
    // A disabled picture without a pressed one still counts its own cell.
    m_cellCount = 2 + (pressed ? 1 : 0) + (disabled ? 1 : 0);
    if (!pressed && disabled)
        m_cellCount = 4;
    if (!toolTip.isEmpty())
        setToolTip(toolTip);
    setFlat(true);
}

StatusButton::~StatusButton()
{
    delete m_strip;
    delete m_normal;
    delete m_hover;
    delete m_pressed;
    delete m_disabled;
}

void StatusButton::setStatus(bool locked, int state)
{
    m_locked = locked;
    m_state = state;
    update();
}

void StatusButton::setMask(int mask)
{
    m_mask = mask;
}

void StatusButton::setSelected(bool selected)
{
    m_selected = selected;
    update();
}

void StatusButton::setDrawMode(int mode)
{
    m_drawMode = mode;
    update();
}

void StatusButton::enterEvent(QEvent *event)
{
    if (m_state != Disabled && !m_locked) {
        m_state = Hover;
        setCursor(Qt::PointingHandCursor);
        event->accept();
        repaint();
    }
}

void StatusButton::leaveEvent(QEvent *event)
{
    if (m_state != Disabled && !m_locked) {
        m_state = Normal;
        setCursor(Qt::ArrowCursor);
        event->accept();
        repaint();
    }
}

void StatusButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_state != Disabled) {
        m_state = Pressed;
        event->accept();
        repaint();
        emit sigLeftbuttonDown(m_mask);
    }
    QPushButton::mousePressEvent(event);
}

void StatusButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_state != Disabled && event->button() == Qt::LeftButton) {
        m_state = Hover;
        event->accept();
        repaint();
        if (m_mask >= 0)
            emit sigClick(m_mask);
        emit sigLeftbuttonUp(m_mask);
    }
    QPushButton::mouseReleaseEvent(event);
}

QImage StatusButton::currentPicture() const
{
    int cell = -1;
    switch (m_state) {
    case Normal:
        cell = 0;
        break;
    case Hover:
        cell = 1;
        break;
    case Pressed:
        cell = m_cellCount >= 3 ? 2 : 1;
        break;
    case Disabled:
        if (m_cellCount == 4)
            cell = 3;
        else if (m_cellCount == 2)
            cell = 1;
        break;
    default:
        break;
    }
    if (cell < 0)
        return QImage();

    if (m_strip) {
        if (m_strip->isNull())
            return QImage();
        const int w = m_strip->width() / m_cellCount;
        return m_strip->copy(cell * w, 0, w, m_strip->height());
    }
    if (!m_normal || !m_hover || m_normal->isNull() || m_hover->isNull())
        return QImage();
    switch (cell) {
    case 0:
        return *m_normal;
    case 1:
        return *m_hover;
    case 2:
        return m_pressed ? *m_pressed : QImage();
    case 3:
        return m_disabled ? *m_disabled : QImage();
    }
    return QImage();
}

void StatusButton::paintEvent(QPaintEvent *event)
{
    if (!m_selected)
        QPushButton::paintEvent(event);

    QPainter painter(this);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QImage picture = currentPicture();
    if (!picture.isNull()) {
        if (m_drawMode == 1) {
            painter.drawImage(rect(), picture);
        } else {
            const int x = width() > picture.width() ? (width() - picture.width()) / 2 : 0;
            const int y = height() > picture.height() ? (height() - picture.height()) / 2 : 0;
            painter.drawImage(QPoint(x, y), picture);
        }
    }
    event->accept();
}
