#!/usr/bin/python3
"""Inverts the example series and plots foF2 and hmF2 through the day at each station,
and the N(h) profile of one record with its F2 peak and the quasi-parabolic segments the
fit put through it. Needs matplotlib (python3-matplotlib), which the zelk module itself
does not. Writes the inverted records, as zelk-batch -o would, beside the plot.

    PYTHONPATH=build/python examples/python/plot_series.py [examples/synth-series.VXO] [out.png]
"""

import os
import sys
from collections import defaultdict
from datetime import datetime

import matplotlib
import numpy

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import zelk  # noqa: E402

here = os.path.dirname(os.path.abspath(__file__))
path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "synth-series.VXO")
out = sys.argv[2] if len(sys.argv) > 2 else "series.png"

# The records of the file, inverted one after the other in one run context as zelk-batch
# inverts a file (zelk.run(path, hstep=5.0, qpacc=0.01) gives the same results in one call).
records = zelk.read(path)
context = zelk.Context()
inverted = [zelk.invert(r, hstep=5.0, qpacc=0.01, context=context) for r in records]
zelk.write(os.path.splitext(out)[0] + ".430", inverted)
results = [r for r in inverted if r.istat == 2]
by_station = defaultdict(list)
for r in results:
    by_station[r.station].append(r)

fig, (ax_f, ax_h, ax_p) = plt.subplots(1, 3, figsize=(15, 4.5))
for station, rs in sorted(by_station.items()):
    # Hours from the station's first record, so that a series across midnight is one line.
    t = [datetime.fromisoformat(r.time.replace("Z", "+00:00")) for r in rs]
    hours = [(x - t[0]).total_seconds() / 3600 for x in t]
    ax_f.plot(hours, [r.foF2 for r in rs], ".-", label="%s from %s" % (station, rs[0].time[:16]))
    ax_h.plot(hours, [r.hmF2 for r in rs], ".-", label=station)
ax_f.set(xlabel="hours from the first record", ylabel="foF2 (MHz)")
ax_h.set(xlabel="hours from the first record", ylabel="hmF2 (km)")
ax_f.legend(fontsize="small")

one = max(results, key=lambda r: r.foF2)
ax_p.plot(one.density / 1e6, one.height, label="N(h) table")
# The quasi-parabolic segments: fN^2 = a/r^2 + b/r + c between their radii.
EARTH_RADIUS = 6370.0
for k, (bottom, top, a, b, c, _err) in enumerate(one.qp):
    r = numpy.linspace(bottom, top, 20)
    fn2 = numpy.clip(a / r**2 + b / r + c, 0.0, None)
    ax_p.plot(zelk.DENSITY_PER_FN2 * fn2 / 1e6, r - EARTH_RADIUS, "--", color="tab:orange",
              label="QP segments" if k == 0 else None)
f2 = one.regions["F2"]
ax_p.plot([zelk.DENSITY_PER_FN2 * f2["end"] ** 2 / 1e6], [f2["peak_height"]], "o", label="F2 peak")
ax_p.legend(fontsize="small")
ax_p.set(xlabel="electron density (10^6 cm^-3)", ylabel="height (km)",
         title="%s %s" % (one.station, one.time))
fig.tight_layout()
fig.savefig(out, dpi=100)
print("%d profiles from %d stations; plot in %s, records in %s" % (
    len(results), len(by_station), out, os.path.splitext(out)[0] + ".430"))
