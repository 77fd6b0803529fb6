#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>

class TiXmlElement;

// The user-visible texts, looked up by page id, section id and key in the
// language file. The file is parsed once, by load(), into one table of texts
// per place a lookup can start from (a page, or one of its sections); a
// lookup is then a hash look-up with the same answer the document walk
// gives, and may run on any thread once load() has returned.
class qcLanguageXml
{
public:
    static const char *const kFileName;    // "./languages/korvistalang.xml"
    static constexpr int kDirectKeys = 48; // section id of keys standing under the page

    qcLanguageXml() = default;

    // Reads and parses the language file; the number of bytes read. 0, with
    // the reason written to the warning log, when the file cannot be opened,
    // is empty, is no regular file (a named pipe is never waited on) or is no
    // XML document: a file the texts cannot come from.
    int load();

    // The text of the key, or "" when the page, a listed section or the
    // key is missing, or the text is too long to be a label.
    QString getLangText(int pageId, int sectionId, const QString &key) const;

private:
    // The texts a lookup finds from one element: for every element name
    // below it, the text of the first such element in the key search's order.
    struct Place
    {
        bool present = false;
        QHash<QByteArray, QString> texts;
    };
    static Place placeOf(TiXmlElement *element);

    static constexpr int kPageCount = 6;
    static constexpr int kSectionCount = 21;
    std::array<Place, kPageCount> m_pages;
    std::array<Place, kSectionCount> m_sections;
};

// Set by start-up, lives until the process ends.
extern qcLanguageXml *g_langXml;
