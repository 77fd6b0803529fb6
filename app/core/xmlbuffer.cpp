#include "app/core/xmlbuffer.h"

#include <atomic>
#include <cstring>

namespace xmlbuffer {

namespace {
std::atomic<quint64> g_parses{0};
} // namespace

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
    ++g_parses;
    doc->Parse(text, nullptr, encoding);
}

quint64 parseCount()
{
    return g_parses.load();
}

void parse(TiXmlDocument *doc, const char *data, int size, TiXmlEncoding encoding)
{
    const QByteArray text = padded(data, size);
    parsePadded(doc, text.constData(), encoding);
}

} // namespace xmlbuffer
