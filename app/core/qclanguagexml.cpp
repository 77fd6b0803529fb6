#include "app/core/qclanguagexml.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/xmlbuffer.h"
#include "platform/regularfile.h"

#include <QDebug>

#include <tinyxml.h>

#include <climits>

qcLanguageXml *g_langXml = nullptr;

const char *const qcLanguageXml::kFileName = "./languages/korvistalang.xml";

namespace {

struct Section
{
    int page;
    int id;
    const char *name;
};

const char *const kPages[] = {"commonpage",        "previewpage",         "playbackpage",
                              "localsettingspage", "remoteconfigurepage", "tipsinfos"};
constexpr int kFirstPage = 33;
constexpr int kLastPage = 38;

const Section kSections[] = {
    {33, 49, "weekdays"},     {33, 50, "monthitems"},    {33, 51, "alarmactions"}, {34, 65, "alarmlist"},
    {34, 66, "deviceadd"},    {34, 67, "alarmtypes"},    {35, 81, "recordclip"},   {36, 97, "userauthoritys"},
    {37, 113, "generalpage"}, {37, 114, "maintainpage"}, {37, 115, "tcpippage"},   {37, 116, "advnetpage"},
    {37, 117, "wifipage"},    {37, 118, "videopage"},    {37, 119, "audiopage"},   {37, 120, "imagepage"},
    {37, 121, "osdpage"},     {37, 122, "motionpage"},   {37, 123, "storagepage"}, {37, 124, "schedulepage"},
    {37, 125, "userspage"},
};

// -1 for an id the page does not list: the key is then looked up under the page.
int sectionIndex(int page, int id)
{
    for (int i = 0; i < int(sizeof(kSections) / sizeof(kSections[0])); ++i) {
        if (kSections[i].page == page && kSections[i].id == id)
            return i;
    }
    return -1;
}

} // namespace

int qcLanguageXml::load()
{
    static_assert(sizeof(kPages) / sizeof(kPages[0]) == kPageCount, "one name per page id");
    static_assert(sizeof(kSections) / sizeof(kSections[0]) == kSectionCount, "a place per section");
    m_pages = {};
    m_sections = {};
    QByteArray bytes;
    QString reason;
    const QString path = QString::fromLatin1(kFileName);
    if (!platform::readRegularFile(path, INT_MAX, &bytes, &reason)) {
        qWarning().noquote() << "language file" << path << "cannot be read:" << reason;
        return 0;
    }
    if (bytes.isEmpty()) {
        qWarning().noquote() << "language file" << path << "is empty";
        return 0;
    }
    qcXmlHelper::keepWhiteSpace();
    TiXmlDocument doc;
    xmlbuffer::parse(&doc, bytes, TIXML_DEFAULT_ENCODING);
    TiXmlElement *root = doc.RootElement();
    if (doc.Error()) {
        qWarning().noquote() << "language file" << path << "is no XML document:" << doc.ErrorDesc();
        return 0;
    }
    if (!root) {
        qWarning().noquote() << "language file" << path << "holds no element";
        return 0;
    }
    // Every page and section is searched from the root, but the week days
    // only from the common page onwards.
    for (int p = 0; p < kPageCount; ++p) {
        TiXmlElement *page = qcXmlHelper::deepFind(root, kPages[p]);
        if (!page)
            continue;
        m_pages[size_t(p)] = placeOf(page);
        for (int s = 0; s < kSectionCount; ++s) {
            const Section &section = kSections[s];
            if (section.page != kFirstPage + p)
                continue;
            const bool fromPage = section.page == 33 && section.id == 49;
            if (TiXmlElement *found = qcXmlHelper::deepFind(fromPage ? page : root, section.name))
                m_sections[size_t(s)] = placeOf(found);
        }
    }
    return bytes.size();
}

qcLanguageXml::Place qcLanguageXml::placeOf(TiXmlElement *element)
{
    Place place;
    place.present = true;
    qcXmlHelper::childFirstWalk(element, [&place](TiXmlElement *e) {
        const QByteArray name(e->Value());
        if (!place.texts.contains(name)) {
            QString text;
            qcXmlHelper::labelText(e, &text);
            place.texts.insert(name, text);
        }
        return false;
    });
    return place;
}

QString qcLanguageXml::getLangText(int pageId, int sectionId, const QString &key) const
{
    if (pageId < kFirstPage || pageId > kLastPage || key.isEmpty())
        return QString();
    const Place &page = m_pages[size_t(pageId - kFirstPage)];
    if (!page.present)
        return QString();
    const int section = sectionIndex(pageId, sectionId);
    const Place &place = section < 0 ? page : m_sections[size_t(section)];
    // Names are compared as C strings: a key ends at its first zero.
    QByteArray name = key.toUtf8();
    const int zero = name.indexOf('\0');
    if (zero >= 0)
        name.truncate(zero);
    return place.texts.value(name);
}
