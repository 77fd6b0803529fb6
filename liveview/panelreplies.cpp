#include "liveview/panelreplies.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/xmlbuffer.h"

#include <tinyxml.h>

namespace panelreplies {

const char *const kImageElements[kImageValues] = {"saturation", "brightness", "sharpness", "contrast", "mirror"};

namespace {

bool number(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok, 10);
    return ok;
}

bool elementNumber(TiXmlElement *root, const char *name, int *value)
{
    TiXmlElement *e = qcXmlHelper::deepFind(root, name);
    return e && e->GetText() && number(QString::fromUtf8(e->GetText()), value);
}

} // namespace

bool readImage(const QByteArray &body, ImageReading *out)
{
    qcXmlHelper xml(body);
    for (int i = 0; i < kImageValues; ++i) {
        QString &text = out->text[i];
        if (!xml.getString(QLatin1String(kImageElements[i]), &text) || !number(text, &out->value[i]))
            return false;
        if (out->value[i] < 0 || out->value[i] > (i == kMirror ? 3 : 100))
            return false;
    }
    xml.renameElement(QStringLiteral("response"), "request");
    out->document = xml.toText();
    return true;
}

bool readPtz(const QByteArray &body, int maxPresets, PtzReading *out)
{
    qcXmlHelper::keepWhiteSpace();
    TiXmlDocument doc;
    xmlbuffer::parse(&doc, body, TIXML_ENCODING_UTF8);
    TiXmlElement *root = doc.RootElement();
    if (!root || !elementNumber(root, "speed", &out->speed))
        return false;
    const char *const names[6] = {"addr", "baudrate", "databit", "stopbit", "parity", "flowctrl"};
    out->serialRead = true;
    for (int i = 0; i < 6; ++i)
        out->serialRead = elementNumber(root, names[i], &out->serial[i]) && out->serialRead;

    TiXmlElement *preset = qcXmlHelper::deepFind(root, "preset");
    TiXmlElement *child = preset ? preset->FirstChildElement("pname") : nullptr;
    for (; child && out->presets.size() < maxPresets; child = child->NextSiblingElement())
        out->presets << QString::fromUtf8(child->GetText() ? child->GetText() : "");
    return true;
}

} // namespace panelreplies
