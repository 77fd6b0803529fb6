#!/usr/bin/env python3
"""Abort paths and time stamps of threaded instances, through h265dec.

  check_faults.py H265DEC CORPUSDIR CASE

Cases:
  parse-fail:STREAM  the parse of CTB row 3 fails once: 0xF0404006 comes back
                     once, the next returned picture (if any: m_256 has one
                     IDR picture) carries the error flag,
                     both thread types give the same pictures and codes, and
                     from the next IDR picture on the pictures equal FFmpeg's
  early-end:STREAM   CTB row 3 ends its slice segment after two CTUs: the same
                     pictures and codes as the serial decoder with that fault
  own-picture        a failing all-intra picture costs that picture only
  stamps:STREAM      --chunk au --ts: each picture carries the stamp of the
                     access unit that brought it, in both output orders
"""
import re
import subprocess
import sys

TIMEOUT = 90


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def run(tool, args):
    try:
        p = subprocess.run([tool, '--quiet'] + args, capture_output=True, text=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        fail('h265dec %s did not return within %d s' % (' '.join(args), TIMEOUT))
    if p.returncode not in (0, 1):
        fail('h265dec %s exited with %d\n%s' % (' '.join(args), p.returncode, p.stderr[-2000:]))
    md5 = [l.split(',')[-1].strip() for l in p.stdout.splitlines() if l and not l.startswith('#')]
    codes = re.findall(r'^error (0x[0-9A-F]+)', p.stderr, re.M)
    flagged = [int(n) for n in re.findall(r'picture (\d+) carries the error flag', p.stderr)]
    return md5, codes, flagged, p.stdout


def ffmpeg_md5(stream):
    p = subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-threads', '1', '-i', stream, '-fps_mode',
                        'passthrough', '-f', 'framemd5', '-'], capture_output=True, text=True, timeout=TIMEOUT)
    return [l.split(',')[-1].strip() for l in p.stdout.splitlines() if l and not l.startswith('#')]


def fault(kind):
    return ['--fault-row', '3', '--fault-kind', str(kind)]


def both_types_agree(tool, stream, kind):
    serial = run(tool, ['--threads', '0'] + fault(kind) + [stream])
    threaded = run(tool, ['--threads', '1'] + fault(kind) + [stream])
    if serial[0] != threaded[0]:
        fail('kind %d: the thread types give different pictures (%d and %d)' % (kind, len(serial[0]),
                                                                                 len(threaded[0])))
    if serial[1] != threaded[1] or serial[2] != threaded[2]:
        fail('kind %d: codes %s / flags %s serially, %s / %s threaded' % (kind, serial[1], serial[2], threaded[1],
                                                                        threaded[2]))
    return threaded


def idr_count(corpus, name):
    # Pictures of the first GOP of a closed-GOP stream: up to the second IDR.
    order = [l.split() for l in open('%s/%s.order' % (corpus, name))]
    return sorted(int(a) for a, t in order if t == 'I')[1]


def main():
    tool, corpus, case = sys.argv[1], sys.argv[2], sys.argv[3]
    kind, _, name = case.partition(':')
    stream = '%s/%s.hevc' % (corpus, name)
    if kind == 'parse-fail':
        md5, codes, flagged, _ = both_types_agree(tool, stream, 1)
        if codes.count('0xF0404006') != 1:
            fail('0xF0404006 should come back once, got %s' % codes)
        if md5 and flagged[:1] != [0]:
            fail('the first picture returned after the failure must carry the error flag (flags %s)' % flagged)
        ref = ffmpeg_md5(stream)
        if name == 'm_closed':
            tail = ref[idr_count(corpus, name):]
            if md5[-len(tail):] != tail:
                fail('the pictures from the next IDR picture on differ from FFmpeg\'s')
    elif kind == 'early-end':
        both_types_agree(tool, stream, 2)
    elif kind == 'own-picture':
        stream = '%s/i_base.hevc' % corpus
        md5, codes, flagged, _ = run(tool, ['--threads', '1'] + fault(1) + [stream])
        ref = ffmpeg_md5(stream)
        if codes != ['0xF0404006']:
            fail('one error expected, got %s' % codes)
        if md5 != ref[1:]:
            fail('an all-intra stream must lose only the failing picture: %d of %d pictures' % (len(md5), len(ref)))
    elif kind == 'stamps':
        for order in ('display', 'decode'):
            want = run(tool, ['--threads', '0', '--chunk', 'au', '--ts', '--order', order, stream])[3]
            got = run(tool, ['--threads', '1', '--chunk', 'au', '--ts', '--order', order, stream])[3]
            stamps = [int(l.split(',')[1]) for l in got.splitlines() if l and not l.startswith('#')]
            if order == 'decode' and stamps != list(range(len(stamps))):
                fail('decode order: picture k must carry stamp k: %s' % stamps[:20])
            if got != want:
                fail('%s order: stamps or pictures differ from the serial decoder\'s' % order)
    else:
        fail('unknown case ' + case)
    print('ok: ' + case)


if __name__ == '__main__':
    main()
