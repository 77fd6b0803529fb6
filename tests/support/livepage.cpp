#include "tests/support/livepage.h"

#include "app/core/currentuser.h"

namespace testsupport {

LivePageFixture::LivePageFixture(const QStringList &extraSql, quint32 rights)
{
    if (!m_folder.isValid())
        return;
    const QString db = databaseFile();
    QStringList sql = {
        QStringLiteral("UPDATE systeminfo SET recordpath='%1/records', snapshotpath='%1/snapshots', "
                       "defuser='admin', defpwd='1234', autostream=1, viewcount=4")
            .arg(m_folder.path()),
        QStringLiteral("UPDATE recordcapture SET recordduration=60, snapshotquality=5, snapshotformat=0, "
                       "prevrecord=0, postrecord=0, recordstream=0, capturecount=1, captureinterval=1"),
    };
    sql += extraSql;
    for (const QString &statement : sql) {
        if (!RunFolder::exec(db, statement))
            return;
    }
    m_globals = std::make_unique<AppGlobals>();
    g_curUserName = QStringLiteral("admin");
    g_curUserRights = rights;
    m_valid = m_globals->isValid();
}

LivePageFixture::~LivePageFixture()
{
    m_globals.reset();
}

} // namespace testsupport
