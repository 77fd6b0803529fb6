#include "app/core/uitext.h"

#include "app/core/qclanguagexml.h"

QString uiText(const char *key, int page, int section)
{
    if (!g_langXml)
        return QString();
    return g_langXml->getLangText(page, section, QString::fromLatin1(key));
}

QString uiTextOrKey(const char *key, int page, int section)
{
    const QString text = uiText(key, page, section);
    return text.isEmpty() ? QString::fromLatin1(key) : text;
}

QString uiUnitText(int count, const char *oneKey, const char *manyKey, int page, int section)
{
    return uiTextOrKey(count == 1 ? oneKey : manyKey, page, section);
}
