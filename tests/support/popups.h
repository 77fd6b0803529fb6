#pragma once

#include <QStringList>

class QWidget;

namespace testsupport {

// "tip_" and the text key of each tip dialog shown over parent; every
// tip and message dialog over it is closed afterwards, so that each check
// sees only what came after the previous one.
QStringList popupKeys(QWidget *parent);

// The labelled buttons shown in root that a layout squeezed below their text
// and 8 px on each side, as "text": width for text width.
QStringList squeezedButtons(QWidget *root);

} // namespace testsupport
