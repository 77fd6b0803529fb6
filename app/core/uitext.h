#pragma once

#include <QString>

// A text of the user interface from the language table; empty when the
// table is not loaded or the key is missing. Section 48 means the key stands
// directly under the page.
QString uiText(const char *key, int page = 33, int section = 48);
// The same, with the key itself standing in for a missing text, so that
// something always shows.
QString uiTextOrKey(const char *key, int page = 33, int section = 48);
