#pragma once

#include <QString>

class QWidget;

// How every page tells the operator that the database refused a change he
// asked for, and keeps the attempt in the system log: one way for devices,
// users, options and schedules alike.
namespace refusal {

// The reminder ("remindtype", with a Close button) showing the text of `key`
// on the tips page over `parent`, or over the dialog in front that asked for
// it, so that the dialog and what was typed stay. A reminder of the same key
// that is still open is not shown twice: a burst of refusals asks once.
void showReminder(QWidget *parent, const char *key);
// The same with a text of its own (the key's text with its numbers filled in).
void showReminder(QWidget *parent, const char *key, const QString &text);
// A reminder that answers no dialog, such as that a window of the page was
// closed: over `page`, or over the modal dialog open over its window, but
// never over a dialog merely in front, which may close at once and take the
// reminder along unseen.
void showNotice(QWidget *page, const char *key);

// A change the database refused: the reminder "databaseerr" over `parent`,
// and a record of `decl` (for example "modify device", "add user", "modify
// system options") of the abnormal kind under the current user, naming the
// device `name` and `address` where there is one, with `note`, which ends
// with the database's own reason, as its note.
void tell(QWidget *parent, const char *decl, const QString &name, const QString &address, const QString &note);

// "what: why", or `why` alone when nothing names what was refused.
QString note(const QString &what, const QString &why);

} // namespace refusal
