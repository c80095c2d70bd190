#!/usr/bin/env python3
"""Writes the committed fuzzing corpus into tests/data/fuzz/: one file per class of damage
a transfer or an editor does to a VXO file, each made from the three records of
repro/D4-three-good.VXO (written by the program, each record ending with its digit line;
record 2 is lines 39 to 76). The fuzz targets start from these files (with the examples),
and the test suite runs the batch program over them and reads every output back.
Run from tests/data:  python3 gen/make_fuzz_corpus.py
"""
import os
import random

rnd = random.Random(11)
text = open('repro/D4-three-good.VXO', 'rb').read()
lines = text.split(b'\n')[:-1]
R2 = 38                      # 0-based first line of record 2
R3 = 76                      # 0-based first line of record 3


def join(ls):
    return b'\n'.join(ls) + b'\n'


def set_index(ls, start, element, value):
    """The file with index element `element` (1..80) of the record at `start` set."""
    idx = ls[start] + ls[start + 1]
    fields = [idx[i:i + 3] for i in range(0, 240, 3)]
    fields[element - 1] = b'%3d' % value
    s = b''.join(fields)
    out = list(ls)
    out[start], out[start + 1] = s[:120], s[120:]
    return out


def flip_bits(data, n):
    b = bytearray(data)
    for _ in range(n):
        i = rnd.randrange(len(b))
        b[i] ^= 1 << rnd.randrange(8)
    return bytes(b)


def replace_field(ls, line, col, width, value):
    out = list(ls)
    l = out[line]
    out[line] = l[:col] + value.rjust(width)[:width] + l[col + width:]
    return out


files = {
    'bitflip.VXO': flip_bits(text, 12),
    'truncated.VXO': text[: len(text) * 3 // 5],
    'deleted-line.VXO': join(lines[:R2 + 6] + lines[R2 + 7:]),
    'duplicated-line.VXO': join(lines[:R2 + 6] + [lines[R2 + 6]] + lines[R2 + 6:]),
    'swapped-lines.VXO': join(lines[:R2 + 5] + [lines[R2 + 6], lines[R2 + 5]] + lines[R2 + 7:]),
    # Values wider than the writer's fields: a characteristic, a height, a constant.
    'wide-numbers.VXO': join(replace_field(replace_field(replace_field(lines, R2 + 5, 8, 8, b'-9999.99'),
                                                         R2 + 6, 16, 8, b'1.0E+38'), R3 + 2, 14, 7, b'9999999')),
    'huge-count.VXO': join(set_index(lines, R2, 51, 999)),
    'negative-count.VXO': join(set_index(lines, R2, 7, -5)),
    'garbage.VXO': join(lines[:R2]) + bytes(rnd.randrange(256) for _ in range(700)) + b'\n' + join(lines[R2:]),
    'nul-bytes.VXO': join(lines[:R2 + 5] + [lines[R2 + 5][:20] + b'\0\0\0\0' + lines[R2 + 5][24:]] + lines[R2 + 6:]),
    'crlf.VXO': text.replace(b'\n', b'\r\n'),
    'overlong-line.VXO': join(lines[:R2 + 3] + [lines[R2 + 3] + b'X' * 5000] + lines[R2 + 4:]),
}

os.makedirs('fuzz', exist_ok=True)
for name, data in files.items():
    with open(os.path.join('fuzz', name), 'wb') as f:
        f.write(data)
