#!/usr/bin/env python3
"""Writes seed inputs for the fuzzers: SPS-bearing frames cut from the clips,
and recorded-style streams (answer, stream information, frames) built from
them. Usage: make-seeds.py CLIPS_DIR SPS_OUT SCAN_OUT"""
import os
import struct
import sys

clips, sps_out, scan_out = sys.argv[1:4]
os.makedirs(sps_out, exist_ok=True)
os.makedirs(scan_out, exist_ok=True)


def head(kind, length, seq, ts):
    return struct.pack('<IB3xiIQ', 0x20150723, kind, length, seq, ts)


def info(w, h, rate, codec):
    return struct.pack('<IHHIHHI', 2, w, h, 25 << 4, rate, 0, codec)


for name in sorted(os.listdir(clips)):
    path = os.path.join(clips, name)
    if not (name.endswith('.h264') or name.endswith('.h265')):
        continue
    with open(path, 'rb') as f:
        data = f.read(60000)
    with open(os.path.join(sps_out, name + '.seed'), 'wb') as f:
        f.write(data[:2048])
    # A short stream: answer, stream information, pictures cut at start codes, audio.
    units = [u for u in data.split(b'\x00\x00\x00\x01') if u][:12]
    out = b'HTTP/1.0 200 OK\r\n\r\n' + head(10, 20, 0, 0) + info(640, 360, 8000, 0)
    ts = 86399000
    for i, u in enumerate(units):
        payload = b'\x00\x00\x00\x01' + u[:3000]
        out += head(1 if i == 0 else 2, len(payload), i, ts) + payload
        out += head(3, 320, i, ts + 12) + bytes(320)
        ts += 40
    with open(os.path.join(scan_out, name + '.stream'), 'wb') as f:
        f.write(out)
