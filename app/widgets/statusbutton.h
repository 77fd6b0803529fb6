#pragma once

#include <QImage>
#include <QPushButton>

// Image button painted from a strip of cells (normal, hover, pressed,
// disabled) or from separate images. Besides clicked() it reports left
// presses and releases with the mask given by the owner. A selected button
// (the default) shows only its picture; one that is not selected also
// draws the push button under it, so its style sheet's background and
// border show.
class StatusButton : public QPushButton
{
    Q_OBJECT
public:
    enum State { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };

    StatusButton(QWidget *parent, int cellCount, const QString &imagePath, const QString &toolTip);
    StatusButton(QWidget *parent, const QString &toolTip, const QImage &normal, const QImage &hover,
                 const QImage *pressed, const QImage *disabled, int mask);
    ~StatusButton() override;

    void setStatus(bool locked, int state);
    // The int the three signals carry; sigClick is sent only for one >= 0.
    void setMask(int mask);
    void setSelected(bool selected);
    void setDrawMode(int mode);

    int status() const { return m_state; }
    bool isLocked() const { return m_locked; }
    int mask() const { return m_mask; }
    bool isSelected() const { return m_selected; }
    int cellCount() const { return m_cellCount; }

signals:
    void sigClick(int mask);
    void sigLeftbuttonDown(int mask);
    void sigLeftbuttonUp(int mask);

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The picture for the current state; null when nothing is to be drawn.
    QImage currentPicture() const;

    QImage *m_strip = nullptr;
    int m_cellCount = 4;
    QImage *m_normal = nullptr;
    QImage *m_hover = nullptr;
    QImage *m_pressed = nullptr;
    QImage *m_disabled = nullptr;
    int m_mask = -1;
    bool m_locked = false;
    bool m_selected = true;
    int m_state = Normal;
    int m_drawMode = 0;
};
