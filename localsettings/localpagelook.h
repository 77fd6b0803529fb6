#pragma once

#include <QString>

class QAbstractItemView;
class QWidget;

// What the log and about sub-pages share: their texts, the dark look of the
// client (the main window's sheet would draw their tables white) and tips.
namespace localpage {

// A text of the local settings page; the key itself when the language table
// lacks it, so that a missing text shows as something.
QString text(const char *key);

// Dark background and light labels for a sub-page, selected by its object name.
void applyDarkLook(QWidget *page, const QString &objectName);
// Dark rows, header and scroll bars for a list.
void applyDarkTable(QAbstractItemView *view);

enum TipKind { SuccessTip = 1, FailureTip = 2 };
// A tip over parent with the text of key; the key is kept on the tip.
void showTip(QWidget *parent, TipKind kind, const char *key);

} // namespace localpage
