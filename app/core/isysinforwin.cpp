#include "app/core/isysinforwin.h"

#include "platform/systimes.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMeasureMs = 500;
constexpr int kPauseMs = 1000;

} // namespace

ISysinforWin::ISysinforWin(TimesReader reader)
    : QThread(nullptr), m_reader(reader ? std::move(reader) : TimesReader(platform::readSystemTimes))
{}

ISysinforWin::~ISysinforWin()
{
    stop();
    wait();
}

void ISysinforWin::stop()
{
    m_stop.requestStop();
}

int ISysinforWin::loadBetween(const Times &first, const Times &second)
{
    // Signed 64-bit differences: on Linux the iowait part of idle can step
    // backwards, which the clamp below absorbs.
    const qint64 k = qint64(second.kernel - first.kernel);
    const qint64 u = qint64(second.user - first.user);
    const qint64 i = qint64(second.idle - first.idle);
    const qint64 total = k + u;
    if (total <= 0)
        return 0;
    const double load = std::ceil(double(total - i) * 100.0 / double(total));
    return int(std::clamp(load, 0.0, 100.0));
}

void ISysinforWin::run()
{
    while (!m_stop.stopRequested()) {
        Times first;
        const bool haveFirst = m_reader(first.idle, first.kernel, first.user);
        if (!m_stop.sleepFor(kMeasureMs))
            break;
        Times second;
        if (haveFirst && m_reader(second.idle, second.kernel, second.user))
            emit sigCpuRate(loadBetween(first, second));
        if (!m_stop.sleepFor(kPauseMs))
            break;
    }
}
