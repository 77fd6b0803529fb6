#include "app/widgets/tiplayout.h"

#include <QTextBoundaryFinder>

namespace tiplayout {

namespace {

// Characters as the reader sees them, so that no break splits one.
QStringList graphemes(const QString &text)
{
    QStringList parts;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int from = 0;
    while (finder.toNextBoundary() != -1) {
        parts << text.mid(from, finder.position() - from);
        from = finder.position();
    }
    return parts;
}

QStringList wrapAnywhere(const QStringList &parts, const QFontMetrics &metrics, int width)
{
    QStringList lines;
    QString line;
    for (const QString &part : parts) {
        if (!line.isEmpty() && metrics.horizontalAdvance(line + part) > width) {
            lines << line;
            line.clear();
        }
        line += part;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

} // namespace

QStringList fitPath(const QString &path, const QFontMetrics &metrics, int width, int maxLines)
{
    maxLines = qMax(1, maxLines);
    const QStringList parts = graphemes(path);
    const QStringList whole = wrapAnywhere(parts, metrics, width);
    if (whole.size() <= maxLines)
        return whole;
    const QString ellipsis(QChar(0x2026));
    const auto elided = [&](int keep) {
        const QStringList head = parts.mid(0, (keep + 1) / 2);
        const QStringList tail = parts.mid(parts.size() - keep / 2);
        return wrapAnywhere(head + QStringList{ellipsis} + tail, metrics, width);
    };
    // The most characters kept that still fit; fewer kept never take more
    // lines.
    int fits = 0;
    int tooMany = parts.size();
    while (tooMany - fits > 1) {
        const int keep = (fits + tooMany) / 2;
        if (elided(keep).size() <= maxLines)
            fits = keep;
        else
            tooMany = keep;
    }
    return elided(fits);
}

int Stack::take()
{
    const int free = m_taken.indexOf(false);
    if (free >= 0) {
        m_taken[free] = true;
        return free;
    }
    m_taken.append(true);
    return m_taken.size() - 1;
}

void Stack::release(int place)
{
    if (place >= 0 && place < m_taken.size())
        m_taken[place] = false;
}

Stack &Stack::tips()
{
    static Stack stack;
    return stack;
}

} // namespace tiplayout
