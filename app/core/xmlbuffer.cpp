#include "app/core/xmlbuffer.h"

#include <cstring>

namespace xmlbuffer {

QByteArray padded(const char *data, int size)
{
    if (!data || size < 0)
        size = 0;
    QByteArray out(size + kPadding, '\0');
    if (size > 0)
        std::memcpy(out.data(), data, size_t(size));
    return out;
}

void parsePadded(TiXmlDocument *doc, const char *text, TiXmlEncoding encoding)
{
    doc->Parse(text, nullptr, encoding);
}

void parse(TiXmlDocument *doc, const char *data, int size, TiXmlEncoding encoding)
{
    const QByteArray text = padded(data, size);
    parsePadded(doc, text.constData(), encoding);
}

} // namespace xmlbuffer
