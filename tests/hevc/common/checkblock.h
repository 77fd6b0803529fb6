// Block comparisons for the kernel tests, in the manner of checkasm: a
// failure names the first differing sample by its (x, y) from the block's
// origin (outside 0..w-1, 0..h-1: a write past the block) and the seed, and
// HEVC_TEST_SEED=<n> in the environment reruns a suite with that seed.
#pragma once

#include <QString>
#include <QtTest>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace checkblock {

// The suite's seed: HEVC_TEST_SEED when set, else the suite's own.
inline uint64_t seed(uint64_t fallback)
{
    const char *s = getenv("HEVC_TEST_SEED");
    return s && *s ? strtoull(s, nullptr, 0) : fallback;
}

// Empty when a and b are equal, else where they first differ. Both are whole
// buffers laid out alike; origin is the block's index in them.
template <class T>
QString firstDifference(const std::vector<T> &a, const std::vector<T> &b, ptrdiff_t origin, ptrdiff_t stride)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] == b[i])
            continue;
        const ptrdiff_t d = ptrdiff_t(i) - origin;
        ptrdiff_t y = d / stride, x = d % stride;
        if (x < 0) {
            x += stride;
            y -= 1;
        }
        return QString("first difference at (%1, %2): %3 != %4").arg(x).arg(y).arg(int(a[i])).arg(int(b[i]));
    }
    return a.size() == b.size() ? QString() : QString("sizes differ");
}

} // namespace checkblock

// Fails the test function with the difference, the seed and the case.
#define CHECK_BLOCK(a, b, origin, stride, seed, what)                                                                  \
    do {                                                                                                               \
        const QString diff_ = checkblock::firstDifference(a, b, origin, stride);                                       \
        if (!diff_.isEmpty())                                                                                          \
            QFAIL(                                                                                                     \
                qPrintable(QString("%1; seed %2 (HEVC_TEST_SEED=%2 reproduces); %3").arg(diff_).arg(seed).arg(what))); \
    } while (0)
