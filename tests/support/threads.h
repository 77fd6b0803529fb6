#pragma once

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace testsupport {

inline QStringList threadIds()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// Threads running now that did not run before. A count would also move when a thread of an earlier case ends
// meanwhile; the ids tell only what was left behind.
inline QStringList leftOver(const QStringList &before)
{
    QStringList left = threadIds();
    left.erase(std::remove_if(left.begin(), left.end(), [&](const QString &id) { return before.contains(id); }),
               left.end());
    return left;
}

} // namespace testsupport
