#pragma once

#include "app/widgets/qclabelex.h"

// A clickable label of the settings pages: every press is a click, and the
// pointer shows a hand over it.
class qwLabelEx : public qcLabelEx
{
    Q_OBJECT
public:
    explicit qwLabelEx(QWidget *parent);
};
