#pragma once

// The program's system log in a run folder of its own, for the time of a
// test, and the abnormal events a log file holds. Header only, over
// app/core's log thread: the suites that include it link app_core.

#include "app/core/loghelper.h"
#include "tests/support/runfolder.h"

#include <QStringList>

namespace testsupport {

// The abnormal events (logtype 3) of a log file, oldest first, each as
// "logdecl|reldevaddr|lognote".
inline QStringList abnormalEvents(const QString &logFile)
{
    const QString rows = RunFolder::query(
        logFile, QStringLiteral("SELECT logdecl, reldevaddr, lognote FROM systemlogs WHERE logtype = %1 ORDER BY rowid")
                     .arg(kLogAbnormalEvent));
    return rows.isEmpty() ? QStringList() : rows.split('\n');
}

struct SystemLog
{
    RunFolder run;
    SystemLog() { start(); }
    ~SystemLog() { stop(); }
    void start()
    {
        g_logHelper = new qcLogHelper;
        g_logHelper->start();
    }
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
        return RunFolder::query(run.filePath(QStringLiteral("cmsclient.logx")), sql);
    }
    // The abnormal events so far; the log goes on taking records.
    QStringList abnormal()
    {
        stop();
        const QStringList events = abnormalEvents(run.filePath(QStringLiteral("cmsclient.logx")));
        start();
        return events;
    }
};

} // namespace testsupport
