#include "app/uitext.h"

QString uiText(const char* key, int page, int section)
{
    Q_UNUSED(key) Q_UNUSED(page) Q_UNUSED(section)
    return QString(); // TEMP until the language table lands
}
