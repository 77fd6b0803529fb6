#pragma once

// Another connection to a database file, holding it locked until it goes:
// every statement of the program's own connection then finds it busy. Held
// "immediate", it is another program's write under way: reads pass, and
// only a write waits for it.
// Header only, over Qt's SQL module: the suites that include it link app_core.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QThread>

#include <atomic>
#include <thread>

namespace testsupport {

struct HeldLock
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "held");
    bool hold(const QString &file, const char *kind = "exclusive")
    {
        db.setDatabaseName(file);
        return db.open() && QSqlQuery(db).exec(QStringLiteral("begin %1").arg(QLatin1String(kind)));
    }
    ~HeldLock()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("held");
    }
};

// The lock held from a thread of its own for `ms`, as another program holds
// it while the test's thread works; `held` says when it is.
struct HeldAWhile
{
    std::atomic<bool> held{false};
    std::thread thread;
    HeldAWhile(const QString &file, const char *kind, unsigned long ms)
        : thread([=] {
              HeldLock lock;
              held = lock.hold(file, kind);
              QThread::msleep(ms);
          })
    {}
    ~HeldAWhile() { join(); }
    void join()
    {
        if (thread.joinable())
            thread.join();
    }
};

} // namespace testsupport
