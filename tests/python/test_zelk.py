"""The Python module against the batch program: the same results, errors as exceptions."""

import concurrent.futures
import glob
import json
import os
import subprocess
import warnings

import numpy
import pytest

import zelk

SOURCE = os.environ.get("ZELK_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
BATCH = os.environ.get("ZELK_BATCH_EXE", "zelk-batch")
EXAMPLES = sorted(glob.glob(os.path.join(SOURCE, "examples", "*.VXO")))
BAD = sorted(glob.glob(os.path.join(SOURCE, "tests", "data", "bad", "*")))


def batch_run(tmp_path, path, *options):
    """The JSON Lines summary rows of zelk-batch over one file, as dicts, and the lines
    of standard error that name the file (its notices)."""
    out = tmp_path / "s.jsonl"
    p = subprocess.run([BATCH, *options, "--summary", str(out), path], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    notices = [l for l in p.stderr.splitlines() if l.startswith("zelk-batch: " + path + ":")]
    rows = [json.loads(line) for line in out.read_text().splitlines()] if out.exists() else []
    return rows, notices


def batch_summary(tmp_path, path, *options):
    return batch_run(tmp_path, path, *options)[0]


def batch_table(tmp_path, path, hstep):
    """The N(h) tables (groups 51, 52) of the output records of zelk-batch, by record."""
    out = tmp_path / "out.430"
    subprocess.run([BATCH, "--hstep", str(hstep), "-o", str(out), path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return out.read_bytes()


@pytest.mark.parametrize("path", EXAMPLES, ids=os.path.basename)
@pytest.mark.parametrize("options", [(0.0, 0.0), (10.0, 0.01)])
def test_results_equal_the_batch_summary(tmp_path, path, options):
    hstep, qpacc = options
    want = batch_summary(tmp_path, path, "--hstep", str(hstep), "--qpacc", str(qpacc))
    got = zelk.run(path, hstep=hstep, qpacc=qpacc)
    assert len(want) > 0
    assert [r.as_dict() for r in got] == want
    for r in got:
        assert isinstance(r.height, numpy.ndarray) and r.height.shape == r.fn.shape
        if hstep > 0 and r.istat == 2:
            # The table climbs in height steps of hstep to the topside.
            assert len(r.height) > 10
            assert numpy.all(numpy.diff(r.height) > 0)
            assert r.height.max() <= 1000.0 + 1e-3
            # Its peak is the record's F2 peak.
            assert abs(float(r.fn.max()) - r.foF2) < 0.01
            assert r.density == pytest.approx(12380.0 * r.fn.astype(float) ** 2)
        elif hstep == 0:
            assert len(r.height) == 0


def test_missing_values_are_none_and_status_is_in_words():
    rs = zelk.run(os.path.join(SOURCE, "examples", "midlat-night.VXO"))
    assert rs[0].istat == 2 and rs[0].status == "profile inverted"
    assert rs[0].foF1 is None and rs[0].hmF1 is None   # a night profile: no F1 layer
    assert isinstance(rs[0].foF2, float)


def test_series_in_file_order_and_from_a_thread_pool():
    path = os.path.join(SOURCE, "examples", "synth-series.VXO")
    one = [r.as_dict() for r in zelk.run(path)]
    assert [r["record"] for r in one] == sorted(r["record"] for r in one)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        many = list(pool.map(lambda p: [r.as_dict() for r in zelk.run(p)], [path] * 3))
    assert all(m == one for m in many)
    # The records of the one file made on two threads: the same results in the same order.
    assert [r.as_dict() for r in zelk.run(path, jobs=2)] == one
    with pytest.raises(ValueError):
        zelk.run(path, jobs=0)


@pytest.mark.parametrize("path", BAD, ids=os.path.basename)
def test_bad_files_raise_or_match_the_batch_program(tmp_path, path):
    want, notices = batch_run(tmp_path, path)
    if not want:
        with pytest.raises(zelk.Error) as e:
            zelk.run(path)
        assert str(e.value)   # the program's message, not an empty one
    else:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            got = zelk.run(path)
        assert [r.as_dict() for r in got] == want
        # The batch program's notices about the file, word for word.
        assert ["zelk-batch: " + str(w.message) for w in caught] == notices


def test_missing_file_and_bad_settings(tmp_path):
    with pytest.raises(zelk.Error, match="cannot be opened"):
        zelk.run(tmp_path / "none.VXO")
    with pytest.raises(ValueError):
        zelk.run(EXAMPLES[0], hstep=-1)


def test_version_names_the_data_directory():
    text = zelk.version()
    assert text.startswith("zelk ") and "\nrevision " in text
    assert "\ndata directory " in text and "none found" not in text


# ---- read, invert, write ----

def batch_output(tmp_path, path, hstep, qpacc):
    """The bytes of zelk-batch's output file for one input."""
    out = tmp_path / "batch.430"
    subprocess.run([BATCH, "--hstep", str(hstep), "--qpacc", str(qpacc), "-o", str(out), path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return out.read_bytes()


def test_read_decodes_station_time_characteristics_and_traces():
    rs = zelk.read(os.path.join(SOURCE, "examples", "synth-series.VXO"))
    assert len(rs) == 288
    assert [r.index for r in rs] == list(range(1, 289))
    r = rs[0]
    assert (r.station, r.time, r.version) == ("ALDER", "2004-06-15T19:00:00Z", 5)
    # The same station and time as the batch program's result for the record.
    res = zelk.run(r.file)[0]
    assert (r.station, r.station_code, r.time) == (res.station, res.station_code, res.time)
    ch = r.characteristics
    assert ch["foF2"] == pytest.approx(r.scaled[0]) and "foE" in ch and "c3" in ch
    assert all(v is None or v != 9999.0 for v in ch.values())
    f2 = r.traces["oF2"]
    assert isinstance(f2["frequency"], numpy.ndarray) and len(f2["frequency"]) == len(f2["height"]) > 10
    assert numpy.all(numpy.diff(f2["frequency"]) > 0)
    # The trace ends at the scaled foF2 (within a frequency step).
    assert abs(float(f2["frequency"][-1]) - ch["foF2"]) < 0.11
    assert -90 <= r.constants["latitude"] <= 90
    assert r.profile is None   # an input record carries no N(h) table


def test_read_old_layouts_and_write_them_in_layout_5(tmp_path):
    old = zelk.read(os.path.join(SOURCE, "tests", "data", "old01.VXO"))
    assert sorted(r.version for r in old) == [0, 1]
    out = tmp_path / "new.VXO"
    zelk.write(out, old)
    new = zelk.read(out)
    assert [r.version for r in new] == [5, 5]
    for a, b in zip(old, new):
        assert a.station == b.station and a.stamp == b.stamp
        assert a.traces.keys() == b.traces.keys()
        for name in a.traces:
            for key in ("frequency", "height"):
                numpy.testing.assert_allclose(a.traces[name][key], b.traces[name][key], atol=0.0015)


@pytest.mark.parametrize("path", EXAMPLES, ids=os.path.basename)
def test_invert_in_a_context_is_the_batch_program(tmp_path, path):
    hstep, qpacc = 10.0, 0.01
    ctx = zelk.Context()
    got = [zelk.invert(r, hstep=hstep, qpacc=qpacc, context=ctx) for r in zelk.read(path)]
    want = zelk.run(path, hstep=hstep, qpacc=qpacc)
    assert [g.as_dict() for g in got] == [w.as_dict() for w in want]
    for g, w in zip(got, want):
        assert numpy.array_equal(g.fn, w.fn) and numpy.array_equal(g.height, w.height)
        assert numpy.array_equal(g.qp, w.qp)
    # Their output records, written, are the batch program's output file byte for byte.
    out = tmp_path / "module.430"
    zelk.write(out, got)
    assert out.read_bytes() == batch_output(tmp_path, path, hstep, qpacc)
    assert ctx.inverted == len(got)


def test_fresh_context_gives_the_batch_result_for_the_first_record_of_each_month():
    path = os.path.join(SOURCE, "tests", "data", "synth-small.VXO")
    want = {w.record: w.as_dict() for w in zelk.run(path)}
    months = set()
    firsts = 0
    for r in zelk.read(path):
        got = zelk.invert(r).as_dict()
        if r.time[:7] not in months:
            months.add(r.time[:7])
            firsts += 1
            assert got == want[r.index]
        # Any record: after its month's first record in a context, as in the batch program.
        first = next(x for x in zelk.read(path) if x.time[:7] == r.time[:7])
        ctx = zelk.Context()
        if first.index != r.index:
            zelk.invert(first, context=ctx)
        assert zelk.invert(r, context=ctx).as_dict() == want[r.index]
    assert firsts >= 2


def test_regions_and_segments():
    path = os.path.join(SOURCE, "examples", "synth-series.VXO")
    rs = [zelk.invert(r, qpacc=0.01, context=ctx) for ctx in [zelk.Context()] for r in zelk.read(path)[:40]]
    ok = [r for r in rs if r.istat == 2]
    assert ok
    for r in ok:
        f2 = r.regions["F2"]
        assert f2["peak_height"] == pytest.approx(r.hmF2, abs=0.001)
        assert f2["end"] == pytest.approx(r.foF2, abs=0.001)
        assert len(f2["coefficients"]) == 5 and f2["start"] < f2["end"]
        if r.foF1 is not None and r.hmF1 is not None:
            assert r.regions["F1"]["peak_height"] == pytest.approx(r.hmF1, abs=0.001)
            assert r.regions["F1"]["end"] == pytest.approx(f2["start"])
        assert r.qp.shape == (r.n_qp, 6) and r.n_qp > 0
        # Segments follow each other without gaps, upwards.
        assert numpy.all(r.qp[1:, 0] == r.qp[:-1, 1]) and numpy.all(r.qp[:, 1] > r.qp[:, 0])
    for r in rs:
        if r.istat != 2:
            assert r.regions["F2"] is None and r.regions["F1"] is None
    no_fit = zelk.invert(zelk.read(path)[0])
    assert no_fit.qp.shape == (0, 6) and len(no_fit.height) == 0


def test_invert_from_a_thread_pool_gives_the_same_results():
    recs = zelk.read(os.path.join(SOURCE, "examples", "synth-series.VXO"))[:12]
    one = [zelk.invert(r).as_dict() for r in recs]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        assert [x.as_dict() for x in pool.map(zelk.invert, recs)] == one


def test_records_the_program_does_not_invert_raise(tmp_path):
    (rec,) = [r for r in zelk.read(os.path.join(SOURCE, "tests", "data", "day0.VXO")) if r.index == 1]
    with pytest.raises(zelk.Error, match="record 1: date or time out of range"):
        zelk.invert(rec)
    (bad,) = zelk.read(os.path.join(SOURCE, "tests", "data", "repro", "D1b-nan-longitude.VXO"))
    with pytest.raises(zelk.Error, match="impossible station constant, longitude"):
        zelk.invert(bad)
    with pytest.raises(TypeError):
        zelk.invert("record")
    with pytest.raises(ValueError):
        zelk.invert(rec, qpacc=-1)


def test_write_is_complete_or_absent(tmp_path):
    recs = zelk.read(EXAMPLES[0])
    with pytest.raises(zelk.Error, match="cannot be written"):
        zelk.write(tmp_path / "no" / "such" / "dir.VXO", recs)
    assert not (tmp_path / "no").exists()
    with pytest.raises(TypeError):
        zelk.write(tmp_path / "x.VXO", recs + ["not a record"])
    with pytest.raises(ValueError, match="no output record"):
        zelk.write(tmp_path / "x.VXO", zelk.run(EXAMPLES[0]))
    assert os.listdir(tmp_path) == []
    # Written, read back and written again: the same bytes.
    zelk.write(tmp_path / "a.VXO", recs)
    zelk.write(tmp_path / "b.VXO", zelk.read(tmp_path / "a.VXO"))
    assert (tmp_path / "a.VXO").read_bytes() == (tmp_path / "b.VXO").read_bytes()
    assert sorted(os.listdir(tmp_path)) == ["a.VXO", "b.VXO"]   # no temporary left


@pytest.mark.parametrize("path", BAD, ids=os.path.basename)
def test_bad_files_through_read_invert_write(tmp_path, path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            recs = zelk.read(path)
        except zelk.Error as e:
            assert str(e)
            return
        for r in recs:
            try:
                res = zelk.invert(r, hstep=10, qpacc=0.01)
            except zelk.Error as e:
                assert "record %d" % r.index in str(e)
                continue
            out = tmp_path / "out.VXO"
            try:
                zelk.write(out, [res])
            except ValueError:
                assert not out.exists()
                continue
            (back,) = zelk.read(out)
            assert back.version == 5 and back.station == res.station


@pytest.mark.parametrize("refine,options", [(True, ("--refine",)),
                                            (["fc", "f1"], ("--refine-parts", "fc,f1")),
                                            (["gap"], ("--refine-parts", "gap"))])
def test_refined_mode_equals_the_batch_program(tmp_path, refine, options):
    path = os.path.join(SOURCE, "tests", "data", "synth-small.VXO")
    want = batch_summary(tmp_path, path, *options)
    got = zelk.run(path, refine=refine)
    assert len(want) > 0 and all("mode" in w for w in want)
    assert [r.as_dict() for r in got] == want
    # The standard mode says nothing of a mode; the refined one changes some results.
    standard = zelk.run(path)
    assert all(r.mode is None and "mode" not in r.as_dict() for r in standard)
    assert [r.hmF2 for r in standard] != [r.hmF2 for r in got]
    # zelk.invert in a context gives the same as zelk.run, record by record.
    ctx = zelk.Context()
    one = [zelk.invert(r, context=ctx, refine=refine).as_dict() for r in zelk.read(path)]
    assert one == want


def test_fast_shape_fit_equals_the_batch_program(tmp_path):
    path = os.path.join(SOURCE, "examples", "equatorial-day.VXO")
    want = batch_summary(tmp_path, path, "--shape-fit", "fast")
    got = zelk.run(path, shape_fit="fast")
    assert len(want) > 0
    assert [r.as_dict() for r in got] == want
    # The default is the search, whose shape parameters differ on some records.
    search = zelk.run(path)
    assert [r.as_dict() for r in zelk.run(path, shape_fit="search")] == [r.as_dict() for r in search]
    assert [(r.B0, r.B1, r.D1) for r in search] != [(r.B0, r.B1, r.D1) for r in got]
    ctx = zelk.Context()
    assert [zelk.invert(r, context=ctx, shape_fit="fast").as_dict() for r in zelk.read(path)] == want
    rec = zelk.read(path)[0]
    for bad in ("Fast", "", 1, True):
        with pytest.raises(ValueError):
            zelk.invert(rec, shape_fit=bad)
        with pytest.raises(ValueError):
            zelk.run(path, shape_fit=bad)


def test_refine_values():
    path = os.path.join(SOURCE, "examples", "midlat-day.VXO")
    rec = zelk.read(path)[0]
    assert zelk.invert(rec, refine=False).mode is None
    assert zelk.invert(rec, refine=["valley"]).mode in ("refined", "fallback", "standard")
    for bad in (["valley", "bogus"], [], "fc"):
        with pytest.raises((ValueError, TypeError)):
            zelk.invert(rec, refine=bad)
        with pytest.raises((ValueError, TypeError)):
            zelk.run(path, refine=bad)
