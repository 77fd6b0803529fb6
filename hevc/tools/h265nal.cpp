/* h265nal: lists and rewrites the NAL units of an H.265 Annex B file, to
 * make stream shapes an encoder does not (inserted, retyped, layered,
 * reordered or damaged units). Every command writes a new file; units are
 * kept in their escaped form, and bytes the tool adds or changes go through
 * emulation prevention again, so the output stays a valid byte stream. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "annexb.h"

namespace {

struct Unit
{
    std::vector<uint8_t> bytes; /* NAL unit header and escaped payload */
    int startCode = 4;          /* 3 or 4 bytes */
    size_t offset = 0;          /* of the start code in the input */
    size_t trailingZeros = 0;   /* zero bytes between this unit and the next start code */
};

typedef std::vector<Unit> Stream;

int fail(const char *fmt, const char *arg = "")
{
    fprintf(stderr, "h265nal: ");
    fprintf(stderr, fmt, arg);
    fputc('\n', stderr);
    return 1;
}

bool writeFile(const std::string &path, const std::vector<uint8_t> &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

/* Splits at every 00 00 01. A zero byte right before it belongs to a 4-byte
 * start code; further zeros are trailing bytes of the unit before. Bytes
 * ahead of the first start code are dropped. */
Stream parse(const std::vector<uint8_t> &d)
{
    std::vector<size_t> codes; /* index of the 01 byte of each start code */
    for (size_t i = 2; i < d.size(); i++)
        if (d[i] == 1 && d[i - 1] == 0 && d[i - 2] == 0)
            codes.push_back(i);
    Stream s;
    for (size_t k = 0; k < codes.size(); k++) {
        const size_t begin = codes[k] + 1;
        size_t end = k + 1 < codes.size() ? codes[k + 1] - 2 : d.size();
        Unit u;
        u.startCode = codes[k] >= 3 && d[codes[k] - 3] == 0 ? 4 : 3;
        u.offset = codes[k] + 1 - (size_t)u.startCode;
        if (k + 1 < codes.size() && codes[k + 1] >= 3 && d[codes[k + 1] - 3] == 0)
            end--; /* the next unit's zero_byte */
        size_t last = end;
        while (last > begin && d[last - 1] == 0)
            last--;
        u.trailingZeros = end - last;
        u.bytes.assign(d.begin() + (long)begin, d.begin() + (long)last);
        if (!u.bytes.empty())
            s.push_back(u);
    }
    return s;
}

std::vector<uint8_t> serialize(const Stream &s)
{
    std::vector<uint8_t> out;
    for (const Unit &u : s) {
        if (u.startCode == 4)
            out.push_back(0);
        out.insert(out.end(), {0, 0, 1});
        out.insert(out.end(), u.bytes.begin(), u.bytes.end());
        out.insert(out.end(), u.trailingZeros, 0);
    }
    return out;
}

int unitType(const Unit &u)
{
    return (u.bytes[0] >> 1) & 0x3F;
}

int unitLayer(const Unit &u)
{
    return u.bytes.size() < 2 ? 0 : ((u.bytes[0] & 1) << 5) | (u.bytes[1] >> 3);
}

int unitTid(const Unit &u)
{
    return u.bytes.size() < 2 ? -1 : (u.bytes[1] & 7) - 1;
}

void setHeader(std::vector<uint8_t> &b, int type, int layer, int tid)
{
    if (b.size() < 2)
        b.resize(2);
    b[0] = (uint8_t)((type << 1) | ((layer >> 5) & 1));
    b[1] = (uint8_t)(((layer & 31) << 3) | ((tid + 1) & 7));
}

std::vector<uint8_t> escape(const std::vector<uint8_t> &rbsp)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (!out.empty() && out.back() == 0)
        out.push_back(3);
    return out;
}

std::vector<uint8_t> unescape(const std::vector<uint8_t> &ebsp)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : ebsp) {
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

/* Unsigned uniform draws straight from the engine, so a seed gives the same
 * bytes with every standard library. */
struct Rng
{
    std::mt19937 engine;
    explicit Rng(uint32_t seed) : engine(seed) {}
    uint32_t below(uint32_t n) { return n ? (uint32_t)(engine() % n) : 0; }
};

/* Payloads that need emulation prevention: zero pairs followed by 00..03. */
std::vector<uint8_t> escapeProneBytes(size_t n)
{
    static const uint8_t pattern[] = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0x55};
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = pattern[i % sizeof pattern];
    return b;
}

void appendSeiNumber(std::vector<uint8_t> &out, size_t v)
{
    for (; v >= 255; v -= 255)
        out.push_back(0xFF);
    out.push_back((uint8_t)v);
}

struct InsertSpec
{
    int type = -1, layer = 0, tid = 0, count = 1;
    long size = 8, sei240 = -1;
    uint32_t seed = 1;
};

bool insertableType(int t)
{
    return (t >= 10 && t <= 15) || (t >= 22 && t <= 31) || (t >= 35 && t <= 38) || t == 39 || (t >= 41 && t <= 63);
}

Unit makeUnit(const InsertSpec &sp, Rng &rng)
{
    std::vector<uint8_t> rbsp;
    switch (sp.type) {
    case 35: /* pic_type 2: I, P and B slices */
        rbsp.push_back(0x50);
        break;
    case 36:
    case 37:
        break;
    case 38:
        rbsp.assign((size_t)sp.size, 0xFF);
        rbsp.push_back(0x80);
        break;
    case 39:
        rbsp.push_back(240);
        appendSeiNumber(rbsp, (size_t)sp.sei240);
        {
            const std::vector<uint8_t> p = escapeProneBytes((size_t)sp.sei240);
            rbsp.insert(rbsp.end(), p.begin(), p.end());
        }
        rbsp.push_back(0x80);
        break;
    default:
        for (long i = 0; i < sp.size; i++)
            rbsp.push_back((uint8_t)rng.below(256));
        rbsp.push_back(0x80);
        break;
    }
    Unit u;
    u.bytes.resize(2);
    setHeader(u.bytes, sp.type, sp.layer, sp.tid);
    const std::vector<uint8_t> e = escape(rbsp);
    u.bytes.insert(u.bytes.end(), e.begin(), e.end());
    return u;
}

/* Reads "--name value" options into a map; the rest are positional. */
struct Args
{
    std::map<std::string, std::string> opt;
    std::vector<std::string> pos;
    bool ok = true;
    std::string error;
    Args(int argc, char **argv, int from, const std::vector<std::string> &flags)
    {
        for (int i = from; i < argc; i++) {
            std::string a = argv[i];
            if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
                bool flag = false;
                for (const std::string &f : flags)
                    flag = flag || f == a;
                if (flag) {
                    opt[a] = "1";
                } else if (i + 1 < argc) {
                    opt[a] = argv[++i];
                } else {
                    ok = false;
                    error = a + " needs a value";
                }
            } else {
                pos.push_back(a);
            }
        }
    }
    bool has(const char *k) const { return opt.count(k) != 0; }
    bool number(const char *k, long &v, long lo, long hi)
    {
        auto it = opt.find(k);
        if (it == opt.end())
            return true;
        char *end = nullptr;
        const long n = strtol(it->second.c_str(), &end, 10);
        if (it->second.empty() || *end || n < lo || n > hi) {
            ok = false;
            error = std::string(k) + " is out of range: " + it->second;
            return false;
        }
        v = n;
        return true;
    }
};

int usage()
{
    fprintf(stderr, "usage: h265nal list IN\n"
                    "       h265nal insert --at K --type T [--layer L] [--tid N] [--size N] [--seed S] [--count N]\n"
                    "                      [--sei240 N] IN OUT\n"
                    "       h265nal retype --from A --to B [--first] IN OUT\n"
                    "       h265nal cut --from K IN OUT\n"
                    "       h265nal concat [--eos|--eob] A B OUT\n"
                    "       h265nal layers IN OUT\n"
                    "       h265nal startcodes 3|4 IN OUT\n"
                    "       h265nal zeros N IN OUT\n"
                    "       h265nal mutate --seed S --kind truncate|flip|drop|dup [--unit K] IN OUT\n");
    return 2;
}

bool load(const std::string &path, Stream &s)
{
    std::vector<uint8_t> d;
    if (!readFile(path, d)) {
        fail("cannot read %s", path.c_str());
        return false;
    }
    s = parse(d);
    return true;
}

int save(const std::string &path, const std::vector<uint8_t> &d)
{
    if (!writeFile(path, d))
        return fail("cannot write %s", path.c_str());
    return 0;
}

int cmdList(Args &a)
{
    Stream s;
    if (a.pos.size() != 1 || !load(a.pos[0], s))
        return a.pos.size() != 1 ? usage() : 1;
    printf("# index offset startcode type layer tid size\n");
    for (size_t i = 0; i < s.size(); i++)
        printf("%zu %zu %d %d %d %d %zu\n", i, s[i].offset, s[i].startCode, unitType(s[i]), unitLayer(s[i]),
               unitTid(s[i]), s[i].bytes.size());
    return 0;
}

int cmdInsert(Args &a)
{
    InsertSpec sp;
    long at = -1, type = -1, layer = 0, tid = 0, count = 1, seed = 1;
    if (!a.number("--at", at, 0, 1L << 30) || !a.number("--type", type, 0, 63) || !a.number("--layer", layer, 0, 63) ||
        !a.number("--tid", tid, 0, 6) || !a.number("--size", sp.size, 0, 1L << 26) ||
        !a.number("--seed", seed, 0, 0xFFFFFFFFL) || !a.number("--count", count, 1, 100000) ||
        !a.number("--sei240", sp.sei240, 0, 1L << 24))
        return fail("%s", a.error.c_str());
    if (a.pos.size() != 2 || at < 0 || type < 0)
        return usage();
    if (!insertableType((int)type))
        return fail("type %s is not one the tool inserts", a.opt["--type"].c_str());
    if ((type == 39) != (sp.sei240 >= 0))
        return fail("--sei240 goes with --type 39, and type 39 needs it%s");
    sp.type = (int)type;
    sp.layer = (int)layer;
    sp.tid = (int)tid;
    sp.seed = (uint32_t)seed;
    Stream s;
    if (!load(a.pos[0], s))
        return 1;
    if ((size_t)at > s.size())
        return fail("--at is past the last unit%s");
    Rng rng(sp.seed);
    Stream add;
    for (long i = 0; i < count; i++)
        add.push_back(makeUnit(sp, rng));
    s.insert(s.begin() + at, add.begin(), add.end());
    return save(a.pos[1], serialize(s));
}

int cmdRetype(Args &a)
{
    long from = -1, to = -1;
    if (!a.number("--from", from, 0, 63) || !a.number("--to", to, 0, 63))
        return fail("%s", a.error.c_str());
    if (a.pos.size() != 2 || from < 0 || to < 0)
        return usage();
    Stream s;
    if (!load(a.pos[0], s))
        return 1;
    int changed = 0;
    for (Unit &u : s) {
        if (unitType(u) != from || (a.has("--first") && changed))
            continue;
        setHeader(u.bytes, (int)to, unitLayer(u), unitTid(u));
        changed++;
    }
    fprintf(stderr, "h265nal: %d unit(s) retyped\n", changed);
    return save(a.pos[1], serialize(s));
}

/* The parameter sets ahead of unit K stay: a stream cut to begin at a CRA
 * picture needs them to be decodable at all. */
int cmdCut(Args &a)
{
    long from = -1;
    if (!a.number("--from", from, 0, 1L << 30))
        return fail("%s", a.error.c_str());
    if (a.pos.size() != 2 || from < 0)
        return usage();
    Stream s, out;
    if (!load(a.pos[0], s))
        return 1;
    if ((size_t)from > s.size())
        return fail("--from is past the last unit%s");
    for (size_t i = 0; i < s.size(); i++) {
        const int t = unitType(s[i]);
        if (i >= (size_t)from || (t >= 32 && t <= 34))
            out.push_back(s[i]);
    }
    return save(a.pos[1], serialize(out));
}

int cmdConcat(Args &a)
{
    if (a.pos.size() != 3 || (a.has("--eos") && a.has("--eob")))
        return usage();
    Stream s1, s2;
    if (!load(a.pos[0], s1) || !load(a.pos[1], s2))
        return 1;
    if (a.has("--eos") || a.has("--eob")) {
        Unit u;
        u.bytes.resize(2);
        setHeader(u.bytes, a.has("--eos") ? 36 : 37, 0, 0);
        s1.push_back(u);
    }
    s1.insert(s1.end(), s2.begin(), s2.end());
    return save(a.pos[2], serialize(s1));
}

int cmdLayers(Args &a)
{
    if (a.pos.size() != 2)
        return usage();
    Stream s, out;
    if (!load(a.pos[0], s))
        return 1;
    for (const Unit &u : s) {
        out.push_back(u);
        Unit c = u;
        setHeader(c.bytes, unitType(u), 1, unitTid(u));
        out.push_back(c);
    }
    return save(a.pos[1], serialize(out));
}

int cmdStartCodes(Args &a)
{
    if (a.pos.size() != 3 || (a.pos[0] != "3" && a.pos[0] != "4"))
        return usage();
    Stream s;
    if (!load(a.pos[1], s))
        return 1;
    for (Unit &u : s)
        u.startCode = a.pos[0] == "3" ? 3 : 4;
    return save(a.pos[2], serialize(s));
}

int cmdZeros(Args &a)
{
    if (a.pos.size() != 3)
        return usage();
    char *end = nullptr;
    const long n = strtol(a.pos[0].c_str(), &end, 10);
    if (a.pos[0].empty() || *end || n < 0 || n > 1 << 20)
        return fail("zeros takes a count from 0 to 1048576, not %s", a.pos[0].c_str());
    Stream s;
    if (!load(a.pos[1], s))
        return 1;
    for (Unit &u : s)
        u.trailingZeros += (size_t)n;
    return save(a.pos[2], serialize(s));
}

int cmdMutate(Args &a)
{
    long seed = -1, unit = -1;
    if (!a.number("--seed", seed, 0, 0xFFFFFFFFL) || !a.number("--unit", unit, 0, 1L << 30))
        return fail("%s", a.error.c_str());
    const std::string kind = a.opt["--kind"];
    if (a.pos.size() != 2 || seed < 0 || (kind != "truncate" && kind != "flip" && kind != "drop" && kind != "dup"))
        return usage();
    Stream s;
    if (!load(a.pos[0], s))
        return 1;
    if (s.empty())
        return fail("%s has no NAL units", a.pos[0].c_str());
    if (unit >= (long)s.size())
        return fail("--unit is past the last unit%s");
    Rng rng((uint32_t)seed);
    const size_t k = unit >= 0 ? (size_t)unit : rng.below((uint32_t)s.size());
    if (kind == "truncate") {
        std::vector<uint8_t> d = serialize(s);
        d.resize(rng.below((uint32_t)d.size()));
        return save(a.pos[1], d);
    }
    if (kind == "drop") {
        s.erase(s.begin() + (long)k);
    } else if (kind == "dup") {
        s.insert(s.begin() + (long)k, s[k]);
    } else {
        /* Bits are flipped in the unescaped payload and escaped again, so the
         * damage never forms a start code. */
        Unit &u = s[k];
        std::vector<uint8_t> rbsp = unescape(std::vector<uint8_t>(u.bytes.begin() + 2, u.bytes.end()));
        if (rbsp.empty())
            rbsp.push_back(0x80);
        const uint32_t flips = 1 + rng.below(8);
        for (uint32_t i = 0; i < flips; i++) {
            const uint32_t bit = rng.below((uint32_t)rbsp.size() * 8);
            rbsp[bit / 8] ^= (uint8_t)(0x80 >> (bit % 8));
        }
        const std::vector<uint8_t> e = escape(rbsp);
        u.bytes.resize(2);
        u.bytes.insert(u.bytes.end(), e.begin(), e.end());
    }
    fprintf(stderr, "h265nal: %s unit %zu\n", kind.c_str(), k);
    return save(a.pos[1], serialize(s));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const std::string cmd = argv[1];
    Args a(argc, argv, 2, {"--first", "--eos", "--eob"});
    if (!a.ok)
        return fail("%s", a.error.c_str());
    if (cmd == "list")
        return cmdList(a);
    if (cmd == "insert")
        return cmdInsert(a);
    if (cmd == "retype")
        return cmdRetype(a);
    if (cmd == "cut")
        return cmdCut(a);
    if (cmd == "concat")
        return cmdConcat(a);
    if (cmd == "layers")
        return cmdLayers(a);
    if (cmd == "startcodes")
        return cmdStartCodes(a);
    if (cmd == "zeros")
        return cmdZeros(a);
    if (cmd == "mutate")
        return cmdMutate(a);
    return usage();
}
