#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

namespace platform {

FakeClock::FakeClock(const QDateTime &start) : m_now(start) {}

QDateTime FakeClock::now() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_now;
}

void FakeClock::set(const QDateTime &t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now = t;
}

void FakeClock::advance(qint64 ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now = m_now.addMSecs(ms);
}

namespace {
// The local zone's offset from UTC in seconds (low half) and the UTC minute
// it was looked up in (high half), in one word so that readers on any
// thread see a matching pair.
std::atomic<uint64_t> g_zoneOffset{~uint64_t(0)};

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
} // namespace

// Local time from the C library (what QTime::currentTime() does) makes it
// check the zone file on disk each time: a stat call, under a process-wide
// lock, for every frame of every stream. Zones change their offset on whole
// minutes, so looking the offset up again once a minute gives the same
// result.
int SystemClock::msecsOfDay() const
{
    const int64_t utc = QDateTime::currentMSecsSinceEpoch();
    const int64_t minute = floorDiv(utc, 60000);
    uint64_t packed = g_zoneOffset.load(std::memory_order_relaxed);
    int32_t offset;
    if (uint32_t(packed >> 32) == uint32_t(minute)) {
        offset = int32_t(uint32_t(packed));
    } else {
        tzset();
        const time_t seconds = time_t(floorDiv(utc, 1000));
        tm local{};
        if (!localtime_r(&seconds, &local))
            return QTime::currentTime().msecsSinceStartOfDay();
        offset = int32_t(local.tm_gmtoff);
        g_zoneOffset.store((uint64_t(uint32_t(minute)) << 32) | uint32_t(offset), std::memory_order_relaxed);
    }
    const int64_t day = 86400000;
    const int64_t ms = (utc + int64_t(offset) * 1000) % day;
    return int(ms < 0 ? ms + day : ms);
}

void SystemSleeper::sleep(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void FakeSleeper::sleep(int ms)
{
    m_calls.fetch_add(1);
    if (ms <= 0)
        return;
    m_total.fetch_add(ms);
    if (m_clock)
        m_clock->advance(ms);
}

namespace {
SystemClock g_systemClock;
SystemSleeper g_systemSleeper;
std::atomic<Clock *> g_clock{nullptr};
std::atomic<Sleeper *> g_sleeper{nullptr};
} // namespace

Clock &clock()
{
    Clock *c = g_clock.load(std::memory_order_acquire);
    return c ? *c : g_systemClock;
}

void setClock(Clock *c)
{
    g_clock.store(c, std::memory_order_release);
}

Sleeper &sleeper()
{
    Sleeper *s = g_sleeper.load(std::memory_order_acquire);
    return s ? *s : g_systemSleeper;
}

void setSleeper(Sleeper *s)
{
    g_sleeper.store(s, std::memory_order_release);
}

namespace {
class FunctionClock : public Clock
{
public:
    explicit FunctionClock(std::function<int64_t()> source) : m_source(std::move(source)) {}
    QDateTime now() const override { return QDateTime(QDate::currentDate(), QTime(0, 0)).addMSecs(m_source()); }
    int msecsOfDay() const override { return int(m_source()); }

private:
    std::function<int64_t()> m_source;
};

std::mutex g_functionMutex;
std::unique_ptr<FunctionClock> g_functionClock;
std::unique_ptr<FunctionClock> g_retired[8];
int g_retiredNext = 0;
} // namespace

void setLocalMsecsOfDaySource(std::function<int64_t()> source)
{
    std::lock_guard<std::mutex> lock(g_functionMutex);
    std::unique_ptr<FunctionClock> next;
    if (source)
        next = std::make_unique<FunctionClock>(std::move(source));
    setClock(next.get());
    // A reader on another thread may still hold the previous clock for the
    // length of one call; keep the last few alive instead of freeing at once.
    g_retired[g_retiredNext] = std::move(g_functionClock);
    g_retiredNext = (g_retiredNext + 1) % 8;
    g_functionClock = std::move(next);
}

} // namespace platform
