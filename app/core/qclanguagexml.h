#pragma once

#include <QByteArray>
#include <QString>

// The user-visible texts, looked up by page id, section id and key in the
// language file. Each lookup parses the stored bytes anew, so lookups may
// run on any thread once load() has returned.
class qcLanguageXml
{
public:
    static const char *const kFileName;    // "./languages/korvistalang.xml"
    static constexpr int kDirectKeys = 48; // section id of keys standing under the page

    qcLanguageXml() = default;

    // Reads the language file whole; the number of bytes read, 0 when the
    // file cannot be opened or is empty.
    int load();

    // The text of the key, or "" when the page, a listed section or the
    // key is missing, or the text is too long to be a label.
    QString getLangText(int pageId, int sectionId, const QString &key) const;

private:
    QByteArray m_data;
};

// Set by start-up, lives until the process ends.
extern qcLanguageXml *g_langXml;
