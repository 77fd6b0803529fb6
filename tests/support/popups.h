#pragma once

#include <QStringList>

class QWidget;
class qwTipsdlgEx;

namespace testsupport {

// "tip_" and the text key of each tip dialog shown over parent; every
// tip and message dialog over it is closed afterwards, so that each check
// sees only what came after the previous one.
QStringList popupKeys(QWidget *parent);

// The labelled buttons shown in root that a layout squeezed below their text
// and 8 px on each side, as "text": width for text width.
QStringList squeezedButtons(QWidget *root);

// What keeps a path tip from showing its path readably, empty when nothing
// does: every line of its label within the label's width, the lines
// within its height, together the whole path or its two ends around an
// ellipsis, and the whole path as the tool tip.
QString unreadablePath(const qwTipsdlgEx *tip);

// Whether the tips are settled in their places, none covering another.
bool tipsApart(const QList<qwTipsdlgEx *> &tips);

} // namespace testsupport
