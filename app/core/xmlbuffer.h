#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <tinyxml.h>

// TinyXML in UTF-8 mode steps over a character by the length its lead byte
// announces without looking for the end of the text: a lead byte at the very
// end makes it read up to three bytes past the terminating zero, into
// whatever follows the buffer. Every text handed to TinyXML goes through here
// and so ends in enough zero bytes to stop it.
namespace xmlbuffer {

// Zero bytes after the text: the terminator plus the three a four-byte lead
// can skip.
constexpr int kPadding = 4;

// The bytes followed by kPadding zero bytes (part of the array's size).
QByteArray padded(const char *data, int size);

// Parses text that already ends in kPadding zero bytes, as padded() makes it.
void parsePadded(TiXmlDocument *doc, const char *text, TiXmlEncoding encoding);

// Documents parsed so far by this process, on every thread: a parse costs
// about a millisecond per 30 KB, so whoever parses once rather than per use
// can be held to it.
quint64 parseCount();

// Copies the bytes into a padded buffer and parses them; the document keeps
// nothing of the buffer.
void parse(TiXmlDocument *doc, const char *data, int size, TiXmlEncoding encoding);
inline void parse(TiXmlDocument *doc, const QByteArray &bytes, TiXmlEncoding encoding)
{
    parse(doc, bytes.constData(), bytes.size(), encoding);
}

} // namespace xmlbuffer
