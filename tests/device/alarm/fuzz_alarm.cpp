// libFuzzer target: the alarm channel's message parser. The input is fed
// whole and in pieces whose size its first byte picks; both must agree, and
// the work done must stay linear in the bytes.
#include <cstddef>
#include <cstdint>

#include "device/alarmparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 1 << 16)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const int n = int(size);
    const int piece = 1 + data[0] % 32;
    AlarmParser whole;
    AlarmParser pieces;
    const QList<int> codes = whole.feed(bytes, n);
    QList<int> pieceCodes;
    for (int at = 0; at < n; at += piece)
        pieceCodes += pieces.feed(bytes + at, qMin(piece, n - at));
    if (codes != pieceCodes || whole.pending() != pieces.pending() || whole.dropped() != pieces.dropped())
        __builtin_trap();
    for (const AlarmParser *p : {&whole, &pieces}) {
        if (p->steps() > 5 * qint64(size) + 16)
            __builtin_trap();
    }
    for (int code : codes) {
        if (code < 64 || code > 73)
            __builtin_trap();
    }
    return 0;
}
