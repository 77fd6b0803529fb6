#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A throw-away run folder: fresh copies of the seed databases and the
// language file in a temporary directory that becomes the working directory
// for the fixture's lifetime (the program names every file relative to it).
class RunFolder
{
public:
    RunFolder();
    ~RunFolder();

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Runs one SQL statement on a database file of the folder through a
    // private connection, for tests that need to change seed values.
    static bool exec(const QString &file, const QString &sql);
    // Runs one query the same way and returns what sqlite3 prints (rows on
    // lines, columns joined by '|'), trimmed; a null string when it fails.
    static QString query(const QString &file, const QString &sql);

    static QString seedDir() { return QStringLiteral(ARDO_SEED_DIR); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
    bool m_valid = false;
};

} // namespace testsupport
