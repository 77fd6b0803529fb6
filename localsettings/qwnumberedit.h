#pragma once

#include "app/core/settingranges.h"

#include <QLineEdit>

class QLabel;

// The field of a number option. It takes any digits, so that what the
// operator types is what Save judges: nothing is clamped or dropped on the
// way. Beside it goes its unit label, which reads right for the number
// typed and shows the range the option takes.
class qwNumberEdit : public QLineEdit
{
    Q_OBJECT
public:
    // Text keys of the unit for 1 and for any other number, and their page.
    struct Unit
    {
        const char *one;
        const char *many;
        int page;
    };

    // The unit label is made as a child of parent, for the caller to place.
    qwNumberEdit(settingranges::Range range, Unit unit, QWidget *parent);

    QLabel *unitLabel() const { return m_unitLabel; }
    void setNumber(int value);

    // "min - max", as the unit label and the range tip show it.
    static QString rangeText(settingranges::Range range);

private:
    void showUnit();

    settingranges::Range m_range;
    Unit m_unit;
    QLabel *m_unitLabel;
};
