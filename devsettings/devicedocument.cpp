#include "devsettings/devicedocument.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/xmlbuffer.h"

#include <QRegularExpression>

DeviceDocument::DeviceDocument() : m_doc(new TiXmlDocument) {}

DeviceDocument::~DeviceDocument() = default;

bool DeviceDocument::parse(const QByteArray &body, qint64 length)
{
    m_doc.reset(new TiXmlDocument);
    m_valid = false;
    if (body.isEmpty() || body.size() != length)
        return false;
    qcXmlHelper::keepWhiteSpace();
    xmlbuffer::parse(m_doc.get(), body, TIXML_DEFAULT_ENCODING);
    if (m_doc->Error() || !m_doc->RootElement())
        return false;
    // Only the root goes back: a second top-level element would be lost.
    int roots = 0;
    for (const TiXmlNode *n = m_doc->FirstChild(); n; n = n->NextSibling())
        roots += n->Type() == TiXmlNode::TINYXML_ELEMENT;
    m_valid = roots == 1;
    return m_valid;
}

bool DeviceDocument::isValid() const
{
    return m_valid;
}

QByteArray DeviceDocument::toText() const
{
    return m_valid ? qcXmlHelper::print(m_doc->RootElement()) : QByteArray();
}

TiXmlElement *DeviceDocument::find(const char *name) const
{
    return m_valid ? qcXmlHelper::deepFind(m_doc->RootElement(), QByteArray(name)) : nullptr;
}

bool DeviceDocument::leafText(const TiXmlElement *element, QString *text)
{
    QByteArray bytes;
    for (const TiXmlNode *n = element->FirstChild(); n; n = n->NextSibling()) {
        const TiXmlText *t = n->ToText();
        if (!t)
            return false;
        bytes += t->Value();
    }
    *text = QString::fromUtf8(bytes).trimmed();
    return true;
}

void DeviceDocument::setLeafText(TiXmlElement *element, const QString &text)
{
    element->Clear();
    element->LinkEndChild(new TiXmlText(text.toUtf8().constData()));
}

namespace {

// A text node of blanks only (the layout between elements), which the week
// may hold anywhere.
bool isLayout(const TiXmlNode *n)
{
    const TiXmlText *t = n->ToText();
    return t && QByteArray(t->Value()).trimmed().isEmpty();
}

bool hasOnlyAttribute(const TiXmlElement *e, const char *name)
{
    for (const TiXmlAttribute *a = e->FirstAttribute(); a; a = a->Next()) {
        if (!name || qstrcmp(a->Name(), name) != 0)
            return false;
    }
    return true;
}

// The element children of e; false when e holds anything else but layout.
bool elementChildren(const TiXmlElement *e, QVector<const TiXmlElement *> *out)
{
    for (const TiXmlNode *n = e->FirstChild(); n; n = n->NextSibling()) {
        if (const TiXmlElement *c = n->ToElement())
            out->append(c);
        else if (!isLayout(n))
            return false;
    }
    return true;
}

void addLeaf(TiXmlElement *parent, const char *name, const QString &text)
{
    auto *e = new TiXmlElement(name);
    e->LinkEndChild(new TiXmlText(text.toUtf8().constData()));
    parent->LinkEndChild(e);
}

} // namespace

bool ScheduleDocument::parse(const QByteArray &body, qint64 length)
{
    m_active = -1;
    m_hasActive = false;
    m_weekReadable = false;
    m_week = WeekSections(kDays);
    if (!DeviceDocument::parse(body, length))
        return false;
    QString text;
    if (const TiXmlElement *active = find("active")) {
        m_hasActive = true;
        bool ok = false;
        const int value = leafText(active, &text) ? text.toInt(&ok) : -1;
        m_active = ok && value >= 0 && value <= 2 ? value : -1;
    }
    const TiXmlElement *week = find("week");
    m_weekReadable = week && readWeek(week);
    if (!m_weekReadable)
        m_week = WeekSections(kDays);
    return true;
}

bool ScheduleDocument::readWeek(const TiXmlElement *week)
{
    QVector<const TiXmlElement *> days;
    if (!elementChildren(week, &days))
        return false;
    QVector<bool> seen(kDays, false);
    for (const TiXmlElement *day : qAsConst(days)) {
        int id = -1;
        if (day->ValueStr() != "day" || !hasOnlyAttribute(day, "id") ||
            day->QueryIntAttribute("id", &id) != TIXML_SUCCESS || id < 0 || id >= kDays || seen[id] ||
            QByteArray(day->Attribute("id")).trimmed() != QByteArray::number(id))
            return false;
        seen[id] = true;
        QVector<const TiXmlElement *> sections;
        if (!elementChildren(day, &sections))
            return false;
        for (const TiXmlElement *section : qAsConst(sections)) {
            QVector<const TiXmlElement *> parts;
            if (section->ValueStr() != "section" || !hasOnlyAttribute(section, nullptr) ||
                !elementChildren(section, &parts) || parts.size() != 2)
                return false;
            const TiXmlElement *start = parts[0]->ValueStr() == "start" ? parts[0] : parts[1];
            const TiXmlElement *end = parts[0]->ValueStr() == "start" ? parts[1] : parts[0];
            TimeSection s;
            QString text;
            if (start->ValueStr() != "start" || end->ValueStr() != "end" || !hasOnlyAttribute(start, nullptr) ||
                !hasOnlyAttribute(end, nullptr) || !leafText(start, &text) || !parseTime(text, &s.start) ||
                !leafText(end, &text) || !parseTime(text, &s.end))
                return false;
            m_week[id].append(s);
        }
        weeksections::sortDay(&m_week[id]);
    }
    return true;
}

bool ScheduleDocument::change(int active, const WeekSections *week)
{
    TiXmlElement *activeElement = find("active");
    TiXmlElement *weekElement = find("week");
    if (active < 0 || active > 2 || !activeElement || (week && (!m_weekReadable || week->size() != kDays)))
        return false;
    setLeafText(activeElement, QString::number(active));
    m_active = active;
    if (!week)
        return true;
    weekElement->Clear();
    for (int d = 0; d < kDays; ++d) {
        auto *day = new TiXmlElement("day");
        day->SetAttribute("id", d);
        for (const TimeSection &s : week->at(d)) {
            auto *section = new TiXmlElement("section");
            addLeaf(section, "start", timeText(s.start));
            addLeaf(section, "end", timeText(s.end));
            day->LinkEndChild(section);
        }
        weekElement->LinkEndChild(day);
    }
    m_week = *week;
    return true;
}

bool ScheduleDocument::parseTime(const QString &text, int *minutes)
{
    static const QRegularExpression form(QStringLiteral("^([01][0-9]|2[0-3]):([0-5][0-9])$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    *minutes = m.captured(1).toInt() * 60 + m.captured(2).toInt();
    return true;
}

QString ScheduleDocument::timeText(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

const QStringList &AlarmActionsDocument::keys()
{
    static const QStringList all{"record", "snapshot", "ftp", "sendemail", "alarmout", "notifyserver", "audioout"};
    return all;
}

int AlarmActionsDocument::action(const QString &key) const
{
    const TiXmlElement *e = find(key.toUtf8().constData());
    QString text;
    if (!e || !leafText(e, &text))
        return -1;
    return text == QLatin1String("1") ? 1 : text == QLatin1String("0") ? 0 : -1;
}

bool AlarmActionsDocument::change(const QList<QPair<QString, bool>> &actions)
{
    if (actions.isEmpty())
        return false;
    for (const auto &a : actions) {
        if (action(a.first) < 0)
            return false;
    }
    for (const auto &a : actions)
        setLeafText(find(a.first.toUtf8().constData()), a.second ? QStringLiteral("1") : QStringLiteral("0"));
    return true;
}
