#pragma once

#include <QString>

// A text of the user interface from the language table; empty when the
// table is not loaded or the key is missing. Section 48 means the key stands
// directly under the page.
QString uiText(const char *key, int page = 33, int section = 48);
// The same, with the key itself standing in for a missing text, so that
// something always shows.
QString uiTextOrKey(const char *key, int page = 33, int section = 48);
// The unit that reads right beside count: the text of oneKey for exactly 1,
// of manyKey for any other number (a unit without a plural passes its key
// twice). Missing texts show their keys, as uiTextOrKey.
QString uiUnitText(int count, const char *oneKey, const char *manyKey, int page = 33, int section = 48);
