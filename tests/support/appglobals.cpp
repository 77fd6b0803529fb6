#include "tests/support/appglobals.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/qclanguagexml.h"

namespace testsupport {

AppGlobals::AppGlobals(bool withLog)
{
    g_langXml = new qcLanguageXml;
    g_database = new qcDatabase;
    if (withLog) {
        g_logHelper = new qcLogHelper;
        g_logHelper->start(QThread::LowPriority);
    }
    g_curUserName.clear();
    g_curUserRights = 0;
    m_valid = g_langXml->load() > 0 && g_database->isOpened();
}

void AppGlobals::flushLog()
{
    if (!g_logHelper)
        return;
    g_logHelper->stop();
    delete g_logHelper;
    g_logHelper = nullptr;
}

AppGlobals::~AppGlobals()
{
    flushLog();
    delete g_database;
    g_database = nullptr;
    delete g_langXml;
    g_langXml = nullptr;
    g_curUserName.clear();
    g_curUserRights = 0;
}

} // namespace testsupport
