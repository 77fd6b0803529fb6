// libFuzzer target: the XML wrapper. TinyXML itself is not instrumented, so
// the padded text is also parsed from memory that ends right before an
// inaccessible page: a read past the padding faults.
#include <cstddef>
#include <cstdint>

#include "app/core/qcxmlhelper.h"
#include "app/core/xmlbuffer.h"
#include "tests/support/guardedbytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QByteArray padded = xmlbuffer::padded(input.constData(), input.size());
    testsupport::GuardedBytes guarded(padded.constData(), size_t(padded.size()));
    for (TiXmlEncoding encoding : {TIXML_ENCODING_UTF8, TIXML_ENCODING_UNKNOWN}) {
        TiXmlDocument doc;
        xmlbuffer::parsePadded(&doc, guarded.data(), encoding);
    }

    qcXmlHelper xml(input);
    QString text;
    xml.getString(QStringLiteral("status"), &text);
    xml.enterElement(QStringLiteral("a"), true);
    xml.getText(QStringLiteral("b"), &text);
    xml.enterElement(QStringLiteral("c"), false);
    xml.setElementText(QStringLiteral("d"), QStringLiteral("x"));
    while (xml.nextSibling())
        xml.setCurrentText(QStringLiteral("y"));
    xml.setText(QStringLiteral("e"), QStringLiteral("z"));
    xml.setElementInt(QStringLiteral("f"), 7);
    xml.addElementText(QStringLiteral("g"), QStringLiteral("h"));
    xml.renameElement(QStringLiteral("a"), "r");
    char out[256];
    const int n = xml.toText(out, int(sizeof out));
    if (n >= int(sizeof out) || (n >= 0 && out[n] != '\0'))
        __builtin_trap();
    return 0;
}
