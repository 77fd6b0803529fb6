#include "app/core/xmlreply.h"

#include "app/core/cgiutil.h"

#include <QTextCodec>
#include <QXmlStreamReader>

namespace xmlreply {

namespace {

bool validUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    // A sequence cut at the end is held back as remaining, not counted.
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

bool usableBody(const QByteArray &body, const char *element)
{
    if (!validUtf8(body))
        return false;
    QXmlStreamReader xml(body);
    bool found = !element;
    bool anyElement = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        anyElement = true;
        if (!found && xml.name() == QLatin1String(element))
            found = true;
    }
    // The reader reports a root left open as a premature end.
    return !xml.hasError() && anyElement && found;
}

bool usableWholeBody(const CGIUtil &request, const char *element)
{
    const QByteArray body = request.replyBody();
    if (body.isEmpty() || request.replyLength() != body.size())
        return false;
    return usableBody(body, element);
}

} // namespace xmlreply
