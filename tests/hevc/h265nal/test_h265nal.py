#!/usr/bin/env python3
"""Checks every h265nal command on a small hand-made byte stream, parsing the
results independently of the tool.

    test_h265nal.py H265NAL WORKDIR
"""
import os
import subprocess
import sys

TOOL = sys.argv[1]
WORK = sys.argv[2]
os.makedirs(WORK, exist_ok=True)
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def header(t, layer=0, tid=0):
    return bytes([(t << 1) | (layer >> 5), ((layer & 31) << 3) | (tid + 1)])


def escape(rbsp):
    out = bytearray()
    zeros = 0
    for b in rbsp:
        if zeros >= 2 and b <= 3:
            out.append(3)
            zeros = 0
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def unescape(ebsp):
    out = bytearray()
    zeros = 0
    for b in ebsp:
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def split(data):
    """Units as (start code length, bytes without trailing zeros, trailing zeros)."""
    codes = [i for i in range(2, len(data)) if data[i] == 1 and data[i - 1] == 0 and data[i - 2] == 0]
    units = []
    for k, c in enumerate(codes):
        begin = c + 1
        sc = 4 if c >= 3 and data[c - 3] == 0 else 3
        end = codes[k + 1] - 2 if k + 1 < len(codes) else len(data)
        if k + 1 < len(codes) and codes[k + 1] >= 3 and data[codes[k + 1] - 3] == 0:
            end -= 1
        body = data[begin:end]
        stripped = body.rstrip(b"\0")
        units.append((sc, stripped, len(body) - len(stripped)))
    return units


def escaping_valid(unit):
    """No start-code prefix and no stray emulation byte inside a unit."""
    for i in range(2, len(unit)):
        if unit[i - 2] == 0 and unit[i - 1] == 0:
            if unit[i] < 3:
                return False
            if unit[i] == 3 and i + 1 < len(unit) and unit[i + 1] > 3:
                return False
    return True


def ntype(u):
    return (u[0] >> 1) & 0x3F


def layer(u):
    return ((u[0] & 1) << 5) | (u[1] >> 3)


def tid(u):
    return (u[1] & 7) - 1


# A stream in the shape of an encoder's: parameter sets, an IDR, a CRA with
# a RASL picture, then trailing pictures; payloads that need escaping.
SRC = [
    (4, header(32) + escape(bytes([0x0C, 0x01, 0xFF, 0xFF, 0, 0, 0, 0x80]))),
    (4, header(33) + escape(bytes([0x01, 0, 0, 1, 0x22, 0x80]))),
    (4, header(34) + escape(bytes([0xC1, 0x72, 0xB0, 0x80]))),
    (4, header(19) + escape(bytes([0xAF, 0, 0, 0, 0x40, 0x80]))),
    (3, header(1) + escape(bytes([0x80, 0x10, 0x80]))),
    (4, header(21) + escape(bytes([0xAF, 0x01, 0, 0, 2, 0x80]))),
    (3, header(8) + escape(bytes([0x80, 0x20, 0x80]))),
    (3, header(1, tid=1) + escape(bytes([0x80, 0x30, 0x80]))),
]
src_bytes = b"".join((b"\0" if sc == 4 else b"") + b"\0\0\1" + u for sc, u in SRC)
src = os.path.join(WORK, "src.hevc")
with open(src, "wb") as f:
    f.write(src_bytes)


def run(*args, ok=True):
    p = subprocess.run([TOOL] + [str(a) for a in args], capture_output=True, text=True)
    if ok:
        check(p.returncode == 0, "%s exits 0 (%s)" % (" ".join(map(str, args)), p.stderr.strip()))
    return p


def units_of(path):
    with open(path, "rb") as f:
        return split(f.read())


def out(name):
    return os.path.join(WORK, name)


def all_valid(us, what):
    check(all(escaping_valid(u) for _, u, _ in us), what + ": emulation prevention valid")


orig = [u for _, u, _ in split(src_bytes)]
check(orig == [u for _, u, in SRC], "the test's own splitter reads the source back")

# list: index, offset, start-code length, type, layer, TemporalId, size
p = run("list", src)
rows = [l.split() for l in p.stdout.splitlines() if not l.startswith("#")]
check(len(rows) == len(SRC), "list prints one line per unit")
off = 0
for i, (sc, u) in enumerate(SRC):
    want = [str(i), str(off), str(sc), str(ntype(u)), "0", str(tid(u)), str(len(u))]
    check(i < len(rows) and rows[i] == want, "list line %d is %s" % (i, " ".join(want)))
    off += sc + len(u)

# insert: every kind lands before unit K with the header asked for.
for t, extra in ((35, []), (36, []), (37, []), (38, ["--size", "5"]), (12, ["--size", "40", "--seed", "3"]),
                 (41, ["--layer", "2", "--tid", "2"]), (63, ["--size", "300"])):
    o = out("ins%d.hevc" % t)
    run("insert", "--at", 3, "--type", t, *extra, src, o)
    us = [u for _, u, _ in units_of(o)]
    check(len(us) == len(SRC) + 1 and ntype(us[3]) == t, "insert --type %d lands at unit 3" % t)
    check(us[:3] + us[4:] == orig, "insert --type %d keeps every other unit" % t)
    if t == 41:
        check(layer(us[3]) == 2 and tid(us[3]) == 2, "insert sets layer and TemporalId")
    if t == 38:
        check(unescape(us[3][2:]) == b"\xff" * 5 + b"\x80", "filler data is 0xFF bytes and a stop bit")
    if t == 35:
        check(us[3][2:] == b"\x50", "access unit delimiter carries pic_type 2")
    if t in (36, 37):
        check(len(us[3]) == 2, "end units have no payload")
    if t in (12, 63):
        n = 40 if t == 12 else 300
        check(len(unescape(us[3][2:])) == n + 1 and us[3][-1] == 0x80, "seeded payload of %d bytes" % n)
    all_valid(units_of(o), "insert --type %d" % t)
a = out("seed_a.hevc")
b = out("seed_b.hevc")
c = out("seed_c.hevc")
run("insert", "--at", 0, "--type", 48, "--size", 64, "--seed", 7, src, a)
run("insert", "--at", 0, "--type", 48, "--size", 64, "--seed", 7, src, b)
run("insert", "--at", 0, "--type", 48, "--size", 64, "--seed", 8, src, c)
check(open(a, "rb").read() == open(b, "rb").read(), "insert: the same seed gives the same bytes")
check(open(a, "rb").read() != open(c, "rb").read(), "insert: another seed gives other bytes")
o = out("count.hevc")
run("insert", "--at", len(SRC), "--type", 38, "--count", 600, src, o)
us = [u for _, u, _ in units_of(o)]
check(len(us) == len(SRC) + 600 and all(ntype(u) == 38 for u in us[len(SRC):]), "insert --count 600 appends 600")
for n in (10, 2048, 2049):
    o = out("sei%d.hevc" % n)
    run("insert", "--at", 3, "--type", 39, "--sei240", n, src, o)
    us = [u for _, u, _ in units_of(o)]
    all_valid(units_of(o), "sei240 %d" % n)
    r = unescape(us[3][2:])
    check(ntype(us[3]) == 39 and r[0] == 240, "sei240 %d is a prefix SEI of payloadType 240" % n)
    i, size = 1, 0
    while r[i] == 0xFF:
        size += 255
        i += 1
    size += r[i]
    payload = r[i + 1:-1]
    check(size == n and len(payload) == n and r[-1] == 0x80, "sei240 %d: payloadSize and bytes agree" % n)
    check(len(us[3]) - 2 > len(r), "sei240 %d: the payload needed emulation prevention" % n)
check(run("insert", "--at", 3, "--type", 32, src, out("bad.hevc"), ok=False).returncode != 0,
      "insert refuses a parameter-set type")
check(run("insert", "--at", 99, "--type", 35, src, out("bad.hevc"), ok=False).returncode != 0,
      "insert refuses a position past the end")

# retype: all units of a type, or only the first
o = out("bla.hevc")
run("retype", "--from", 21, "--to", 16, src, o)
us = [u for _, u, _ in units_of(o)]
check(ntype(us[5]) == 16 and us[5][2:] == orig[5][2:] and us[:5] == orig[:5], "retype rewrites only the type")
o = out("first.hevc")
run("retype", "--from", 1, "--to", 0, "--first", src, o)
us = [u for _, u, _ in units_of(o)]
check(ntype(us[4]) == 0 and ntype(us[7]) == 1 and tid(us[7]) == 1, "retype --first changes the first only")

# cut: drops the units before K but not the parameter sets
o = out("cut.hevc")
run("cut", "--from", 5, src, o)
check([u for _, u, _ in units_of(o)] == orig[:3] + orig[5:], "cut keeps the parameter sets and units from K on")

# concat with and without an end unit
for flag, t in (("--eos", 36), ("--eob", 37), (None, None)):
    o = out("cat.hevc")
    run("concat", *([flag] if flag else []), src, src, o)
    us = [u for _, u, _ in units_of(o)]
    mid = [header(t)] if t else []
    check(us == orig + mid + orig, "concat %s" % (flag or "plain"))

# layers: a layer-1 copy after every unit
o = out("layers.hevc")
run("layers", src, o)
us = [u for _, u, _ in units_of(o)]
check(us[0::2] == orig and all(layer(u) == 1 and u[2:] == v[2:] and ntype(u) == ntype(v)
                               for u, v in zip(us[1::2], orig)), "layers adds a layer-1 copy of every unit")

# start codes and zeros
for n in (3, 4):
    o = out("sc%d.hevc" % n)
    run("startcodes", n, src, o)
    us = units_of(o)
    check([s for s, _, _ in us] == [n] * len(SRC) and [u for _, u, _ in us] == orig, "startcodes %d" % n)
for n in (1, 4):
    o = out("z%d.hevc" % n)
    run("zeros", n, src, o)
    data = open(o, "rb").read()
    check(len(data) == len(src_bytes) + n * len(SRC) and data.endswith(b"\0" * n), "zeros %d adds bytes" % n)
    check([u for _, u, _ in split(data)] == orig, "zeros %d keeps the units" % n)

# mutate: deterministic per seed, each kind does what it says
for kind in ("truncate", "flip", "drop", "dup"):
    outs = []
    for seed in (1, 1, 2, 3):
        o = out("m_%s_%d_%d.hevc" % (kind, seed, len(outs)))
        run("mutate", "--seed", seed, "--kind", kind, src, o)
        outs.append(open(o, "rb").read())
    check(outs[0] == outs[1], "mutate %s: same seed, same output" % kind)
    check(len({outs[0], outs[2], outs[3]}) > 1 or kind in ("drop", "dup"), "mutate %s: seeds differ" % kind)
    for d in outs:
        us = [u for _, u, _ in split(d)]
        if kind == "truncate":
            check(len(d) < len(src_bytes) and src_bytes.startswith(d), "truncate cuts the file")
        elif kind == "drop":
            check(len(us) == len(SRC) - 1 and any(us == orig[:i] + orig[i + 1:] for i in range(len(SRC))),
                  "drop removes one unit")
        elif kind == "dup":
            check(len(us) == len(SRC) + 1 and any(us == orig[:i] + [orig[i]] + orig[i:] for i in range(len(SRC))),
                  "dup repeats one unit")
        else:
            diff = [i for i in range(len(SRC)) if us[i] != orig[i]]
            check(len(us) == len(SRC) and len(diff) == 1, "flip damages exactly one unit")
            if len(diff) == 1:
                i = diff[0]
                x, y = unescape(orig[i][2:]), unescape(us[i][2:])
                bits = sum(bin(p ^ q).count("1") for p, q in zip(x, y))
                check(us[i][:2] == orig[i][:2] and len(x) == len(y) and 1 <= bits <= 8,
                      "flip changes 1-8 payload bits and keeps the header")
            all_valid(split(d), "flip")
o = out("unit.hevc")
run("mutate", "--seed", 5, "--kind", "drop", "--unit", 2, src, o)
check([u for _, u, _ in units_of(o)] == orig[:2] + orig[3:], "mutate --unit picks the unit")

check(run("frobnicate", src, ok=False).returncode != 0, "an unknown command fails")
check(run("list", out("missing.hevc"), ok=False).returncode != 0, "a missing input fails")

if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all h265nal checks passed")
