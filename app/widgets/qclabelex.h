#pragma once

#include <QLabel>

// A label that reports every mouse press, whatever the button.
class qcLabelEx : public QLabel
{
    Q_OBJECT
public:
    explicit qcLabelEx(QWidget *parent = nullptr);

signals:
    void sigClick();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
