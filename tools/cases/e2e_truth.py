#!/usr/bin/env python3
"""Joins the ionograms of the end-to-end configuration e2e.json into one VXO file and
writes beside it the truth the inversion tests compare with.

    ionosynth.py batch --config tools/cases/e2e.json --out OUT
    e2e_truth.py TOOLS_DIR OUT tests/data/e2e/synth-e2e

TOOLS_DIR is the directory of the ionogram synthesiser (for its profile model). The truth
file has one block per record, in file order:

    RECORD name step foF2 hmF2 foF1 hmF1 foE hmE n
    f h          (n lines: every frequency of the F1 and F2 traces that has an echo,
                  with the true real height of the F side of the profile there)

Frequencies in MHz, heights in km; 0 for a layer the record does not have.
"""
import os
import sys

from truth_common import joined_cases, write_pair, zero_if_none


def main(tools, outdir, base):
    config = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'e2e.json')
    vxo_text, records = joined_cases(tools, config, outdir)
    lines = ['# truth of %s.VXO, made by tools/cases/e2e_truth.py' % base.split('/')[-1]]
    v = zero_if_none
    for name, rec, prof in records:
        pk = rec['peaks']
        pts = []
        for layer in ('F1', 'F2'):
            tr = rec['traces'][layer]
            for f, h in zip(tr['f_mhz'], tr['h_written_km']):
                if h is not None:
                    pts.append((f, prof.true_height(f, 'F')))
        lines.append('RECORD %s %.3f %.3f %.3f %.3f %.3f %.3f %.3f %d' % (
            name, rec['sounding']['step'], pk['foF2'], pk['hmF2'], v(pk['foF1']),
            v(pk['hmF1']), v(pk['foE']), v(pk['hmE']), len(pts)))
        lines += ['%.3f %.4f' % p for p in pts]
    write_pair(base, vxo_text, lines)

if __name__ == '__main__':
    main(*sys.argv[1:4])
