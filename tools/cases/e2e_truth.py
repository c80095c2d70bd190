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
import json
import sys


def main(tools, outdir, base):
    sys.path.insert(0, tools)
    import ionosynth
    cfg = json.load(open(__file__.replace('e2e_truth.py', 'e2e.json')))
    vxo_parts, lines = [], ['# truth of %s.VXO, made by tools/cases/e2e_truth.py' % base.split('/')[-1]]
    for case in cfg['cases']:
        name = case['name']
        vxo_parts.append(open('%s/%s.VXO' % (outdir, name)).read())
        truth = json.load(open('%s/%s.json' % (outdir, name)))
        for rec in truth['records']:
            prof = ionosynth.LayeredProfile(rec['params'])
            pk = rec['peaks']
            pts = []
            for layer in ('F1', 'F2'):
                tr = rec['traces'][layer]
                for f, h in zip(tr['f_mhz'], tr['h_written_km']):
                    if h is not None:
                        pts.append((f, prof.true_height(f, 'F')))
            def v(x):
                return 0.0 if x is None else x
            lines.append('RECORD %s %.3f %.3f %.3f %.3f %.3f %.3f %.3f %d' % (
                name, rec['sounding']['step'], pk['foF2'], pk['hmF2'], v(pk['foF1']),
                v(pk['hmF1']), v(pk['foE']), v(pk['hmE']), len(pts)))
            lines += ['%.3f %.4f' % p for p in pts]
    open(base + '.VXO', 'w').write(''.join(vxo_parts))
    open(base + '.truth', 'w').write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main(*sys.argv[1:4])
