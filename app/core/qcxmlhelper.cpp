#include "app/core/qcxmlhelper.h"

#include "app/core/xmlbuffer.h"

#include <tinyxml.h>

#include <cstring>
#include <mutex>

QString xmlEscape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&apos;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

bool replaceText(TiXmlNode *node, const QByteArray &text)
{
    TiXmlElement *e = node ? node->ToElement() : nullptr;
    if (!e)
        return false;
    TiXmlNode *first = e->FirstChild();
    if (!first) {
        e->Clear();
        e->LinkEndChild(new TiXmlText(text.constData()));
        return true;
    }
    if (TiXmlText *t = first->ToText()) {
        t->SetValue(text.constData());
        return true;
    }
    return false;
}

} // namespace

// A child whose first child has children of its own is a container: look
// inside it before comparing its own name, so nested keys win.
TiXmlElement *qcXmlHelper::childFirstWalk(TiXmlNode *parent, const std::function<bool(TiXmlElement *)> &visit)
{
    for (TiXmlNode *child = parent->FirstChild(); child; child = child->NextSibling()) {
        TiXmlNode *first = child->FirstChild();
        if (first && first->FirstChild()) {
            if (TiXmlElement *found = childFirstWalk(child, visit))
                return found;
        }
        TiXmlElement *e = child->ToElement();
        if (e && visit(e))
            return e;
    }
    return nullptr;
}

TiXmlElement *qcXmlHelper::deepFind(TiXmlElement *start, const QByteArray &name)
{
    for (TiXmlElement *e = start; e; e = e->NextSiblingElement()) {
        if (e->ValueStr() == name.constData())
            return e;
        if (TiXmlElement *child = e->FirstChildElement()) {
            if (TiXmlElement *found = deepFind(child, name))
                return found;
        }
    }
    return nullptr;
}

void qcXmlHelper::keepWhiteSpace()
{
    static std::once_flag once;
    std::call_once(once, [] { TiXmlBase::SetCondenseWhiteSpace(false); });
}

qcXmlHelper::qcXmlHelper(const char *text) : qcXmlHelper(text, text ? int(std::strlen(text)) : 0) {}

qcXmlHelper::qcXmlHelper(const QByteArray &bytes) : qcXmlHelper(bytes.constData(), bytes.size()) {}

qcXmlHelper::qcXmlHelper(const char *data, int size) : m_doc(new TiXmlDocument)
{
    keepWhiteSpace();
    // A parse error leaves whatever was built; lookups then simply fail.
    if (size > 0)
        xmlbuffer::parse(m_doc.get(), data, size, TIXML_DEFAULT_ENCODING);
}

qcXmlHelper::~qcXmlHelper() = default;

TiXmlElement *qcXmlHelper::root() const
{
    return m_doc->RootElement();
}

bool qcXmlHelper::enterElement(const QString &name, bool fromRoot)
{
    TiXmlElement *start = (fromRoot || !m_current) ? root() : m_current;
    TiXmlElement *found = deepFind(start, name.toUtf8());
    if (!found)
        return false;
    m_current = found;
    return true;
}

bool qcXmlHelper::getString(const QString &name, QString *text)
{
    TiXmlElement *found = deepFind(root(), name.toUtf8());
    if (!found)
        return false;
    m_current = found;
    const char *value = found->GetText();
    if (!value || !*value)
        return false;
    if (text)
        *text = QString::fromUtf8(value);
    return true;
}

bool qcXmlHelper::getText(const QString &name, QString *text)
{
    if (!m_current)
        return false;
    const QByteArray wanted = name.toUtf8();
    TiXmlElement *found =
        childFirstWalk(m_current, [&](TiXmlElement *e) { return e->ValueStr() == wanted.constData(); });
    return found && labelText(found, text);
}

bool qcXmlHelper::labelText(const TiXmlElement *element, QString *text)
{
    const char *value = element->GetText();
    const QByteArray bytes(value ? value : "");
    if (bytes.size() > kMaxTextBytes)
        return false;
    if (text)
        *text = QString::fromUtf8(bytes);
    return true;
}

bool qcXmlHelper::addElement(const QString &name)
{
    if (!m_current)
        return false;
    m_current->LinkEndChild(new TiXmlElement(name.toUtf8().constData()));
    return true;
}

bool qcXmlHelper::addElementText(const QString &name, const QString &text)
{
    if (!m_current)
        return false;
    auto *e = new TiXmlElement(name.toUtf8().constData());
    e->LinkEndChild(new TiXmlText(text.toUtf8().constData()));
    m_current->LinkEndChild(e);
    return true;
}

bool qcXmlHelper::setText(const QString &name, const QString &text)
{
    TiXmlElement *found = deepFind(root(), name.toUtf8());
    if (!found)
        return false;
    m_current = found;
    return replaceText(found, text.toUtf8());
}

bool qcXmlHelper::setElementInt(const QString &name, int value)
{
    TiXmlElement *found = deepFind(root(), name.toUtf8());
    if (!found)
        return false;
    m_current = found;
    TiXmlNode *first = found->FirstChild();
    TiXmlText *t = first ? first->ToText() : nullptr;
    if (!t)
        return false;
    t->SetValue(QByteArray::number(value).constData());
    return true;
}

// Walks the current element's direct children; every step onwards leaves
// the sibling cursor on the child reached, which the set-up dialogs use to
// continue with nextSibling after a match.
TiXmlElement *qcXmlHelper::walkChildren(const QByteArray &name)
{
    if (!m_current)
        return nullptr;
    TiXmlNode *child = m_current->FirstChild();
    while (child) {
        TiXmlElement *e = child->ToElement();
        if (e && e->ValueStr() == name.constData())
            return e;
        child = child->NextSibling();
        m_sibling = child;
    }
    return nullptr;
}

bool qcXmlHelper::setElementText(const QString &name, const QString &text)
{
    TiXmlElement *found = walkChildren(name.toUtf8());
    return found && replaceText(found, text.toUtf8());
}

bool qcXmlHelper::setChildInt(const QString &name, int value)
{
    return setElementText(name, QString::number(value));
}

bool qcXmlHelper::nextSibling()
{
    if (!m_sibling || !m_sibling->NextSibling())
        return false;
    m_sibling = m_sibling->NextSibling();
    return true;
}

bool qcXmlHelper::setCurrentText(const QString &text)
{
    return m_sibling && replaceText(m_sibling, text.toUtf8());
}

bool qcXmlHelper::renameElement(const QString &name, const char *newName)
{
    TiXmlElement *found = deepFind(root(), name.toUtf8());
    if (!found || !newName)
        return false;
    m_current = found;
    found->SetValue(newName);
    return true;
}

QByteArray qcXmlHelper::print(const TiXmlElement *element)
{
    if (!element)
        return QByteArray();
    TiXmlPrinter printer;
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    element->Accept(&printer);
    return QByteArray(printer.CStr(), int(printer.Size()));
}

QByteArray qcXmlHelper::toText() const
{
    return print(root());
}

int qcXmlHelper::toText(char *out, int capacity) const
{
    if (!out || !root())
        return -1;
    const QByteArray text = toText();
    if (capacity <= 0 || text.size() >= capacity)
        return -1;
    std::memcpy(out, text.constData(), size_t(text.size()) + 1);
    return text.size();
}
