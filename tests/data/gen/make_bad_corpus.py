#!/usr/bin/env python3
"""Writes the bad-input corpus of the VXO reader tests into tests/data/bad/.

Each file is built from the first record of io-synth-night.VXO (28 lines: index 2, groups
1, 2, 3 one line each, group 4 three lines, groups 7 and 11 ten lines each).
Run from tests/data:  python3 gen/make_bad_corpus.py
"""
import random

lines = open('io-synth-night.VXO').read().split('\n')
rec = lines[:28]
good = '\n'.join(rec) + '\n'


def with_index(element, value):
    """The record with index element `element` (1..80) set to `value`."""
    idx = rec[0] + rec[1]
    fields = [idx[i:i + 3] for i in range(0, 240, 3)]
    fields[element - 1] = '%3d' % value
    s = ''.join(fields)
    return '\n'.join([s[:120], s[120:]] + rec[2:]) + '\n'


files = {
    'empty.VXO': '',
    'text-first.VXO': 'STATION LOG EXPORT, NOT PART OF THE RECORDS\n' + good,
    'index17.VXO': with_index(1, 17) + good,
    'overcap.VXO': with_index(7, 401) + good,
    'negative.VXO': with_index(11, -5) + good,
    'letter.VXO': good.replace('   4.510', '   4.5l0', 1) + good,
    'cut.VXO': '\n'.join(rec[:12]) + '\n',
    'overlong.VXO': 'X' * 200000 + '\n' + good,
    'binary-index.VXO': rec[0][:30] + '\x00\x01\x02' + rec[0][33:] + '\n' + '\n'.join(rec[1:]) + '\n' + good,
    'crlf.VXO': good.replace('\n', '\r\n'),
}
rnd = random.Random(20261207)
open('bad/random.VXO', 'wb').write(bytes(rnd.getrandbits(8) for _ in range(16384)))
for name, text in files.items():
    open('bad/' + name, 'w', newline='').write(text)
