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
