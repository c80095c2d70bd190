#!/usr/bin/env python3
"""Makes the bad-input records of the display tests from a noise-free night ionogram.

    ionosynth.py make --preset midlat-night --step 0.05 --noise 0 --no-quantize --with-x \\
        --out tests/data/display/synth-x-night.VXO
    display_bad.py TOOLS_DIR tests/data/display/synth-x-night.VXO tests/data/display/bad-input.VXO

TOOLS_DIR is the directory of the ionogram synthesiser (for its VXO reader and writer).
The output holds four records, each the night record with one fault:
  1. no trace at all (every O and X trace group emptied);
  2. the F2 trace lifted by 400 km, so that its upper part lies above 700 km;
  3. every fourth F2 virtual height negative;
  4. foF2 not scaled (characteristic 1 = 9999.0), which ends the file before the
     inversion.
"""
import copy
import sys

sys.path.insert(0, sys.argv[1])
import vxo  # noqa: E402

with open(sys.argv[2]) as f:
    base = next(iter(vxo.read_records(f)))

out = []

rec = copy.deepcopy(base)
for g in (7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
          28, 29, 30, 31, 32, 33):
    if rec.count(g):
        rec.set_group(g, [])
out.append(rec)

rec = copy.deepcopy(base)
rec.set_group(7, [h + 400.0 if h < 9999.0 else h for h in rec.get(7)])
out.append(rec)

rec = copy.deepcopy(base)
rec.set_group(7, [-h if (i % 4 == 3 and h < 9999.0) else h for i, h in enumerate(rec.get(7))])
out.append(rec)

rec = copy.deepcopy(base)
scaled = list(rec.get(4))
scaled[0] = 9999.0
rec.set_group(4, scaled)
out.append(rec)

with open(sys.argv[3], 'w') as f:
    vxo.write_records(f, out)
print('wrote', sys.argv[3], len(out), 'records')
