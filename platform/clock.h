#pragma once

#include <QDateTime>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace platform {

// The one source of wall-clock time for the program. Code that names files,
// stamps frames or fills a device's clock asks a Clock, so tests can hold
// time still or move it by hand.
class Clock
{
public:
    virtual ~Clock() = default;
    // Local date and time now.
    virtual QDateTime now() const = 0;
    // Milliseconds since local midnight (0 .. 86,399,999): the time base of
    // the stream client and the recording road.
    virtual int msecsOfDay() const { return now().time().msecsSinceStartOfDay(); }
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    // The stream client asks once per frame: this adds the zone's offset,
    // looked up once a minute, to the UTC clock (see clock.cpp).
    int msecsOfDay() const override;
};

// A clock that only moves when told to. Safe to read from any thread.
class FakeClock : public Clock
{
public:
    explicit FakeClock(const QDateTime &start = QDateTime(QDate(2024, 1, 1), QTime(0, 0)));
    QDateTime now() const override;
    void set(const QDateTime &t);
    void advance(qint64 ms);

private:
    mutable std::mutex m_mutex;
    QDateTime m_now;
};

// Waiting for a while; the fake records the waits instead (and may move a
// fake clock by the same amount) so a test never sleeps for real.
class Sleeper
{
public:
    virtual ~Sleeper() = default;
    virtual void sleep(int ms) = 0;
};

class SystemSleeper : public Sleeper
{
public:
    void sleep(int ms) override;
};

class FakeSleeper : public Sleeper
{
public:
    explicit FakeSleeper(FakeClock *clock = nullptr) : m_clock(clock) {}
    void sleep(int ms) override;
    qint64 total() const { return m_total.load(); }
    int calls() const { return m_calls.load(); }

private:
    FakeClock *m_clock;
    std::atomic<qint64> m_total{0};
    std::atomic<int> m_calls{0};
};

// Process-wide seams. Code without an injected clock or sleeper uses these;
// tests install fakes (nullptr restores the system ones). The objects must
// outlive their installation.
Clock &clock();
void setClock(Clock *clock);
Sleeper &sleeper();
void setSleeper(Sleeper *sleeper);

// Shorthands through the installed clock.
inline QDateTime localNow()
{
    return clock().now();
}
inline int msecsOfDay()
{
    return clock().msecsOfDay();
}
inline int64_t localMsecsOfDay()
{
    return clock().msecsOfDay();
}

// For tests that only care about the time of day (stream re-timing):
// installs a clock whose milliseconds of the day come from `source` (today's
// date around them); an empty function restores the system clock.
void setLocalMsecsOfDaySource(std::function<int64_t()> source);

} // namespace platform
