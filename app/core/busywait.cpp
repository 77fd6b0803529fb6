#include "app/core/busywait.h"

#include "app/core/readstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <sqlite3.h>

#include <atomic>

struct BusyWait::State
{
    QElapsedTimer waited;
    std::atomic<quint64> waits{0};
    bool cutShort = false; // a wait ran out in this turn of the event loop
    bool waiting = true;   // off: no statement waits at all
    std::weak_ptr<State> self;
};

BusyWait::BusyWait() : m_state(std::make_shared<State>())
{
    m_state->self = m_state;
}

BusyWait::~BusyWait() = default;

bool BusyWait::install(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *native = *static_cast<sqlite3 *const *>(handle.data());
    if (!native)
        return false;
    return sqlite3_busy_handler(native, &BusyWait::onBusy, m_state.get()) == SQLITE_OK;
}

quint64 BusyWait::waits() const
{
    return m_state->waits.load();
}

bool BusyWait::setWaiting(bool on)
{
    const bool was = m_state->waiting;
    m_state->waiting = on;
    return was;
}

int BusyWait::onBusy(void *state, int count)
{
    auto *s = static_cast<State *>(state);
    if (s->cutShort || !s->waiting)
        return 0;
    if (count == 0) {
        ++s->waits;
        s->waited.start();
    }
    const qint64 left = kWaitMs - s->waited.elapsed();
    if (left > 0) {
        // Short sleeps first: a lock held for a moment costs a moment.
        static const int kSteps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
        const int step = kSteps[qMin(count, int(sizeof(kSteps) / sizeof(kSteps[0])) - 1)];
        QThread::msleep(ulong(qMin<qint64>(step, left)));
        return 1;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        s->cutShort = true;
        // The statement that follows in a later turn waits again.
        QTimer::singleShot(0, app, [weak = s->self] {
            if (const std::shared_ptr<State> alive = weak.lock())
                alive->cutShort = false;
        });
    }
    return 0;
}

namespace {

// SQLite's primary result code of a failed statement; 0 when it gave none.
int primaryCode(const QSqlError &error)
{
    bool number = false;
    const int code = error.isValid() ? error.nativeErrorCode().toInt(&number) & 0xff : 0;
    return number ? code : 0;
}

} // namespace

bool isBusyError(const QSqlError &error)
{
    const int code = primaryCode(error);
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

bool isRefusedForItself(const QSqlError &error)
{
    const int code = primaryCode(error);
    return code == SQLITE_TOOBIG || code == SQLITE_CONSTRAINT || code == SQLITE_MISMATCH || code == SQLITE_RANGE;
}

bool isFullError(const QSqlError &error)
{
    return primaryCode(error) == SQLITE_FULL;
}

ReadStatus ReadStatus::failed(const QSqlError &error)
{
    return {isBusyError(error) ? Busy : Failed};
}
