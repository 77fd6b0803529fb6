#pragma once

#include <QSqlDatabase>

#include <memory>

// How the GUI thread's connection waits while another program holds the
// database (a backup tool or a database browser inside a transaction).
//
// A statement that finds the file locked waits up to kWaitMs for it. Once
// one wait has run out, every further statement of the same turn of the
// event loop gives up at once instead of waiting again: one operator
// action (a page entered, a save with its refresh, a login) then keeps the
// window waiting about one wait, not one per value it reads. The next turn
// waits again. Without an event loop the waits are never cut short.
class BusyWait
{
public:
    static constexpr int kWaitMs = 2000;

    BusyWait();
    ~BusyWait();
    BusyWait(const BusyWait &) = delete;
    BusyWait &operator=(const BusyWait &) = delete;

    // Takes over the waiting of `db` (open, SQLite); false when its driver
    // gives no SQLite handle, which keeps the driver's own wait.
    bool install(const QSqlDatabase &db);
    // The waits begun since construction, counted on the thread that runs
    // the statements.
    quint64 waits() const;
    // Off: every statement that finds the file held gives up at once, and
    // counts no wait. Returns whether it waited before.
    bool setWaiting(bool on);

private:
    struct State;
    static int onBusy(void *state, int count);
    std::shared_ptr<State> m_state;
};

// Whether a statement's error says that the database was locked by another
// connection, as opposed to failing for any other reason.
bool isBusyError(const class QSqlError &error);
// Whether the database refused a row for what it holds (too big, a
// constraint, a value of the wrong type or place) rather than because the
// file cannot be written now: such a row would never be taken.
bool isRefusedForItself(const class QSqlError &error);
// Whether a statement failed for want of room on the disk (SQLITE_FULL): a
// smaller write may still fit.
bool isFullError(const class QSqlError &error);
