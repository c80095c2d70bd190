#!/usr/bin/python3
"""Inverts the example series and plots foF2 and hmF2 through the day at each station,
and the N(h) profile of one record. Needs matplotlib (python3-matplotlib), which the zelk
module itself does not.

    PYTHONPATH=build/python examples/python/plot_series.py [examples/synth-series.VXO] [out.png]
"""

import os
import sys
from collections import defaultdict
from datetime import datetime

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import zelk  # noqa: E402

here = os.path.dirname(os.path.abspath(__file__))
path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "synth-series.VXO")
out = sys.argv[2] if len(sys.argv) > 2 else "series.png"

results = [r for r in zelk.run(path, hstep=5.0) if r.istat == 2]
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
ax_p.plot(one.density / 1e6, one.height)
ax_p.set(xlabel="electron density (10^6 cm^-3)", ylabel="height (km)",
         title="%s %s" % (one.station, one.time))
fig.tight_layout()
fig.savefig(out, dpi=100)
print("%d profiles from %d stations; plot in %s" % (len(results), len(by_station), out))
