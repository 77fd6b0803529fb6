#pragma once

#include <QRegExp>
#include <QString>

// What the login form lets a user type as a name or a password. An account
// is only worth making when both can be typed there: any other account can
// never log in.
namespace loginrule {

constexpr int kMaxLength = 16;

// ASCII letters and digits, at most kMaxLength of them; the form's fields
// hold to it as they are typed.
QRegExp allowed();
// A name or password that can be typed in full: 1 to kMaxLength of them.
bool canBeTyped(const QString &text);

} // namespace loginrule
