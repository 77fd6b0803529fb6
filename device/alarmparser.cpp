#include "device/alarmparser.h"

#include "app/core/qcxmlhelper.h"

#include <cstring>

namespace {

bool isNameEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>';
}

} // namespace

int AlarmParser::topicCode(const QString &topic)
{
    static const char *const kTopics[] = {
        "MOTION", "PIR", "IO", "CROSSLINE", "INSTRUSION", "HUMANDECTION", "FACEDECTION", "OBJECTLEFTLOST", "LOITERING"};
    for (int i = 0; i < 9; ++i) {
        if (topic == QLatin1String(kTopics[i]))
            return 65 + i;
    }
    return 64;
}

int AlarmParser::alarmCode(const QByteArray &message)
{
    qcXmlHelper xml(message);
    QString status, topic;
    if (xml.getString(QStringLiteral("status"), &status) && status == QLatin1String("1") &&
        xml.getString(QStringLiteral("topic"), &topic))
        return topicCode(topic);
    return -1;
}

QList<int> AlarmParser::feed(const char *data, int size)
{
    QList<int> codes;
    for (const QByteArray &message : takeMessages(data, size)) {
        m_steps += message.size();
        const int code = alarmCode(message);
        if (code >= 0)
            codes.append(code);
    }
    return codes;
}

QList<QByteArray> AlarmParser::takeMessages(const char *data, int size)
{
    QList<QByteArray> out;
    while (size > 0) {
        const int n = qMin(size, kCapacity - m_buffer.size());
        m_buffer.append(data, n);
        data += n;
        size -= n;
        scan(&out);
        compact();
        if (m_buffer.size() >= kCapacity) {
            ++m_dropped;
            reset();
        }
    }
    return out;
}

void AlarmParser::reset()
{
    m_buffer.clear();
    m_pos = 0;
    m_tag = -1;
    m_skip = Skip::None;
    m_skipTag = -1;
    m_restart = -1;
    m_rescanned = -1;
    m_message = -1;
    m_depth = 0;
}

bool AlarmParser::nameAt(int at, int end) const
{
    const char *b = m_buffer.constData();
    return at + m_rootNameSize < end && std::memcmp(b + at, b + m_rootName, size_t(m_rootNameSize)) == 0 &&
           isNameEnd(b[at + m_rootNameSize]);
}

// One byte inside a comment or CDATA section. A device that broke off inside
// one goes on with whole messages, so a declaration there, or an element named
// like the open message's root, ends the section and the broken message.
void AlarmParser::skipped(int i)
{
    const char *b = m_buffer.constData();
    const char c = b[i];
    // "-->" or "]]>", not overlapping the opening "<!--" or "<![CDATA[".
    const char mark = m_skip == Skip::Comment ? '-' : ']';
    const int opener = m_skip == Skip::Comment ? 4 : 9;
    if (c == '>' && i - 2 >= m_tag + opener && b[i - 1] == mark && b[i - 2] == mark) {
        m_skip = Skip::None;
        m_tag = m_skipTag = m_restart = -1;
        return;
    }
    if (c == '<') {
        m_skipTag = i;
        return;
    }
    if (c != '>' || m_skipTag < 0)
        return;
    const int t = m_skipTag;
    m_skipTag = -1;
    const bool declaration =
        i - t > 5 && std::memcmp(b + t + 1, "?xml", 4) == 0 && (isNameEnd(b[t + 5]) || b[t + 5] == '?');
    const bool rootStart = m_message >= 0 && nameAt(t + 1, i + 1);
    const bool rootEnd = m_message >= 0 && b[t + 1] == '/' && nameAt(t + 2, i + 1);
    // Bytes scanned again are not scanned a third time: the work stays
    // linear in the bytes whatever nests inside them.
    if (rootStart && m_restart < 0 && t > m_rescanned)
        m_restart = t;
    if (!declaration && !(rootEnd && m_restart >= 0))
        return;
    // Scanning goes on after the declaration, or again from the start tag.
    if (!declaration) {
        m_rescanned = i;
        m_pos = m_restart - 1;
    }
    m_skip = Skip::None;
    m_tag = m_restart = -1;
    m_message = -1;
    m_depth = 0;
}

void AlarmParser::scan(QList<QByteArray> *out)
{
    const char *b = m_buffer.constData();
    const int n = m_buffer.size();
    for (; m_pos < n; ++m_pos) {
        ++m_steps;
        const int i = m_pos;
        const char c = b[i];
        if (m_skip != Skip::None) {
            skipped(i);
            continue;
        }
        if (m_tag < 0) {
            if (c == '<')
                m_tag = i;
            continue;
        }
        if (c == '<') {
            // No tag holds a '<': the one before broke off here.
            m_tag = i;
        } else if (c == '>') {
            closeTag(i, out);
            m_tag = -1;
        } else if (i == m_tag + 3 && std::memcmp(b + m_tag + 1, "!--", 3) == 0) {
            m_skip = Skip::Comment;
        } else if (i == m_tag + 8 && std::memcmp(b + m_tag + 1, "![CDATA[", 8) == 0) {
            m_skip = Skip::CData;
        }
    }
}

void AlarmParser::closeTag(int end, QList<QByteArray> *out)
{
    const char *b = m_buffer.constData();
    const int start = m_tag;
    const char kind = start + 1 < end ? b[start + 1] : '\0';
    if (kind == '?') {
        // A declaration starts a message: one still open never closes.
        const bool declaration = end - start > 5 && std::memcmp(b + start + 1, "?xml", 4) == 0 &&
                                 (isNameEnd(b[start + 5]) || b[start + 5] == '?');
        if (declaration && m_message >= 0) {
            m_message = -1;
            m_depth = 0;
        }
        return;
    }
    if (kind == '!')
        return;
    if (kind == '/') {
        if (m_message >= 0 && --m_depth == 0) {
            out->append(m_buffer.mid(m_message, end + 1 - m_message));
            m_steps += end + 1 - m_message;
            m_message = -1;
        }
        return;
    }
    int nameEnd = start + 1;
    while (nameEnd < end && !isNameEnd(b[nameEnd]))
        ++nameEnd;
    m_steps += nameEnd - start;
    const bool empty = b[end - 1] == '/' && end - 1 > start;
    const bool sameAsRoot = m_message >= 0 && nameEnd - start - 1 == m_rootNameSize &&
                            std::memcmp(b + start + 1, b + m_rootName, size_t(m_rootNameSize)) == 0;
    if (m_message < 0 || sameAsRoot) {
        // A new message; an open one named the same never closed.
        openMessage(start, nameEnd, end, empty, out);
    } else if (!empty) {
        ++m_depth;
    }
}

void AlarmParser::openMessage(int start, int nameEnd, int end, bool empty, QList<QByteArray> *out)
{
    m_message = start;
    m_rootName = start + 1;
    m_rootNameSize = nameEnd - start - 1;
    m_depth = empty ? 0 : 1;
    if (empty) {
        out->append(m_buffer.mid(start, end + 1 - start));
        m_steps += end + 1 - start;
        m_message = -1;
    }
}

void AlarmParser::compact()
{
    // Everything before the open message or tag is done with.
    int keep = m_buffer.size();
    if (m_message >= 0)
        keep = m_message;
    else if (m_tag >= 0)
        keep = m_tag;
    if (keep == 0)
        return;
    m_steps += m_buffer.size() - keep;
    m_buffer.remove(0, keep);
    m_pos -= keep;
    for (int *at : {&m_tag, &m_skipTag, &m_restart, &m_rescanned})
        if (*at >= 0)
            *at -= keep;
    if (m_message >= 0) {
        m_message -= keep;
        m_rootName -= keep;
    }
}
