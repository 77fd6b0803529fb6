#!/usr/bin/env python3
"""Turns ffprobe's packet positions (decode order) and frame pkt_pos/pict_type
(display order) into one line per output picture: access-unit index and type."""
import sys


def values(path, key):
    out = []
    with open(path) as f:
        for line in f:
            if line.startswith(key + '='):
                out.append(line.strip().split('=', 1)[1])
    return out


def main():
    packets = [int(p) for p in values(sys.argv[1], 'pos')]
    index = {pos: i for i, pos in enumerate(packets)}
    pos = values(sys.argv[2], 'pkt_pos')
    types = values(sys.argv[2], 'pict_type')
    for p, t in zip(pos, types):
        print(index.get(int(p), -1), t)


if __name__ == '__main__':
    main()
