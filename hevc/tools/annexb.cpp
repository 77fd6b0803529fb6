#include "annexb.h"

#include <stdio.h>

#include "../decoder.h"
#include "../nal.h"

using namespace h265d;

std::vector<NalSpan> scanNalUnits(const uint8_t *data, size_t len)
{
    std::vector<NalSpan> out;
    size_t pos = 0;
    int64_t off;
    int32_t prefix;
    if (!findStartCode(data, len, &off, &prefix))
        return out;
    pos = (size_t)off;
    for (;;) {
        NalSpan n;
        n.start = pos;
        n.payload = pos + (size_t)prefix;
        int64_t noff;
        int32_t nprefix;
        const uint8_t *next = findStartCode(data + n.payload, len - n.payload, &noff, &nprefix);
        n.end = next ? n.payload + (size_t)noff : len;
        n.type = n.end > n.payload ? (data[n.payload] >> 1) & 0x3F : -1;
        n.firstSlice = isVcl(n.type) && n.end > n.payload + 2 && (data[n.payload + 2] & 0x80);
        if (n.end > n.payload)
            out.push_back(n);
        if (!next)
            break;
        pos = n.end;
        prefix = nprefix;
    }
    return out;
}

static int startsAu(int t)
{
    /* 7.4.2.4.4: these, the reserved 41..44 and the unspecified 48..55 open an access unit. */
    return isParameterSet(t) || t == NAL_PREFIX_SEI_NUT || (t >= 41 && t <= 44) || (t >= 48 && t <= 55);
}

std::vector<size_t> accessUnitStarts(const std::vector<NalSpan> &units)
{
    std::vector<size_t> starts;
    starts.push_back(0);
    bool audSeen = false;
    long pending = -1;
    bool first = true;
    for (size_t i = 0; i < units.size(); i++) {
        const NalSpan &u = units[i];
        if (u.type == NAL_AUD_NUT) {
            if (!first)
                starts.push_back(u.start);
            first = false;
            audSeen = true;
            pending = -1;
            continue;
        }
        if (isVcl(u.type)) {
            if (u.firstSlice && !audSeen) {
                const size_t at = pending >= 0 ? units[(size_t)pending].start : u.start;
                if (!first)
                    starts.push_back(at);
            }
            first = false;
            audSeen = false;
            pending = -1;
            continue;
        }
        if (startsAu(u.type) && pending < 0 && !audSeen)
            pending = (long)i;
    }
    return starts;
}

uint64_t vclBytes(const std::vector<NalSpan> &units)
{
    uint64_t n = 0;
    for (const NalSpan &u : units)
        if (isVcl(u.type) && !isSkippedNalType(u.type))
            n += u.end - u.start;
    return n;
}

bool readFile(const std::string &path, std::vector<uint8_t> &out)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}
