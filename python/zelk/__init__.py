"""ZELK from Python: invert ionograms into electron-density profiles N(h).

``zelk.read(path)`` gives the records of a VXO file (any layout) as :class:`Record`
objects; ``zelk.invert(record)`` inverts one of them and ``zelk.run(path)`` a whole file,
exactly as ``zelk-batch`` does; ``zelk.write(path, records)`` writes records in layout 5.
Inversions run without the interpreter lock, so a thread pool runs them in parallel.

Errors are exceptions: :class:`Error` (with the program's message) for a file or record
that cannot be read, inverted or written, :class:`DataFileError` for a missing or
malformed model data file.
"""

import os
import warnings

import numpy

__all__ = ["read", "invert", "run", "write", "Record", "Result", "Context", "Error",
           "DataFileError", "version", "COLUMNS", "CHARACTERISTIC_NAMES"]


class Error(RuntimeError):
    """A file or record could not be read, inverted or written; the message is the program's."""


class DataFileError(Error):
    """A model data file (foF2 maps, sunspot numbers) is missing or malformed."""


from . import _zelk  # noqa: E402  (the exceptions above must exist first)

Record = _zelk.Record
Context = _zelk.Context

# The data files are looked for in the working directory, $ZELK_DATA, the installed data
# directory, and last in data/ beside this package (a link to them in the build tree).
_zelk.set_home(os.path.dirname(__file__))

#: The summary columns, in order; each is an attribute of a Result.
COLUMNS = ("file", "record", "station", "station_code", "time", "istat", "status",
           "foE", "hmE", "foF1", "hmF1", "foF2", "hmF2", "hhalf", "yF2",
           "B0", "B1", "D1", "TEC", "H_top", "n_qp", "er_F2")

#: The parts of the refined mode, as ``zelk-batch --refine-parts`` names them.
REFINE_PARTS = ("valley", "xstart", "fc", "f1", "gap")

#: Electron density per plasma frequency squared (cm^-3 per MHz^2).
DENSITY_PER_FN2 = 12380.0

#: Names of the scaled characteristics (group 4) whose meaning the program knows, by their
#: entry number; Record.characteristics uses them as keys ("c<n>" for the others).
CHARACTERISTIC_NAMES = {
    1: "foF2", 2: "foF1", 7: "fminF", 8: "fminE", 9: "foE",
    11: "h'F", 12: "h'F2", 13: "h'E", 14: "h'Es", 15: "hmE", 16: "yE",
    27: "foF2_offset", 28: "model_foE", 31: "model_foF1",
    32: "hmF2", 33: "hmF1", 34: "hhalf", 35: "model_foF2", 37: "yF2", 38: "yF1",
    39: "TEC", 40: "H_top", 41: "B0", 42: "B1", 43: "D1",
}


def _characteristics(record):
    """The scaled characteristics of a record as a dict: name (or "c<n>") -> value, None
    where not scaled (9999)."""
    out = {}
    for n, v in enumerate(record.scaled.tolist(), start=1):
        missing = not numpy.isfinite(v) or abs(v - 9999.0) < 0.5
        out[CHARACTERISTIC_NAMES.get(n, "c%d" % n)] = None if missing else v
    return out


Record.characteristics = property(_characteristics, doc=_characteristics.__doc__)
Record.__repr__ = lambda self: "<zelk.Record %s record %d %s %s layout %d>" % (
    self.file, self.index, self.station, self.time, self.version)


class Result:
    """The result of one record.

    The attributes named in ``COLUMNS`` hold the values of the batch program's summary row
    (``None`` where the summary is empty; ``istat`` 2 and ``status`` "profile inverted" for
    an inverted profile). Besides them:

    ``mode``
        in the refined mode, the method that made the result, as the summary of a refined
        run says it: "refined", "refined-f1-merged", "fallback" (the standard result after
        the refined mode failed) or "standard" (neither inverted the record); ``None``
        without ``refine``. :meth:`as_dict` has it only when it is set, as the summary;

    ``height`` (km), ``fn`` (plasma frequency, MHz), ``density`` (cm^-3)
        the N(h) table as numpy arrays, empty unless ``hstep`` was given;
    ``regions``
        the descriptions of the solved regions ``"E"``, ``"F1"``, ``"F2"`` as the output
        record carries them (groups 39, 38, 37), each a dict with ``start`` and ``end``
        (frequencies, MHz), ``peak_height`` (km), ``residual`` (mean fit residual, km) and
        ``coefficients`` (numpy array: 3 for E, 5 for F1 and F2), or ``None`` where the
        record has no such description (F1 and F2 only for an inverted profile);
    ``qp``
        the quasi-parabolic segments, a numpy array of ``n_qp`` rows ``(bottom, top, a, b,
        c, error)``: the radii (km from the Earth's centre) between which fN^2 = a/r^2 +
        b/r + c (MHz^2), and the largest relative error of fN^2 in the segment; no rows
        unless ``qpacc`` was given;
    ``output``
        the output record (a :class:`Record`, as ``zelk-batch`` writes it), for
        :func:`write`; ``None`` for the results of :func:`run`.
    """

    __slots__ = COLUMNS + ("mode", "height", "fn", "density", "regions", "qp", "output")

    def __init__(self, fields):
        for name in COLUMNS:
            setattr(self, name, fields[name])
        self.mode = fields["mode"]
        self.height = fields["height"]
        self.fn = fields["fn"]
        self.density = DENSITY_PER_FN2 * self.fn.astype(numpy.float64) ** 2
        self.regions = fields["regions"]
        self.qp = fields["qp"]
        self.output = fields["record_out"]

    def as_dict(self):
        """The summary columns as a dict (with ``mode`` last in the refined mode)."""
        d = {name: getattr(self, name) for name in COLUMNS}
        if self.mode is not None:
            d["mode"] = self.mode
        return d

    def __repr__(self):
        return "<zelk.Result %s record %d %s istat=%d foF2=%s hmF2=%s>" % (
            self.file, self.record, self.time,
            self.istat, self.foF2, self.hmF2)


def _settings(hstep, qpacc):
    if not hstep >= 0 or not qpacc >= 0:
        raise ValueError("hstep and qpacc must be 0 or more")
    return float(hstep), float(qpacc)


def _refine(refine):
    """The refined-mode parts as the module takes them: "" (standard mode) for None or
    False, "all" for True, else the comma-separated names of a list of parts."""
    if refine is None or refine is False:
        return ""
    if refine is True:
        return "all"
    if isinstance(refine, str):
        raise TypeError("refine takes True or a list of part names %s, not a string" % (REFINE_PARTS,))
    parts = list(refine)
    for p in parts:
        if p not in REFINE_PARTS:
            raise ValueError("refine: unknown part %r %s" % (p, REFINE_PARTS))
    if not parts:
        raise ValueError("refine: no part named %s" % (REFINE_PARTS,))
    return ",".join(parts)


def _fast(shape_fit):
    """Whether ``shape_fit`` asks for the fast fit of B0, B1 and D1: "search" (or None), the
    coordinate search, is the default; "fast" the least-squares fit."""
    if shape_fit is None or shape_fit == "search":
        return False
    if shape_fit == "fast":
        return True
    raise ValueError("shape_fit takes \"search\" or \"fast\", not %r" % (shape_fit,))


def read(path):
    """Reads the ionogram records of the VXO file at ``path`` (any layout version).

    Returns a list of :class:`Record`, one per record that reads whole, in file order.
    Records the reader refuses, and a record cut short by the end of the file, are skipped
    with a ``RuntimeWarning`` carrying the batch program's notice. Raises :class:`Error`
    when the file cannot be opened or holds no record that reads whole.
    """
    path = os.fspath(path)
    records, notices, opened = _zelk.read_file(path)
    if not opened or not records:
        raise Error("; ".join(notices) or "%s: no record could be read" % path)
    for text in notices:
        warnings.warn(text, RuntimeWarning, stacklevel=2)
    return records


def invert(record, hstep=0.0, qpacc=0.0, context=None, refine=None, shape_fit=None):
    """Inverts one :class:`Record` and returns its :class:`Result`.

    ``hstep`` is the height step (km) of the N(h) table (0: none), ``qpacc`` the accuracy
    of the quasi-parabolic fit (0: none). ``refine`` inverts in the refined mode, as
    ``zelk-batch --refine`` (``True``) or ``--refine-parts`` (a list of the names in
    ``REFINE_PARTS``) does; the result's ``mode`` says which method made it. ``shape_fit``
    says how B0, B1 and D1 are fitted, as ``zelk-batch --shape-fit`` does: ``"search"`` (the
    default, the coordinate search) or ``"fast"`` (a least-squares fit, many times faster,
    with a misfit no larger; its values may differ by a fraction of the search's steps).

    ``zelk-batch`` inverts the records of a file one after the other in one run context,
    which carries values from record to record. Give a :class:`Context` and invert the
    records of one file in file order in it, and every result (with its ``output`` record)
    is the batch program's for that record. Without ``context`` the record is inverted in
    a fresh context, as if it were the first record of its file. That gives the batch
    program's result for the first record of each month of a file, and for any record
    when its month's first record had been inverted before it (from the examples and test
    files, where these are all the values a record takes from the records before it).
    It can differ for the other records: the batch program looks the sunspot number up in
    the sunspot file only at the first record of each month and takes, for the later
    records of that month, the sunspot number the record carries, while a fresh context
    always looks it up. (The arrays of groups a record does not carry, which keep the
    values of the records before it, are already in the record: :func:`read` keeps them
    as the program's reader does.)

    Raises :class:`Error` for a record the program does not invert (a time stamp it cannot
    decode, no frequency or height step, an impossible station constant: where the batch
    program ends the file or skips the record), :class:`DataFileError` for a missing model
    data file, ``ValueError`` for a negative ``hstep`` or ``qpacc``, an unknown refined
    part or an unknown ``shape_fit``.
    """
    hstep, qpacc = _settings(hstep, qpacc)
    parts = _refine(refine)
    fast = _fast(shape_fit)
    if not isinstance(record, Record):
        raise TypeError("zelk.invert takes a zelk.Record (from zelk.read), not %s" % type(record).__name__)
    return Result(_zelk.invert_record(record, hstep, qpacc, context, parts, fast))


def run(path, hstep=0.0, qpacc=0.0, refine=None, jobs=1, shape_fit=None):
    """Inverts the records of the VXO file at ``path`` as ``zelk-batch`` does.

    ``hstep``, ``qpacc``, ``refine`` and ``shape_fit`` as for :func:`invert`. ``jobs`` (1 to 64): the threads
    that make the records, as ``zelk-batch --jobs`` does for one file; the results are the
    same with any number. Returns a list of :class:`Result`, one
    per record that reached the inversion, in file order (their ``output`` is ``None``;
    :func:`read` and :func:`invert` in a :class:`Context` give the output records too). Bad
    records after good ones are skipped with a ``RuntimeWarning`` carrying the program's
    notice. Raises :class:`Error` when the file cannot be opened or no record reached the
    inversion, :class:`DataFileError` when a model data file is missing or malformed, and
    ``ValueError`` for a negative ``hstep`` or ``qpacc``, an unknown refined part or
    ``shape_fit``, or ``jobs`` outside 1 to 64.
    """
    path = os.fspath(path)
    hstep, qpacc = _settings(hstep, qpacc)
    fast = _fast(shape_fit)
    if isinstance(jobs, bool) or not isinstance(jobs, int) or not 1 <= jobs <= 64:
        raise ValueError("jobs must be a whole number from 1 to 64, not %r" % (jobs,))
    fields, notices, opened = _zelk.run_file(path, hstep, qpacc, _refine(refine), jobs, fast)
    if not opened or not fields:
        raise Error("; ".join(notices) or "%s: no record reached the inversion" % path)
    for text in notices:
        warnings.warn(text, RuntimeWarning, stacklevel=2)
    return [Result(f) for f in fields]


def write(path, records):
    """Writes records to the file at ``path`` in VXO layout 5.

    ``records`` holds :class:`Record` objects (from :func:`read`) or :class:`Result`
    objects of :func:`invert` (their output record is written). The file is complete or
    absent: it is written under a temporary name beside ``path`` and renamed when every
    record is in it, replacing a file of that name. A value that its output field cannot
    hold is written as missing, with a ``RuntimeWarning``; a record that cannot be written
    at all (a station constant its field cannot hold) raises ``ValueError`` and nothing is
    written. Raises :class:`Error` when the file cannot be written.
    """
    path = os.fspath(path)
    recs = []
    for r in records:
        if isinstance(r, Result):
            if r.output is None:
                raise ValueError("a result of zelk.run carries no output record; use zelk.invert")
            r = r.output
        if not isinstance(r, Record):
            raise TypeError("zelk.write takes zelk.Record or zelk.Result objects, not %s" % type(r).__name__)
        recs.append(r)
    for text in _zelk.write_file(path, recs):
        warnings.warn(text, RuntimeWarning, stacklevel=2)


def version():
    """The version text: program version, source revision and data directory in use."""
    return _zelk.version_text()
