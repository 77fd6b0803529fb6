#include "media/recordlog.h"

#include "app/core/loghelper.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <mutex>

namespace recordlog {

namespace {

std::mutex g_mutex;
QSet<QString> g_told;

} // namespace

void cannotStart(const QString &path, const QString &reason)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_told.contains(path))
            return;
        g_told.insert(path);
    }
    const QFileInfo file(path);
    qWarning().noquote() << "recording cannot start:" << path << reason;
    // No operator did this, and the user name belongs to the GUI thread.
    writeSystemLog(QString(), QStringLiteral("record failed"), QString(), file.dir().dirName(),
                   file.fileName() + QStringLiteral(": ") + reason, kLogAbnormalEvent);
}

void started(const QString &path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_told.remove(path);
}

} // namespace recordlog
