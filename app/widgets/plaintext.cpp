#include "app/widgets/plaintext.h"

#include <QTextDocument>

namespace plaintext {

QString toolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace plaintext
