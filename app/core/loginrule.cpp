#include "app/core/loginrule.h"

namespace loginrule {

QRegExp allowed()
{
    return QRegExp(QStringLiteral("^[0-9a-zA-Z]{0,%1}$").arg(kMaxLength), Qt::CaseSensitive);
}

bool canBeTyped(const QString &text)
{
    // exactMatch, as the form's validator judges: the whole text or nothing.
    return !text.isEmpty() && allowed().exactMatch(text);
}

} // namespace loginrule
