#include "app/widgets/basewindow.h"

#include "app/core/uitext.h"
#include "app/widgets/statusbutton.h"
#include "app/widgets/stylesheets.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>

namespace {
const QColor kTitleColour(32, 32, 32);
const int kButtonW = 43;
const int kButtonH = 25;
const int kButtonY = 2;
} // namespace

BaseWindow::BaseWindow(QWidget *parent, int flags, int width, int height) : QWidget(parent), m_flags(flags)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
    setMouseTracking(true);

    m_btnClose = new StatusButton(this, 4, QStringLiteral(":/images/srcimages/buttonclose.png"), uiText("closeclient"));
    m_btnMax = new StatusButton(this, 4, QStringLiteral(":/images/srcimages/buttonmax.png"), uiText("maximizeview"));
    m_btnMin = new StatusButton(this, 4, QStringLiteral(":/images/srcimages/buttonhide.png"), uiText("minimizeview"));
    m_btnRestore =
        new StatusButton(this, 4, QStringLiteral(":/images/srcimages/buttonrestore.png"), uiText("restoredwn"));
    m_btnRestore->hide();

    connect(m_btnClose, &QPushButton::clicked, this, &BaseWindow::onClose);
    connect(m_btnMax, &QPushButton::clicked, this, &BaseWindow::onMaxwin);
    connect(m_btnMin, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(m_btnRestore, &QPushButton::clicked, this, &BaseWindow::onRestory);

    m_iconLabel = new QLabel(this);
    m_titleLabel = new QLabel(this);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->setStyleSheet(QString::fromLatin1(styles::kTitleLabel));

    if (flags & AllowMaximize) {
        m_btnMin->show();
        m_btnMax->show();
    } else if (flags & ShowMinMax) {
        m_btnMin->show();
        m_btnMax->show();
        m_btnMax->setStatus(true, StatusButton::Disabled);
    } else {
        m_btnMin->hide();
        m_btnMax->hide();
    }

    if (width == 0 || height == 0) {
        m_minWidth = 320;
        m_minHeight = 190;
    } else {
        m_minWidth = width;
        m_minHeight = height;
        m_clientRect = QRect(QPoint(2, kTitleHeight), QPoint(width - 4, height - 4));
    }
}

BaseWindow::~BaseWindow()
{
    delete m_titleIcon;
}

bool BaseWindow::setTitleIcon(const QString &path)
{
    delete m_titleIcon;
    m_titleIcon = new QPixmap(path);
    if (!m_titleIcon->isNull())
        m_iconLabel->setPixmap(m_titleIcon->scaled(30, 30, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    else
        m_iconLabel->clear();
    m_hasIcon = true;
    return true;
}

bool BaseWindow::setTitleText(const QString &text, int mode)
{
    if (mode == TitleLeft || mode == TitleCentered) {
        m_titleMode = mode;
        if (mode == TitleCentered)
            m_titleLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    }
    m_titleLabel->setText(text);
    QPalette pal = m_titleLabel->palette();
    pal.setColor(QPalette::All, QPalette::WindowText, Qt::white);
    m_titleLabel->setPalette(pal);
    return true;
}

bool BaseWindow::setTitleMiddleWidget(QWidget *widget)
{
    if (!widget)
        return false;
    m_middleWidget = widget;
    m_middleWidget->setGeometry(m_middleSlot.isNull() ? QRect(242, 0, 585, 39) : m_middleSlot);
    return true;
}

bool BaseWindow::setTitleRightWidget(QWidget *widget)
{
    if (!widget)
        return false;
    m_rightWidget = widget;
    m_rightWidget->setGeometry(m_rightSlot.isNull() ? QRect(width() - 368, 0, 189, 39) : m_rightSlot);
    return true;
}

bool BaseWindow::setCustomButtons(const QString &image1, const QString &tip1, const QString &image2,
                                  const QString &tip2)
{
    if (m_btnCustom || m_btnCustom1)
        return false;
    m_btnCustom = new StatusButton(this, 4, image1, tip1);
    m_btnCustom1 = new StatusButton(this, 4, image2, tip2);
    connect(m_btnCustom, &QPushButton::clicked, this, &BaseWindow::onCustom);
    connect(m_btnCustom1, &QPushButton::clicked, this, &BaseWindow::onCustom1);
    m_btnCustom1->hide();
    m_btnCustom->show();
    m_hasCustom = true;
    const int w = width();
    m_btnCustom->setGeometry(w - 174, kButtonY, kButtonW, kButtonH);
    m_btnCustom1->setGeometry(w - 174, kButtonY, kButtonW, kButtonH);
    return true;
}

void BaseWindow::showCustomButton(int which)
{
    if (!m_hasCustom)
        return;
    if (which == CustomFirst) {
        m_btnCustom->show();
        m_btnCustom1->hide();
    } else if (which == CustomSecond) {
        m_btnCustom1->show();
        m_btnCustom->hide();
    }
}

bool BaseWindow::beforeClose()
{
    return true;
}

void BaseWindow::onClose()
{
    emit sigCloseWindw();
    if (beforeClose()) {
        m_closeApproved = true;
        close();
        m_closeApproved = false;
    }
}

void BaseWindow::onMaxwin()
{
    if (!(m_flags & AllowMaximize))
        return;
    m_maximized = true;
    m_btnMax->hide();
    m_btnRestore->show();
    showMaximized();
    m_btnRestore->setStatus(false, StatusButton::Hover);
    emit sigMaxWindow();
}

void BaseWindow::onMinwin()
{
    showMinimized();
}

void BaseWindow::onRestory()
{
    m_maximized = false;
    m_btnMax->show();
    m_btnRestore->hide();
    showNormal();
    m_btnMax->setStatus(false, StatusButton::Hover);
    emit sigResWindow();
}

void BaseWindow::onCustom()
{
    if (m_hasCustom) {
        m_btnCustom->hide();
        m_btnCustom1->show();
    }
    emit sigCustomBtnclick();
}

void BaseWindow::onCustom1()
{
    if (m_hasCustom) {
        m_btnCustom1->hide();
        m_btnCustom->show();
    }
    emit sigCustom1Btnclick();
}

void BaseWindow::setVisible(bool visible)
{
    if (visible && !m_placed && isWindow()) {
        m_placed = true;
        // Mapped at the size it keeps: a resize while it is being mapped
        // races the window manager's report of where it put the window.
        if (width() < m_minWidth || height() < m_minHeight)
            resize(qMax(width(), m_minWidth), qMax(height(), m_minHeight));
        placeBeforeShow();
    }
    QWidget::setVisible(visible);
}

void BaseWindow::placeBeforeShow()
{
    // A dialog opens over the middle of the window it belongs to, unless
    // its owner placed it on purpose. This happens before the window is
    // mapped: a move made while it is being shown (from its show event) is
    // carried out, but under a reparenting window manager Qt goes on
    // believing the window stands where it was before, and drop-down lists
    // and drags are then computed from a place where the window is not.
    QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (owner && !testAttribute(Qt::WA_Moved)) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->frameGeometry().center());
        move(frame.topLeft());
    }
}

void BaseWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    fitButtonsToText();
}

void BaseWindow::fitButtonsToText()
{
    // The program's style sheets give buttons no padding, so a layout may
    // squeeze a button down to its bare text.
    const auto buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->text().isEmpty())
            continue;
        button->ensurePolished();
        const int wanted = button->fontMetrics().horizontalAdvance(button->text()) + 2 * kButtonTextMargin;
        if (button->minimumWidth() < wanted && button->maximumWidth() >= wanted)
            button->setMinimumWidth(wanted);
    }
}

bool BaseWindow::inGripCorner(const QPoint &pos) const
{
    return pos.x() >= width() - 6 && pos.y() >= height() - 6 && (m_flags & ResizeGrip) && !m_maximized;
}

void BaseWindow::mousePressEvent(QMouseEvent *event)
{
    const bool leftOnly = event->buttons() == Qt::LeftButton;
    if (leftOnly && m_titleRect.contains(event->pos())) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - pos();
    }
    m_resizing = leftOnly && inGripCorner(event->pos());
}

void BaseWindow::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
    m_resizing = false;
}

void BaseWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->buttons() != Qt::LeftButton)
        return;
    if (m_titleRect.contains(event->pos()) && (m_flags & AllowMaximize)) {
        if (m_maximized)
            onRestory();
        else
            onMaxwin();
    }
    event->accept();
}

void BaseWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && event->buttons() != Qt::NoButton) {
        if (!m_maximized)
            move(event->globalPos() - m_dragOffset);
        event->accept();
    }
    setCursor(inGripCorner(event->pos()) ? Qt::SizeFDiagCursor : Qt::ArrowCursor);

    if (m_resizing) {
        const QPoint d = event->globalPos() - frameGeometry().topLeft();
        const int dx = d.x();
        const int dy = d.y();
        if (dx > m_minWidth && dy > m_minHeight)
            resize(dx + 3, dy + 3);
        else if (dx <= m_minWidth && dy > m_minHeight)
            resize(m_minWidth, dy + 3);
        else if (dx > m_minWidth && dy <= m_minHeight)
            resize(dx + 3, m_minHeight);
    }
}

void BaseWindow::paintEvent(QPaintEvent *)
{
    const int w = width();
    const int h = height();
    QPainter painter(this);
    painter.fillRect(m_titleRect, kTitleColour);
    QPen pen(kTitleColour, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(pen);
    painter.drawLine(1, kTitleHeight, 1, h);
    painter.drawLine(0, h - 1, w, h - 1);
    painter.drawLine(w - 1, kTitleHeight, w - 1, h);
    if (m_flags & ResizeGrip) {
        painter.drawLine(w, h - 7, w - 7, h);
        painter.drawLine(w, h - 9, w - 9, h);
        painter.drawLine(w, h - 11, w - 11, h);
    }
}

void BaseWindow::layoutTitleBar()
{
    const int w = width();
    const int h = height();
    m_titleRect = QRectF(0, 0, w, kTitleHeight);

    if (m_titleMode == TitleCentered) {
        m_iconRect = QRectF(6, 3, 39, 35);
        m_titleTextRect = QRectF((w - 188) / 2, 5, 186, 27);
    } else if (m_hasIcon) {
        m_iconRect = QRectF(6, 3, 39, 35);
        m_titleTextRect = QRectF(39, 5, 186, 27);
    } else {
        m_iconRect = QRectF(0, 0, 0, 0);
        m_titleTextRect = QRectF(6, 5, 186, 27);
    }
    m_middleSlot = QRect(QPoint(242, 0), QPoint(826, 38));
    m_rightSlot = QRect(QPoint(w - 368, 0), QPoint(w - 180, 38));
    m_clientRect = QRect(QPoint(2, kTitleHeight), QPoint(w - 4, h - 2));
    m_gripRect = QRectF(w - 7, h - 7, 7, 7);

    m_iconLabel->setGeometry(m_iconRect.toRect());
    m_titleLabel->setGeometry(m_titleTextRect.toRect());
    m_btnClose->setGeometry(w - 45, kButtonY, kButtonW, kButtonH);
    m_btnMax->setGeometry(w - 88, kButtonY, kButtonW, kButtonH);
    m_btnRestore->setGeometry(w - 88, kButtonY, kButtonW, kButtonH);
    m_btnMin->setGeometry(w - 131, kButtonY, kButtonW, kButtonH);
    if (m_hasCustom) {
        m_btnCustom->setGeometry(w - 174, kButtonY, kButtonW, kButtonH);
        m_btnCustom1->setGeometry(w - 174, kButtonY, kButtonW, kButtonH);
    }
    if (m_middleWidget)
        m_middleWidget->setGeometry(m_middleSlot);
    if (m_rightWidget)
        m_rightWidget->setGeometry(m_rightSlot);
}

void BaseWindow::resizeEvent(QResizeEvent *event)
{
    const QSize size = event->size();
    if (size.width() < m_minWidth || size.height() < m_minHeight) {
        resize(qMax(size.width(), m_minWidth), qMax(size.height(), m_minHeight));
    }
    layoutTitleBar();
    emit sigResWindow();
}

void BaseWindow::closeEvent(QCloseEvent *event)
{
    emit sigCloseWindw();
    // Every close (window manager, Alt+F4, close() from code) is asked once;
    // the one onClose() triggers was asked already.
    if (!m_closeApproved && !beforeClose()) {
        event->ignore();
        return;
    }
    event->accept();
}
