#pragma once

#include "liveview/livegrid.h"

#include <QWidget>

class QToolButton;

// Popup of the seven grid sizes; a choice is reported as 54..60 (1, 4, 6, 9,
// 16, 36, 64 views) and closes the popup.
class qwSelectMultMode : public QWidget
{
    Q_OBJECT
public:
    explicit qwSelectMultMode(QWidget *parent);
    QToolButton *choice(int i) const { return m_choices[i]; }

signals:
    void sigViewChange(int flag);

private:
    QToolButton *m_choices[livegrid::kSplitChoices] = {};
};
