#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class TiXmlDocument;
class TiXmlElement;
class TiXmlNode;

// & < > " ' as entities; everything else keeps its characters. For text
// that goes into a document built as a string.
QString xmlEscape(const QString &text);

// One parsed XML document with two cursors: the current element, moved by
// the deep searches, and a sibling cursor, moved by the child walks and
// nextSibling. Names are compared byte for byte; texts go in and come out
// as UTF-8.
class qcXmlHelper
{
public:
    // Longest element text getText hands out, in bytes.
    static constexpr int kMaxTextBytes = 1023;

    explicit qcXmlHelper(const char *text);
    explicit qcXmlHelper(const QByteArray &bytes);
    qcXmlHelper(const char *data, int size);
    ~qcXmlHelper();

    qcXmlHelper(const qcXmlHelper &) = delete;
    qcXmlHelper &operator=(const qcXmlHelper &) = delete;

    // TinyXML condenses runs of blanks inside texts by default, which would
    // rewrite values such as "A  B" on every read-modify-write. The switch is
    // process-wide, so every code path that parses with TinyXML calls this
    // first; only the first call does anything.
    static void keepWhiteSpace();

    // Document order from start: the element itself, its descendants, then
    // the elements that follow it at the same level with theirs; never
    // upwards. Shared with the device request thread's reply accessors.
    static TiXmlElement *deepFind(TiXmlElement *start, const QByteArray &name);
    // The child-first order of getText below `parent`: its child nodes in
    // order, each container (a child whose first child has children) walked
    // inside before its own element is visited. Stops at, and returns, the
    // first element `visit` answers true for; null when none.
    static TiXmlElement *childFirstWalk(TiXmlNode *parent, const std::function<bool(TiXmlElement *)> &visit);
    // An element's text as getText hands it out: the first child's text
    // ("" without one); false when it is longer than kMaxTextBytes.
    static bool labelText(const TiXmlElement *element, QString *text);
    // An element printed as toText() prints the root; empty for null.
    static QByteArray print(const TiXmlElement *element);

    bool enterElement(const QString &name, bool fromRoot);
    bool getString(const QString &name, QString *text);
    bool getText(const QString &name, QString *text);
    bool addElement(const QString &name);
    bool addElementText(const QString &name, const QString &text);
    bool setText(const QString &name, const QString &text);
    bool setElementInt(const QString &name, int value);
    bool setElementText(const QString &name, const QString &text);
    bool setChildInt(const QString &name, int value);
    bool nextSibling();
    bool setCurrentText(const QString &text);
    bool renameElement(const QString &name, const char *newName);

    // The root element printed with four-blank indents and "\n" line
    // breaks; no XML declaration. Empty when the document has no root.
    QByteArray toText() const;
    // The same text copied into out with a terminating zero; returns its
    // length, or -1 (out untouched) when out is null, there is no root, or
    // text and zero do not fit into capacity bytes. out may be the buffer
    // the wrapper was built from.
    int toText(char *out, int capacity) const;

private:
    TiXmlElement *root() const;
    TiXmlElement *walkChildren(const QByteArray &name);

    std::unique_ptr<TiXmlDocument> m_doc;
    TiXmlElement *m_current = nullptr;
    TiXmlNode *m_sibling = nullptr;
};
