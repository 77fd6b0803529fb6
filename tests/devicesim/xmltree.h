#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QXmlStreamAttributes>

namespace devicesim {

// A plain element tree that keeps every character of a leaf's text, blanks
// included (DOM readers drop white-space-only texts, which the device must keep).
struct XmlNode
{
    QString name;
    QXmlStreamAttributes attributes;
    QString text; // leaves only
    QList<XmlNode> children;

    bool isLeaf() const { return children.isEmpty(); }

    static bool parse(const QByteArray &xml, XmlNode *root, QString *error);
    // Printed with four-blank indentation; leaf texts exactly as stored.
    QByteArray print() const;
};

// Merges a set request into a stored document: every leaf of the request
// sets the text of the element at the same path (the n-th of repeated
// siblings to the n-th); elements the document lacks are added. The roots'
// names are not compared.
void mergeInto(XmlNode *target, const XmlNode &request);

// The document without a leading XML declaration and surrounding blanks.
QByteArray stripDeclaration(const QByteArray &xml);

} // namespace devicesim
