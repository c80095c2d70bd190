#!/usr/bin/env python3
"""Writes the configurations of the refined-mode accuracy cases (accuracy-refine.json) and of
the F1-ledge day records (accuracy-f1ledge.json), for the ionogram synthesiser.

    refine_cases.py TOOLS_DIR tools/cases   # also writes accuracy-f1ledge.json, accuracy-gap.json

accuracy-refine: profiles whose unseen part (the E-F valley, or the ionisation below the
first F echo) differs from the inversion's model, each at the steps 0.1, 0.05 and 0.025 MHz,
without noise and with 1.5 km of noise and 5 % dropouts, with and without X traces:
  wide-valley    noon E and F2 layers with valleys 20 to 70 km wide;
  lifted-night   a night F2 layer at 450 to 600 km over a weak E layer below the lowest
                 frequency;
  e-below        a day whose E layer lies below the lowest sounding frequency (no foE
                 scaled);
  late-f         an F trace that starts 1.5 MHz above foE (its lower echoes removed by
                 late_start.py).
accuracy-gap: night F2 layers without E trace whose F trace starts 0.5 to 1 MHz above the
start of the F region (the model foE), so that the F2 layer is solved order by order from
the gap: three profiles (hmF2 280 to 350 km, foF2 4 to 5.5 MHz, lowest echo 1 to 1.5 MHz)
at 0.1, 0.05 and 0.025 MHz, without noise and with 1.5 km of noise and 5 % dropouts.
accuracy-f1ledge: equatorial and high-foF2 day records with an F1 ledge, hmF2 and foF2
swept around the presets, at 0.1, 0.05 and 0.025 MHz, and at 0.05 MHz with 1.5 km of noise.
"""
import json
import os
import sys

MIDLAT = {"name": "SYNTH", "code": 121, "lat": 40.0, "lon": 255.0, "dip": 65.0, "fh": 1.35,
          "ssn": 100.0}
STEPS = (0.1, 0.05, 0.025)


def hbot_for_width(ionosynth, foE, hmE, foF2, hmF2, width):
    """F2 bottom scale height that makes the F2 bottomside reach foE WIDTH km above hmE."""
    z = ionosynth.chapman_z_below((foE / foF2) ** 2)
    return round((hmE + width - hmF2) / z, 3)


def variants(name, base, seed0, xs=(True, False)):
    """The record of BASE at each step, clean and noisy, with X traces and (or) without."""
    out = []
    seed = seed0
    for x in xs:
        for step in STEPS:
            for noisy in (False, True):
                c = json.loads(json.dumps(base))
                c["name"] = "%s-%s%s%s" % (name, step, "-noise" if noisy else "", "-x" if x else "")
                c["step"] = step
                c["with_x"] = x
                if noisy:
                    c["noise"] = 1.5
                    c["dropout"] = 0.05
                    c["seed"] = seed
                    seed += 1
                out.append(c)
    return out


def refine_cases(ionosynth):
    cases = []
    # Wide valleys: noon E layer (foE 3.2 MHz at 110 km), F2 9 MHz at 280 km.
    for i, width in enumerate((20.0, 45.0, 70.0)):
        hbot = hbot_for_width(ionosynth, 3.2, 110.0, 9.0, 280.0, width)
        base = {"time": "2004-06-15T19:00:00", "fmin": 1.5, "station": MIDLAT,
                "profile": {"E": {"foE": 3.2, "hmE": 110.0, "shape": "chapman", "H": 10.0},
                            "valley": {"depth": 0.15}, "F1": None,
                            "F2": {"foF2": 9.0, "hmF2": 280.0, "H": 50.0, "Hbot": hbot}}}
        cases += variants("wide-valley-%d" % width, base, 300 + 20 * i)
    # Lifted night layer over a weak E layer below the lowest frequency.
    for i, (hm, fo) in enumerate(((450.0, 6.0), (600.0, 5.2))):
        base = {"time": "2004-06-15T07:00:00", "fmin": 1.0, "station": MIDLAT,
                "profile": {"E": {"foE": 0.6, "hmE": 105.0, "shape": "chapman", "H": 8.0},
                            "valley": {"depth": 0.5}, "F1": None,
                            "F2": {"foF2": fo, "hmF2": hm, "H": 70.0, "Hbot": 60.0}}}
        cases += variants("lifted-night-%d" % hm, base, 400 + 20 * i)
    # A day whose E layer (2.2 MHz) lies below the lowest frequency (2.6 MHz).
    base = {"time": "2004-06-15T19:00:00", "fmin": 2.6, "station": MIDLAT,
            "profile": {"E": {"foE": 2.2, "hmE": 110.0, "shape": "chapman", "H": 10.0},
                        "valley": {"depth": 0.15}, "F1": None,
                        "F2": {"foF2": 8.0, "hmF2": 290.0, "H": 50.0, "Hbot": 70.0}}}
    cases += variants("e-below", base, 500)
    # An F trace whose echoes below 4.5 MHz, foE + 1.5 MHz, were lost (late_start.py cuts
    # them from the files the synthesiser writes).
    base = {"time": "2004-06-15T19:00:00", "fmin": 1.5, "station": MIDLAT,
            "profile": {"E": {"foE": 3.0, "hmE": 110.0, "shape": "chapman", "H": 10.0},
                        "valley": {"depth": 0.2}, "F1": None,
                        "F2": {"foF2": 9.0, "hmF2": 300.0, "H": 50.0, "Hbot": 60.0}}}
    cases += variants("late-f", base, 600)
    return {"defaults": {"range_bin": 5, "noise": 0}, "cases": cases}


def gap_cases():
    cases = []
    for i, (hm, fo, fmin) in enumerate(((310.0, 4.51, 1.0), (280.0, 5.5, 1.5), (350.0, 4.0, 1.2))):
        base = {"time": "2004-06-15T07:00:00", "fmin": fmin, "station": MIDLAT,
                "profile": {"E": {"foE": 0.6, "hmE": 105.0, "shape": "chapman", "H": 8.0},
                            "valley": {"depth": 0.5}, "F1": None,
                            "F2": {"foF2": fo, "hmF2": hm, "H": 55.0}}}
        cases += variants("night-%d" % hm, base, 800 + len(STEPS) * i, xs=(False,))
    return {"defaults": {"range_bin": 5, "noise": 0}, "cases": cases}


def f1ledge_cases():
    cases = []
    for preset, hms, fos in (("equatorial-day", (340.0, 360.0, 380.0, 400.0, 420.0),
                              (11.0, 11.5, 12.03, 12.5, 13.0)),
                             ("high-foF2", (280.0, 300.0, 320.0, 340.0, 360.0),
                              (13.0, 13.5, 14.02, 14.5, 15.0))):
        recs = [{"profile": {"F2": {"hmF2": hm, "foF2": fo}}} for hm in hms for fo in fos]
        for step, noise in ((0.1, 0.0), (0.05, 0.0), (0.025, 0.0), (0.05, 1.5)):
            cases.append({"name": "%s-sweep-%s%s" % (preset, step, "-noise" if noise else ""),
                          "preset": preset, "step": step, "noise": noise, "seed": 700,
                          "records": recs, "interval_min": 15})
    return {"defaults": {"range_bin": 5, "noise": 0}, "cases": cases}


def main(tools, outdir):
    sys.path.insert(0, tools)
    import ionosynth
    for name, cfg in (("accuracy-refine.json", refine_cases(ionosynth)),
                      ("accuracy-f1ledge.json", f1ledge_cases()),
                      ("accuracy-gap.json", gap_cases())):
        with open(os.path.join(outdir, name), "w") as fh:
            json.dump(cfg, fh, indent=1)
            fh.write("\n")


if __name__ == "__main__":
    main(*sys.argv[1:3])
