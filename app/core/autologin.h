#pragma once

#include "app/core/records.h"

#include <QList>
#include <QString>

class qcDatabase;

// Logging the stored user in by itself at start. Only a local user may be:
// a name no user has would be logged in without rights, refused every page
// (the one that switches this off among them), and no password could ever
// lift its lock screen.
namespace autologin {

// The user of that name as a typed login compares it: the first of exactly
// that name. Null for an empty name or one no user has (any more).
const _st_user_item *userNamed(const QList<_st_user_item> &users, const QString &name);
// Why a start leaves `name`, which no user has, to the login form: a log note.
QString notDoneNote(const QString &name);

// Stores `name` as the one to log in by itself, then switches that on. The
// name first: a switch kept without its name would log the previous name in
// at the next start. `why` as qcDatabase's setters give it.
bool switchOn(qcDatabase &db, const QString &name, QString *why);

} // namespace autologin
