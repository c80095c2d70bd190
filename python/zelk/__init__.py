"""ZELK from Python: invert ionograms into electron-density profiles N(h).

``zelk.run(path, hstep=0.0, qpacc=0.0)`` inverts the records of a VXO file exactly as
``zelk-batch`` does and returns one :class:`Result` per record that reached the inversion,
in file order. The inversion runs without the interpreter lock, so files inverted from a
thread pool run in parallel.
"""

import json
import warnings

import numpy

__all__ = ["run", "Result", "Error", "DataFileError", "version", "COLUMNS"]


class Error(RuntimeError):
    """A file could not be inverted; the message is the program's."""


class DataFileError(Error):
    """A model data file (foF2 maps, sunspot numbers) is missing or malformed."""


from . import _zelk  # noqa: E402  (the exceptions above must exist first)

# The data files are looked for in the working directory, $ZELK_DATA, the installed data
# directory, and last in data/ beside this package (a link to them in the build tree).
_zelk.set_home(__import__("os").path.dirname(__file__))

#: The summary columns, in order; each is an attribute of a Result.
COLUMNS = ("file", "record", "station", "station_code", "time", "istat", "status",
           "foE", "hmE", "foF1", "hmF1", "foF2", "hmF2", "hhalf", "yF2",
           "B0", "B1", "D1", "TEC", "H_top", "n_qp", "er_F2")

#: Electron density per plasma frequency squared (cm^-3 per MHz^2).
DENSITY_PER_FN2 = 12380.0


class Result:
    """The result of one record.

    The attributes named in ``COLUMNS`` hold the values of the batch program's summary
    row (``None`` where the summary is empty). ``height`` (km), ``fn`` (plasma
    frequency, MHz) and ``density`` (cm^-3) are the N(h) table as numpy arrays, empty
    unless ``hstep`` was given.
    """

    __slots__ = COLUMNS + ("height", "fn", "density")

    def __init__(self, row, height, fn):
        for name in COLUMNS:
            setattr(self, name, row[name])
        self.height = height
        self.fn = fn
        self.density = DENSITY_PER_FN2 * fn.astype(numpy.float64) ** 2

    def as_dict(self):
        """The summary columns as a dict."""
        return {name: getattr(self, name) for name in COLUMNS}

    def __repr__(self):
        return "<zelk.Result %s record %d %s istat=%d foF2=%s hmF2=%s>" % (
            self.file, self.record, self.time, self.istat, self.foF2, self.hmF2)


def run(path, hstep=0.0, qpacc=0.0):
    """Inverts the records of the VXO file at ``path`` as ``zelk-batch`` does.

    ``hstep`` is the height step (km) of the N(h) table (0: none), ``qpacc`` the
    accuracy of the quasi-parabolic fit (0: none). Returns a list of :class:`Result`,
    one per record that reached the inversion, in file order. Bad records after good
    ones are skipped with a ``RuntimeWarning`` carrying the program's notice. Raises
    :class:`Error` when the file cannot be opened or no record reached the inversion,
    :class:`DataFileError` when a model data file is missing or malformed, and
    ``ValueError`` for a negative ``hstep`` or ``qpacc``.
    """
    path = str(path)
    if not hstep >= 0 or not qpacc >= 0:
        raise ValueError("hstep and qpacc must be 0 or more")
    rows, heights, fns, notices, opened = _zelk.run_file(path, float(hstep), float(qpacc))
    if not opened or not rows:
        raise Error("; ".join(notices) or "%s: no record reached the inversion" % path)
    for text in notices:
        warnings.warn(text, RuntimeWarning, stacklevel=2)
    return [Result(json.loads(r), h, f) for r, h, f in zip(rows, heights, fns)]


def version():
    """The version text: program version, source revision and data directory in use."""
    return _zelk.version_text()
