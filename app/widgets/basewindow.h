#pragma once

#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QWidget>

class StatusButton;

// Frameless window with its own title bar (icon, title, minimise,
// maximise/restore, close and an optional pair of custom buttons), a thin
// border, dragging by the title bar and a close protocol in which the
// subclass may refuse closing through beforeClose().
class BaseWindow : public QWidget
{
    Q_OBJECT
public:
    enum Flags { ShowMinMax = 1, AllowMaximize = 2, ResizeGrip = 4 };
    enum TitleMode { TitleLeft = 198, TitleCentered = 199 };
    enum CustomButton { CustomFirst = 161, CustomSecond = 162 };

    static const int kTitleHeight = 38;
    // Room beside a button's text that no layout takes away.
    static const int kButtonTextMargin = 12;

    BaseWindow(QWidget *parent, int flags, int width, int height);
    ~BaseWindow() override;

    QRect getClientRect() const { return m_clientRect; }
    bool setTitleIcon(const QString &path);
    bool setTitleText(const QString &text, int mode);
    bool setTitleMiddleWidget(QWidget *widget);
    bool setTitleRightWidget(QWidget *widget);
    bool setCustomButtons(const QString &image1, const QString &tip1, const QString &image2, const QString &tip2);
    void showCustomButton(int which);

    // Asked before the window closes; false keeps it open.
    virtual bool beforeClose();

    void setVisible(bool visible) override;

    bool isMaximizedByTitle() const { return m_maximized; }
    int titleMode() const { return m_titleMode; }

    // For the window's own tests and for subclasses that place things
    // relative to the title bar.
    StatusButton *closeButton() const { return m_btnClose; }
    StatusButton *maxButton() const { return m_btnMax; }
    StatusButton *minButton() const { return m_btnMin; }
    StatusButton *restoreButton() const { return m_btnRestore; }
    StatusButton *customButton(int which) const { return which == CustomSecond ? m_btnCustom1 : m_btnCustom; }
    QLabel *titleLabel() const { return m_titleLabel; }
    QLabel *iconLabel() const { return m_iconLabel; }

signals:
    void sigMaxWindow();
    void sigResWindow();
    void sigCloseWindw();
    void sigResizeWindow();
    void sigCustomBtnclick();
    void sigCustom1Btnclick();

public slots:
    void onClose();
    void onMaxwin();
    void onMinwin();
    void onRestory();
    void onCustom();
    void onCustom1();

protected:
    // Places the window once, before it is first shown; the base centres it
    // over the window it belongs to unless it was moved already.
    virtual void placeBeforeShow();

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Done once at the first show; a window that adds content later (pages
    // created on demand) calls it again for that content.
    void fitButtonsToText();

private:
    bool inGripCorner(const QPoint &pos) const;
    void layoutTitleBar();

    bool m_dragging = false;
    QPoint m_dragOffset;
    QRect m_clientRect;
    QRectF m_titleRect;
    QRectF m_titleTextRect;
    QRectF m_iconRect;
    QRectF m_gripRect;
    QRect m_middleSlot;
    QRect m_rightSlot;
    QLabel *m_iconLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    StatusButton *m_btnMin = nullptr;
    StatusButton *m_btnMax = nullptr;
    StatusButton *m_btnClose = nullptr;
    StatusButton *m_btnRestore = nullptr;
    StatusButton *m_btnCustom = nullptr;
    StatusButton *m_btnCustom1 = nullptr;
    QPixmap *m_titleIcon = nullptr;
    bool m_maximized = false;
    bool m_resizing = false;
    int m_flags = 0;
    int m_minWidth = 320;
    int m_minHeight = 190;
    QWidget *m_middleWidget = nullptr;
    QWidget *m_rightWidget = nullptr;
    bool m_hasCustom = false;
    bool m_hasIcon = false;
    int m_titleMode = TitleLeft;
    // Set by onClose() after beforeClose() agreed, so that the close it
    // triggers is not asked a second time.
    bool m_closeApproved = false;
    bool m_shownOnce = false;
    bool m_placed = false;
};
