#!/usr/bin/env python3
"""Feeds rewritten and damaged streams (made with h265nal at test time)
through h265dec and compares what comes out with the undamaged stream and
with FFmpeg.

    robust.py H265DEC H265NAL CORPUS WORKDIR STREAM CASE THREADS

Pictures are compared by their header lines (type and size) and, once the
decoder reconstructs pictures (its MD5 lines of the undamaged stream equal
FFmpeg's), by their MD5 lines as well.
"""
import os
import re
import subprocess
import sys

H265DEC, H265NAL, CORPUS, WORK, STREAM, CASE, THREADS = sys.argv[1:8]
os.makedirs(WORK, exist_ok=True)
SRC = os.path.join(CORPUS, STREAM + ".hevc")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)
    return cond


def nal(*args):
    p = subprocess.run([H265NAL] + [str(a) for a in args], capture_output=True, text=True)
    if p.returncode != 0:
        sys.exit("h265nal %s failed: %s" % (" ".join(map(str, args)), p.stderr))
    return p


def work(name):
    return os.path.join(WORK, name)


def units(path):
    """(index, type, first_slice_segment_in_pic_flag) for every unit."""
    data = open(path, "rb").read()
    out = []
    for line in nal("list", path).stdout.splitlines():
        if line.startswith("#"):
            continue
        i, off, sc, t, _layer, _tid, size = map(int, line.split())
        first = t < 32 and int(size) > 2 and data[off + sc + 2] & 0x80 != 0
        out.append((i, t, first))
    return out


def au_starts(us):
    """Unit indexes where access units begin (the stream has no AUDs)."""
    starts, pending = [], None
    for i, t, first in us:
        if t in (32, 33, 34, 39) and pending is None:
            pending = i
        elif t < 32 and first:
            starts.append(pending if pending is not None else i)
            pending = None
        elif t < 32:
            pending = None
    return starts


def decode(path, headers, order="display", chunk="au", timeout=60):
    args = [H265DEC, "--threads", THREADS, "--order", order, "--chunk", chunk]
    if headers:
        args.append("--headers-only")
    try:
        p = subprocess.run(args + [path], capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, [], "timeout"
    return p.returncode, p.stdout.splitlines(), p.stderr


def header_key(line):
    m = re.search(r"type (\S+) size (\S+)", line)
    return m.group(0) if m else line


def ffmpeg_md5(path):
    p = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", path, "-fps_mode", "passthrough",
                        "-f", "framemd5", "-"], capture_output=True, text=True, timeout=100)
    return [l for l in p.stdout.splitlines() if l and not l.startswith("#")]


def md5_lines(lines):
    return [l.split(",")[-1].strip() for l in lines if l and not l.startswith("#")]


REF = md5_lines(open(os.path.join(CORPUS, STREAM + ".md5")).read().splitlines())
rc0, ours0, _ = decode(SRC, False)
RECONSTRUCTS = rc0 == 0 and md5_lines(ours0) == REF
print("pictures are %scompared by MD5" % ("" if RECONSTRUCTS else "not yet "))


def same_as(path, want_headers, want_md5, what, allow_errors=False):
    rc, lines, err = decode(path, True)
    check(rc is not None, what + ": no hang")
    if not allow_errors:
        check(rc == 0, what + ": no error (%s)" % err.strip()[-300:])
    check([header_key(l) for l in lines] == want_headers,
          what + ": %d pictures as expected (got %d)" % (len(want_headers), len(lines)))
    if RECONSTRUCTS and want_md5 is not None:
        rc, lines, err = decode(path, False)
        check(md5_lines(lines) == want_md5, what + ": MD5 lines equal")


_, base_lines, _ = decode(SRC, True)
BASE = [header_key(l) for l in base_lines]
check(len(BASE) == len(REF), "the undamaged stream gives FFmpeg's picture count")
US = units(SRC)
AUS = au_starts(US)


def insert(src, dst, at, *args):
    nal("insert", "--at", at, *args, src, dst)
    return dst


if CASE == "inserts":
    # Units the decoder must pass over, at access-unit starts and inside
    # access units; inserted from the back so that indexes stay right.
    vcl_after = [next(i for i, t, _ in US if i >= AUS[k] and t < 32) + 1 for k in range(len(AUS))]
    plan = sorted([
        (AUS[3], ["--type", 50, "--size", 12, "--seed", 3]),
        (AUS[2], ["--type", 41, "--size", 20, "--seed", 2]),
        (AUS[1], ["--type", 35]),
        (0, ["--type", 35]),
        (vcl_after[1], ["--type", 38, "--size", 30]),
        (vcl_after[2], ["--type", 12, "--size", 40, "--seed", 4]),
        (vcl_after[4], ["--type", 46, "--size", 9, "--seed", 5]),
        (vcl_after[4], ["--type", 60, "--size", 200, "--seed", 6]),
        (vcl_after[5], ["--type", 38, "--size", 5, "--count", 3]),
    ], key=lambda p: -p[0])
    cur = SRC
    for n, (at, args) in enumerate(plan):
        cur = insert(cur, work("ins%d.hevc" % n), at, *args)
    same_as(cur, BASE, REF, "inserted units")
elif CASE == "layers":
    nal("layers", SRC, work("layers.hevc"))
    same_as(work("layers.hevc"), BASE, REF, "layer-1 copies")
elif CASE == "startcodes":
    for n in (3, 4):
        nal("startcodes", n, SRC, work("sc.hevc"))
        same_as(work("sc.hevc"), BASE, REF, "%d-byte start codes" % n)
    for n in (1, 2, 3, 4):
        nal("zeros", n, SRC, work("z.hevc"))
        same_as(work("z.hevc"), BASE, REF, "%d trailing zero bytes" % n)
elif CASE in ("bla", "cut"):
    cras = [i for i, t, first in US if t == 21 and first]
    if not check(cras, "the stream has a CRA picture"):
        sys.exit(1)
    outs = []
    if CASE == "bla":
        for to in (16, 17, 18):
            nal("retype", "--from", 21, "--to", to, SRC, work("bla%d.hevc" % to))
            outs.append((work("bla%d.hevc" % to), "CRA as type %d" % to))
    else:
        nal("cut", "--from", cras[0], SRC, work("cut.hevc"))
        outs.append((work("cut.hevc"), "cut at the first CRA"))
    for path, what in outs:
        ff = ffmpeg_md5(path)
        rc, lines, err = decode(path, True)
        check(rc == 0, what + ": no error (%s)" % err.strip()[-300:])
        check(len(lines) == len(ff) and len(ff) < len(REF),
              what + ": RASL pictures left out as FFmpeg does (%d, FFmpeg %d)" % (len(lines), len(ff)))
        if RECONSTRUCTS:
            _, lines, _ = decode(path, False)
            check(md5_lines(lines) == md5_lines(ff), what + ": MD5 lines equal FFmpeg's")
elif CASE.startswith("concat"):
    second = CASE.split("-")[1]
    for flag in (None, "--eos", "--eob"):
        dst = work("cat.hevc")
        nal("concat", *([flag] if flag else []), SRC, os.path.join(CORPUS, second + ".hevc"), dst)
        # The second stream starts with an IDR picture: every picture of the
        # first leaves before it, whatever the POCs, with or without an end
        # unit. FFmpeg's own output for the joined file scales a second
        # picture size to the first, so each stream's reference serves.
        ref2 = md5_lines(open(os.path.join(CORPUS, second + ".md5")).read().splitlines())
        rc, lines, err = decode(dst, True)
        what = "%s then %s %s" % (STREAM, second, flag or "joined")
        check(rc == 0, what + ": no error (%s)" % err.strip()[-300:])
        check(len(lines) == len(REF) + len(ref2),
              what + ": %d pictures (got %d)" % (len(REF) + len(ref2), len(lines)))
        if RECONSTRUCTS:
            _, lines, _ = decode(dst, False)
            check(md5_lines(lines) == REF + ref2, what + ": MD5 lines equal FFmpeg's for the two streams")
elif CASE == "sei240":
    for n in (10, 2048, 2049):
        dst = insert(SRC, work("sei.hevc"), AUS[1], "--type", 39, "--sei240", n)
        rc, lines, err = decode(dst, True, order="decode")
        check(rc == 0 and len(lines) == len(BASE), "SEI of %d bytes: every picture, no error" % n)
        uds = [int(re.search(r" ud (\d+)", l).group(1)) for l in lines]
        want = n if n <= 2048 else 0
        # The length word stays for later pictures (their bytes are zeroed).
        check(len(uds) > 1 and uds[0] == 0 and all(u == want for u in uds[1:]),
              "SEI of %d bytes arrives as %d bytes of user data with the next picture (%s)" % (n, want, uds[:3]))
        if n > 2048:
            check("user data" in err.lower(), "SEI of %d bytes is skipped with a warning" % n)
elif CASE == "seimany":
    # More units in one access unit than a picture may gather (600), and
    # more SEI bytes than the gather buffer holds (4 x 1 MB): a threaded
    # instance parses them on arrival, so neither costs a picture.
    first_vcl = next(i for i, t, _ in US if i >= AUS[1] and t < 32)
    for count, n in ((600, 10), (4, 1 << 20)):
        dst = insert(SRC, work("many.hevc"), first_vcl, "--type", 39, "--sei240", n, "--count", count)
        rc, lines, err = decode(dst, False)
        check(rc == 0, "%d SEI units of %d bytes: no error (%s)" % (count, n, err.strip()[-300:]))
        if RECONSTRUCTS:
            check(md5_lines(lines) == REF, "%d SEI units of %d bytes: MD5 lines equal" % (count, n))
elif CASE.startswith("mutate-"):
    # Seeded mutations per stream, a quarter of each kind per entry.
    # Damage that leaves the parameter sets alone must heal at the next IRAP
    # picture after the damaged access unit (streams without leading pictures).
    heals = STREAM in ("m_closed", "m_camera", "i_base")
    _, dec_lines, _ = decode(SRC, not RECONSTRUCTS, order="decode")
    base_dec = md5_lines(dec_lines) if RECONSTRUCTS else [header_key(l) for l in dec_lines]
    irap_aus = [k for k, s in enumerate(AUS) if any(t in range(16, 22) and first
                                                    for i, t, first in US if i >= s and i < (AUS + [1 << 30])[k + 1])]
    kinds = ("truncate", "flip", "drop", "dup")
    kind = CASE.split("-")[1]
    tails = 0
    # Both thread types take 100 seeds per stream (25 per entry): twice that
    # would double the longest entries and no longer fit the CI budget.
    count = 100
    for seed in range(kinds.index(kind), count, 4):
        dst = work("mut.hevc")
        p = nal("mutate", "--seed", seed, "--kind", kind, SRC, dst)
        # Once pictures are reconstructed, one decode checks both the result
        # and the pictures.
        rc, lines, err = decode(dst, not RECONSTRUCTS, order="decode", chunk="rand:%d" % seed, timeout=20)
        what = "mutation seed %d (%s)" % (seed, p.stderr.strip())
        if not check(rc in (0, 1), what + ": ends with a result, rc %s: %s" % (rc, err.strip()[-500:])):
            continue
        m = re.search(r"(flip|drop|dup) unit (\d+)", p.stderr)
        if not heals or not m:
            continue
        k = int(m.group(2))
        if US[k][1] in (32, 33, 34):
            continue
        damaged_au = max(a for a, s in enumerate(AUS) if s <= k)
        later = [a for a in irap_aus if a > damaged_au]
        if not later:
            continue
        n = len(AUS) - later[0]
        got = md5_lines(lines) if RECONSTRUCTS else [header_key(l) for l in lines]
        check(got[-n:] == base_dec[-n:], what + ": the last %d pictures equal the undamaged stream's" % n)
        tails += 1
    print("%d mutations, %d tails compared" % (count // 4, tails))
else:
    sys.exit("unknown case " + CASE)

if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("passed")
