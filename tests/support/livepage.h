#pragma once

#include "tests/support/appglobals.h"
#include "tests/support/runfolder.h"

#include <QStringList>
#include <memory>

namespace testsupport {

// What the live page needs around it: a run folder whose seed database has
// the page's settings (folders inside the run folder, default login, sub
// streams for small views, four views), the process-wide objects, and a
// logged-in administrator. Extra statements run on the copied database
// before it is opened.
class LivePageFixture
{
public:
    explicit LivePageFixture(const QStringList &extraSql = {}, quint32 rights = 511);
    ~LivePageFixture();

    bool isValid() const { return m_valid; }
    QString path() const { return m_folder.path(); }
    QString databaseFile() const { return m_folder.filePath(QStringLiteral("quendalix.xdt")); }
    QString logFile() const { return m_folder.filePath(QStringLiteral("cmsclient.logx")); }
    // Runs SQL on the open database's file through a private connection.
    bool exec(const QString &sql) const { return RunFolder::exec(databaseFile(), sql); }
    QString query(const QString &sql) const { return RunFolder::query(databaseFile(), sql); }
    void flushLog() { m_globals->flushLog(); }

private:
    RunFolder m_folder;
    std::unique_ptr<AppGlobals> m_globals;
    bool m_valid = false;
};

} // namespace testsupport
