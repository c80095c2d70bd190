#!/usr/bin/env python3
"""Removes the start of the F trace of every record of VXO files: the ordinary (groups 7-11)
and extraordinary (groups 22-25) F2 echoes below a cut-off frequency, as when a sounder
loses the lowest F echoes; the lowest F frequency and h'F (characteristics 7 and 11) follow.

    late_start.py TOOLS_DIR CUTOFF_MHZ FILE.VXO...      (files rewritten in place)
"""
import sys

MISSING = 9999.0


def trim(rec, groups, cutoff):
    """Drops the leading points of the trace held in GROUPS (the last one holds the
    frequencies) that lie below CUTOFF; returns the remaining heights."""
    freqs = rec.get(groups[-1]) or []
    n = sum(1 for f in freqs if float(f) < cutoff - 1e-6)
    for g in groups:
        vals = rec.get(g)
        if vals and rec.count(g) == len(freqs):
            rec.set_group(g, vals[n:])
    return [float(h) for h in (rec.get(groups[0]) or [])]


def main(tools, cutoff, *files):
    sys.path.insert(0, tools)
    import vxo
    cutoff = float(cutoff)
    for path in files:
        recs = vxo.read_file(path)
        for rec in recs:
            heights = trim(rec, (7, 8, 9, 10, 11), cutoff)
            trim(rec, (22, 23, 24, 25), cutoff)
            scaled = list(rec.get(4))
            freqs = rec.get(11) or []
            scaled[6] = float(freqs[0]) if freqs else MISSING
            seen = [h for h in heights if h < MISSING]
            scaled[10] = min(seen) if seen else MISSING
            rec.set_group(4, scaled)
        with open(path, 'w') as fh:
            vxo.write_records(fh, recs)


if __name__ == '__main__':
    main(*sys.argv[1:])
