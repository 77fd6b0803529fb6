#include "app/core/qclanguagexml.h"

#include "app/core/qcxmlhelper.h"

#include <QFile>

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

const Section *findSection(int page, int id)
{
    for (const Section &s : kSections) {
        if (s.page == page && s.id == id)
            return &s;
    }
    return nullptr;
}

} // namespace

int qcLanguageXml::load()
{
    QFile file(QString::fromLatin1(kFileName));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    if (file.size() > INT_MAX)
        return 0;
    m_data = file.readAll();
    return m_data.size();
}

QString qcLanguageXml::getLangText(int pageId, int sectionId, const QString &key) const
{
    if (pageId < kFirstPage || pageId > kLastPage || m_data.isEmpty() || key.isEmpty())
        return QString();
    qcXmlHelper xml(m_data);
    if (!xml.enterElement(QString::fromLatin1(kPages[pageId - kFirstPage]), true))
        return QString();
    // Every section is searched from the root, but the week days only from
    // the common page onwards. Unlisted ids leave the page current.
    if (const Section *section = findSection(pageId, sectionId)) {
        const bool fromRoot = !(pageId == 33 && sectionId == 49);
        if (!xml.enterElement(QString::fromLatin1(section->name), fromRoot))
            return QString();
    }
    QString text;
    if (!xml.getText(key, &text))
        return QString();
    return text;
}
