#pragma once

#include "app/widgets/basewindow.h"

#include <functional>

class qcLabelEx;

// The property that names the text key of a tip or reminder, so that the
// object name stays what the style sheets select the dialog by.
constexpr char kTipKeyProperty[] = "tipKey";

// Popup tip: slides into the bottom-right corner of the work area, closes
// itself after five seconds and deletes itself. Kind 1 success, 2 failure,
// 3 a file path that reveals the file when clicked.
class qwTipsdlgEx : public BaseWindow
{
    Q_OBJECT
public:
    enum Kind { Success = 1, Failure = 2, FilePath = 3 };
    static const int kSlideMs = 560;
    static const int kLifetimeMs = 5000;

    qwTipsdlgEx(QWidget *parent, int kind);
    ~qwTipsdlgEx() override;

    // A path (kind 3) is shown whole, broken anywhere, or with its middle
    // elided where it does not fit; the whole path is the label's tool tip.
    void setTipText(const QString &text);
    // The text as given, whatever the label shows of it.
    QString tipText() const { return m_text; }
    qcLabelEx *messageLabel() const { return m_label; }
    int kind() const { return m_kind; }

    // How a kind-3 tip reveals its file; replaceable so that tests can see
    // the path without a desktop.
    using RevealFunction = std::function<bool(const QString &)>;
    static void setRevealFunction(RevealFunction fn);

public slots:
    void onHiperlinkClick();
    void onAnimationFinished();

protected:
    // The area the tip slides into; the primary screen's work area.
    virtual QRect availableArea() const;
    // Takes the tip's place in the stack of tips shown and puts it just
    // below the work area, where it slides in from.
    void placeBeforeShow() override;

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void slide(const QPoint &from, const QPoint &to, bool thenClose);
    QPoint shownPos() const;
    QPoint hiddenPos() const;

    static const int kMessageWidth = 210;
    static const int kMessageHeight = 90;

    QString m_text;
    // Its place among the tips shown at once, -1 before it is shown.
    int m_place = -1;
    bool m_closing = false;
    bool m_slidingOut = false;
    int m_kind = Success;
    int m_timerId = -1;
    qcLabelEx *m_label = nullptr;
};

// Shows a tip of the kind over parent with text; the key the text came from
// rides in kTipKeyProperty. The tip deletes itself.
qwTipsdlgEx *showKeyedTip(QWidget *parent, int kind, const QString &key, const QString &text);
