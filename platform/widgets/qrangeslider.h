#pragma once

#include <QColor>
#include <QFrame>

// A horizontal slider with two handles over an integer range, the span
// between them painted apart from the rest of the groove. A press grabs the
// nearer handle; a drag moves it in steps of 1 and never onto or past the
// other one.
class QRangeSlider : public QFrame
{
    Q_OBJECT
public:
    enum TooltipType { NoTooltip = 0, NumberTooltip = 1, TimeTooltip = 2 };

    explicit QRangeSlider(QWidget *parent = nullptr);

    // Reads the background-color of the groove, add-page (the span between
    // the handles), sub-page (the rest of the groove), handle and
    // handle:hover subcontrols; Qt's style engine does not apply them to a
    // class of ours.
    void SetStyleSheet(const QString &sheet);
    // Horizontal only; a vertical request is ignored.
    void SetOrientation(Qt::Orientation orientation);
    void SetShowTooltip(bool show);
    void SetTooltipStyle(TooltipType type);
    // false unless min < max; the values are clamped into the new range.
    bool SetRange(unsigned long min, unsigned long max);
    // false, nothing changed, unless min <= first < second <= max.
    bool SetValue(unsigned long first, unsigned long second);
    // The first value in the high 32 bits, the second in the low ones.
    quint64 GetValue() const;

    // The colours in use, for tests.
    QColor spanColour() const { return m_addPage; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int positionOf(unsigned long value) const;
    unsigned long valueAt(int x) const;
    QString tooltipText(unsigned long value) const;
    int handleAt(const QPoint &p) const;

    unsigned long m_min = 0;
    unsigned long m_max = 100;
    unsigned long m_first = 0;
    unsigned long m_second = 100;
    int m_dragged = -1; // 0 first, 1 second
    int m_hovered = -1;
    bool m_showTooltip = false;
    TooltipType m_tooltip = NoTooltip;
    QColor m_groove{0x57, 0x57, 0x57};
    QColor m_addPage{0x1b, 0xaa, 0xfb};
    QColor m_subPage{0x57, 0x57, 0x57};
    QColor m_handle{0xaa, 0xaa, 0xaa};
    QColor m_handleHover{0x1b, 0xaa, 0xfb};
};
