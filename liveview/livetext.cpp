#include "liveview/livetext.h"

#include "app/qclanguagexml.h"

QString liveText(int page, int section, const char *key)
{
    const QString k = QString::fromLatin1(key);
    if (!g_langXml)
        return k;
    const QString text = g_langXml->getLangText(page, section, k);
    return text.isEmpty() ? k : text;
}
