#!/usr/bin/env python3
"""Joins the ionograms of an accuracy configuration into one VXO file and writes beside it
the truth the end-to-end accuracy tests (tests/e2e) compare with.

    ionosynth.py batch --config tools/cases/accuracy-valley.json --out OUT
    accuracy_truth.py TOOLS_DIR tools/cases/accuracy-valley.json OUT tests/data/accuracy/valley

TOOLS_DIR is the directory of the ionogram synthesiser (for its profile model). The truth
file has one block per record, in file order:

    RECORD name step noise
    PEAKS foF2 hmF2 foF1 hmF1 foE hmE        (0 for a layer the record does not have)
    VALLEY width depth                      (km, MHz; 0 0 without E layer)
    TEC bottomside topside total            (TEC units; bottomside up to hmF2)
    LOWEST f                                (lowest echo frequency of the ionogram, MHz)
    PIECES n
    kind lo hi p1 p2 p3 p4                  (n lines, from the ground up)

The pieces are the synthesiser's analytic profile, fN^2 (MHz^2) on (lo, hi] km:
    zero      0
    const     p1
    chapman   p1 exp((1 - z - exp(-z))/2),  z = (h - p2)/p3  (alpha-Chapman)
    parabola  p1 (1 - ((h - p2)/p3)^2), not below 0
    valley    p1 (1 - p2 sin^2(pi (h - p3)/p4))
The top of the last piece is written as 1e9 km.
"""
import math
import os
import sys

from truth_common import joined_cases, write_pair, zero_if_none


def piece_line(p):
    hi = 1e9 if not math.isfinite(p.hi) else p.hi
    if p.kind == 'zero':
        par = (0, 0, 0, 0)
    elif p.kind == 'const':
        par = (p.a, 0, 0, 0)
    elif p.kind == 'chapman':
        par = (p.a, p.hm, p.scale, 0)
    elif p.kind == 'parabola':
        par = (p.a, p.hm, p.ym, 0)
    elif p.kind == 'valley':
        par = (p.a, p.k, p.h0, p.width)
    else:
        raise ValueError('unknown piece %s' % p.kind)
    return '%s %.9g %.9g %.12g %.12g %.12g %.12g' % ((p.kind, p.lo, hi) + tuple(par))


def main(tools, config, outdir, base):
    vxo_text, records = joined_cases(tools, config, outdir)
    lines = ['# truth of %s.VXO, made by tools/cases/accuracy_truth.py from %s'
             % (os.path.basename(base), os.path.basename(config))]
    z = zero_if_none
    for name, rec, prof in records:
        pk, snd, tec = rec['peaks'], rec['sounding'], rec['tec']
        v = rec['valley'] or {'width_km': 0.0, 'depth_mhz': 0.0}
        lines.append('RECORD %s %.3f %.2f' % (name, snd['step'], snd['noise']))
        lines.append('PEAKS %.3f %.4f %.3f %.4f %.3f %.4f' % (
            pk['foF2'], pk['hmF2'], z(pk['foF1']), z(pk['hmF1']), z(pk['foE']), z(pk['hmE'])))
        lines.append('VALLEY %.4f %.4f' % (v['width_km'], v['depth_mhz']))
        lines.append('TEC %.6f %.6f %.6f' % (tec['bottomside_tecu'], tec['topside_tecu'],
                                             tec['total_tecu']))
        lines.append('LOWEST %.3f' % rec['lowest_echo_mhz'])
        lines.append('PIECES %d' % len(prof.pieces))
        lines += [piece_line(p) for p in prof.pieces]
    write_pair(base, vxo_text, lines)


if __name__ == '__main__':
    main(*sys.argv[1:5])
