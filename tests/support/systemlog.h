#pragma once

#include "app/core/loghelper.h"
#include "tests/support/runfolder.h"

#include <QString>

namespace testsupport {

// The program's system log in a run folder of its own, for the time of a
// test; the suite links app_core.
struct SystemLog
{
    RunFolder run;
    SystemLog()
    {
        g_logHelper = new qcLogHelper;
        g_logHelper->start();
    }
    ~SystemLog() { stop(); }
    void stop()
    {
        if (g_logHelper)
            g_logHelper->stop();
        delete g_logHelper;
        g_logHelper = nullptr;
    }
    // What the log holds once everything handed in is written.
    QString rows(const QString &sql)
    {
        stop();
        return RunFolder::query(run.filePath("cmsclient.logx"), sql);
    }
};

} // namespace testsupport
