#pragma once

#include "app/core/readstatus.h"

#include <QList>
#include <QString>

class QAbstractItemView;
class QWidget;

// What every sub-page of the local settings page shares: where its texts
// are, the dark look of the client (the main window's sheet would draw its
// tables and lists white) and its tips.
namespace localpage {

// Pages of the language table the local settings page reads.
enum TextPage { CommonTexts = 33, LocalTexts = 36, TipTexts = 38 };
constexpr int kPlainSection = 48;

// A text of the language table; the key itself when the table lacks it, so
// that a missing text shows as something.
QString text(const char *key, int page = LocalTexts, int section = kPlainSection);

// Dark background, light labels and readable fields for a sub-page or a
// dialog body; the sheet is scoped to the object name it is given.
void applyDarkLook(QWidget *page, const QString &objectName);
// Dark rows, header and scroll bars for a table.
void applyDarkTable(QAbstractItemView *view);

enum TipKind { SuccessTip = 1, FailureTip = 2 };
// A tip over parent with the text of key, followed by detail when there is
// one; the key is kept on the tip.
void showTip(QWidget *parent, TipKind kind, const char *key, const QString &detail = QString());
// A tip carrying key whose text was put together by the caller.
void showTipText(QWidget *parent, TipKind kind, const char *key, const QString &message);

// Whether a sub-page's read of the database worked. When it did not, its
// `content` is greyed, so that nothing unread passes for a stored value or
// is saved, and a page on screen says why ("databasebusy", "databaseerr");
// when it did, the content is usable again.
bool showRead(QWidget *page, ReadStatus status, const QList<QWidget *> &content);

} // namespace localpage
