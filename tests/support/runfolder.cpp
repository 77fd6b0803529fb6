#include "tests/support/runfolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace testsupport {

static bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString rel = QDir(from).relativeFilePath(src);
        const QString dst = QDir(to).filePath(rel);
        QDir().mkpath(QFileInfo(dst).path());
        if (!QFile::copy(src, dst))
            return false;
        QFile::setPermissions(dst, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    return true;
}

RunFolder::RunFolder() : m_previous(QDir::currentPath())
{
    if (!m_dir.isValid())
        return;
    if (!copyTree(seedDir(), m_dir.path()))
        return;
    m_valid = QDir::setCurrent(m_dir.path());
}

RunFolder::~RunFolder()
{
    QDir::setCurrent(m_previous);
}

// The sqlite3 tool keeps these edits independent of the connections under
// test (no shared Qt connection names).
static bool runSqlite(const QString &file, const QString &sql, QByteArray *output)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {file, sql});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (output)
        *output = p.readAllStandardOutput();
    return true;
}

bool RunFolder::exec(const QString &file, const QString &sql)
{
    return runSqlite(file, sql, nullptr);
}

QString RunFolder::query(const QString &file, const QString &sql)
{
    QByteArray out;
    if (!runSqlite(file, sql, &out))
        return QString();
    return QString::fromUtf8(out).trimmed();
}

} // namespace testsupport
