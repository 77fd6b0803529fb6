#include "xmltree.h"

#include <QHash>
#include <QXmlStreamReader>

namespace devicesim {

bool XmlNode::parse(const QByteArray &xml, XmlNode *root, QString *error)
{
    QXmlStreamReader reader(xml);
    QList<XmlNode> stack;
    bool haveRoot = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (haveRoot && stack.isEmpty()) {
                *error = QStringLiteral("more than one root element");
                return false;
            }
            XmlNode n;
            n.name = reader.name().toString();
            n.attributes = reader.attributes();
            stack.append(n);
            break;
        }
        case QXmlStreamReader::Characters:
            if (!stack.isEmpty())
                stack.last().text += reader.text();
            break;
        case QXmlStreamReader::EndElement: {
            XmlNode done = stack.takeLast();
            if (!done.children.isEmpty())
                done.text.clear();
            if (stack.isEmpty()) {
                *root = done;
                haveRoot = true;
            } else {
                stack.last().children.append(done);
            }
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError()) {
        *error = reader.errorString();
        return false;
    }
    if (!haveRoot) {
        *error = QStringLiteral("no root element");
        return false;
    }
    return true;
}

static QString escaped(const QString &s, bool attribute)
{
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        if (c == QLatin1Char('&'))
            out += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            out += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            out += QLatin1String("&gt;");
        else if (attribute && c == QLatin1Char('"'))
            out += QLatin1String("&quot;");
        else
            out += c;
    }
    return out;
}

static void printNode(const XmlNode &n, int depth, QString *out)
{
    const QString indent(depth * 4, QLatin1Char(' '));
    *out += indent + QLatin1Char('<') + n.name;
    for (const auto &a : n.attributes)
        *out += QLatin1Char(' ') + a.qualifiedName().toString() + QLatin1String("=\"") +
                escaped(a.value().toString(), true) + QLatin1Char('"');
    *out += QLatin1Char('>');
    if (n.isLeaf()) {
        *out += escaped(n.text, false);
    } else {
        *out += QLatin1Char('\n');
        for (const XmlNode &c : n.children)
            printNode(c, depth + 1, out);
        *out += indent;
    }
    *out += QLatin1String("</") + n.name + QLatin1String(">\n");
}

QByteArray XmlNode::print() const
{
    QString out;
    printNode(*this, 0, &out);
    return out.toUtf8();
}

void mergeInto(XmlNode *target, const XmlNode &request)
{
    if (request.isLeaf()) {
        target->children.clear();
        target->text = request.text;
        return;
    }
    QHash<QString, int> seen; // occurrences of each name so far in the request
    for (const XmlNode &child : request.children) {
        const int nth = seen[child.name]++;
        int count = 0;
        XmlNode *match = nullptr;
        for (XmlNode &t : target->children) {
            if (t.name == child.name && count++ == nth) {
                match = &t;
                break;
            }
        }
        if (!match) {
            target->text.clear();
            target->children.append(child);
        } else {
            mergeInto(match, child);
        }
    }
}

QByteArray stripDeclaration(const QByteArray &xml)
{
    QByteArray s = xml.trimmed();
    if (s.startsWith('\xEF') && s.startsWith("\xEF\xBB\xBF"))
        s = s.mid(3);
    if (s.startsWith("<?xml")) {
        const int end = s.indexOf("?>");
        if (end >= 0)
            s = s.mid(end + 2).trimmed();
    }
    return s;
}

} // namespace devicesim
