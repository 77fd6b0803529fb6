#!/usr/bin/env python3
"""Header-level checks of one corpus stream against FFmpeg's reference files.

  check_headers.py TOOL CORPUSDIR NAME [--reject] [--maxref N --expect-error CODE]

Without --reject:
  1. h265dec --trace-headers against NAME.trace: per NAL unit, every
     "name = value" the tool prints appears in FFmpeg's trace of the same
     unit, with the same value, in order;
  2. --headers-only --chunk au --ts in display order gives the access units
     and picture types of NAME.order, and in decode order all of them in
     stream order;
  3. the header-only output is the same for every way of cutting the stream;
  4. stderr carries only the warnings streams.list expects for the stream.
With --reject: every call fails with 0xF0404003 or a follow-on error and no
picture comes out. Each failure names the first differing unit or picture.
"""
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TYPE_LETTER = {'I': 0, 'P': 1, 'B': 2}


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def manifest(name):
    with open(os.path.join(HERE, 'streams.list')) as f:
        for line in f:
            if line.lstrip().startswith('#') or '|' not in line:
                continue
            fields = [x.strip() for x in line.rstrip('\n').split('|')]
            if fields[0] == name:
                warnings = [w.strip() for w in fields[5].split(';')] if len(fields) > 5 else []
                return fields[4].split(), [w for w in warnings if w]
    fail('%s is not in streams.list' % name)


def run(tool, args):
    p = subprocess.run([tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode < 0:
        fail('h265dec %s died with signal %d\n%s' % (' '.join(args), -p.returncode, p.stderr[-2000:]))
    return p


def ffmpeg_units(path):
    """Syntax elements per NAL unit from FFmpeg's trace, without the
    Extradata block (the parameter sets listed once more)."""
    units = []
    in_extradata = False
    elem = re.compile(r'^\[trace_headers @ [^\]]+\] \d+\s+(\S+)\s+[01]* = (-?\d+)$')
    with open(path) as f:
        for line in f:
            line = line.rstrip('\n')
            text = line.split('] ', 1)[1] if '] ' in line else ''
            if text == 'Extradata':
                in_extradata = True
                continue
            if text.startswith('Packet:'):
                in_extradata = False
                continue
            if in_extradata:
                continue
            m = elem.match(line)
            if not m:
                continue
            name, value = m.group(1), int(m.group(2))
            if name == 'forbidden_zero_bit':
                units.append([])
            if units:
                units[-1].append((name, value))
    return units


def our_units(text):
    units = []
    for line in text.splitlines():
        if line.startswith('nal '):
            units.append([])
        elif ' = ' in line and units:
            name, value = line.split(' = ')
            units[-1].append((name, int(value)))
    return units


def check_trace(tool, stream, trace):
    p = run(tool, ['--trace-headers', '--quiet', stream])
    ours = our_units(p.stdout)
    theirs = ffmpeg_units(trace)
    if len(ours) != len(theirs):
        fail('trace: %d NAL units from h265dec, %d in FFmpeg\'s trace' % (len(ours), len(theirs)))
    for i, (a, b) in enumerate(zip(ours, theirs)):
        j = 0
        for name, value in a:
            while j < len(b) and b[j][0] != name:
                j += 1
            if j == len(b):
                fail('trace: NAL unit %d: %s = %d not found in FFmpeg\'s trace (in order)' % (i, name, value))
            if b[j][1] != value:
                fail('trace: NAL unit %d: %s = %d, FFmpeg has %d' % (i, name, value, b[j][1]))
            j += 1


def pic_lines(text):
    return [l for l in text.splitlines() if l.startswith('pic ')]


def check_order(tool, stream, order, allowed):
    p = run(tool, ['--headers-only', '--chunk', 'au', '--ts', stream])
    check_stderr(p, allowed, 'display order')
    got = []
    for l in pic_lines(p.stdout):
        f = l.split()
        got.append((int(f[3]), int(f[5])))
    want = []
    with open(order) as f:
        for line in f:
            idx, t = line.split()
            want.append((int(idx), TYPE_LETTER.get(t, -1)))
    for k, (g, w) in enumerate(zip(got, want)):
        if g != w:
            fail('display order: picture %d is access unit %d type %d, FFmpeg has access unit %d type %d'
                 % (k, g[0], g[1], w[0], w[1]))
    if len(got) != len(want):
        fail('display order: %d pictures, FFmpeg has %d' % (len(got), len(want)))
    p = run(tool, ['--headers-only', '--chunk', 'au', '--ts', '--order', 'decode', stream])
    check_stderr(p, allowed, 'decode order')
    ts = [int(l.split()[3]) for l in pic_lines(p.stdout)]
    if ts != sorted(w[0] for w in want):
        fail('decode order: access units %s, want %s' % (ts[:20], sorted(w[0] for w in want)[:20]))


def check_stderr(p, allowed, what):
    if p.returncode != 0:
        fail('%s: h265dec exited with %d\n%s' % (what, p.returncode, p.stderr[-2000:]))
    for line in p.stderr.splitlines():
        if not any(frag in line for frag in allowed):
            fail('%s: unexpected message: %s' % (what, line))


def check_chunking(tool, stream, allowed):
    ways = [['--chunk', 'au'], ['--chunk', 'rand:1'], ['--chunk', 'rand:2']]
    if os.path.getsize(stream) < 65536:
        ways.append(['--chunk', '1'])
    ref = None
    for w in ways:
        p = run(tool, ['--headers-only'] + w + [stream])
        check_stderr(p, allowed, ' '.join(w))
        lines = pic_lines(p.stdout)
        if ref is None:
            ref = (w, lines)
            continue
        for k, (a, b) in enumerate(zip(ref[1], lines)):
            if a != b:
                fail('chunking: picture %d differs between %s and %s:\n  %s\n  %s'
                     % (k, ' '.join(ref[0]), ' '.join(w), a, b))
        if len(lines) != len(ref[1]):
            fail('chunking: %d pictures with %s, %d with %s' % (len(ref[1]), ' '.join(ref[0]), len(lines), ' '.join(w)))


def check_reject(tool, stream):
    p = run(tool, ['--headers-only', stream])
    if pic_lines(p.stdout):
        fail('reject: a picture came out')
    codes = re.findall(r'error 0x([0-9A-F]{8})', p.stderr)
    if 'F0404003' not in codes:
        fail('reject: no 0xF0404003 in\n' + p.stderr[-2000:])
    for c in codes:
        if c not in ('F0404003', 'F0404004', 'F0404005'):
            fail('reject: unexpected error 0x%s' % c)
    if p.returncode != 1:
        fail('reject: exit status %d' % p.returncode)


def check_maxref(tool, stream, maxref, code):
    p = run(tool, ['--headers-only', '--maxref', maxref, stream])
    codes = set(re.findall(r'error 0x([0-9A-F]{8})', p.stderr))
    if code.upper() not in codes:
        fail('maxref %s: no error 0x%s' % (maxref, code))
    if p.returncode != 1:
        fail('maxref %s: exit status %d' % (maxref, p.returncode))


def main():
    args = sys.argv[1:]
    if len(args) < 3:
        print(__doc__)
        sys.exit(2)
    tool, corpus, name = args[:3]
    opts = args[3:]
    stream = os.path.join(corpus, name + '.hevc')
    if not os.path.exists(stream):
        fail('%s was not made' % stream)
    tags, warnings = manifest(name)
    if '--maxref' in opts:
        check_maxref(tool, stream, opts[opts.index('--maxref') + 1], opts[opts.index('--expect-error') + 1])
    elif 'reject' in tags:
        check_reject(tool, stream)
    else:
        check_trace(tool, stream, os.path.join(corpus, name + '.trace'))
        check_order(tool, stream, os.path.join(corpus, name + '.order'), warnings)
        check_chunking(tool, stream, warnings)
    print('ok')


if __name__ == '__main__':
    main()
