"""The account of a run, one JSON object for CI: per document its status, files, warnings, errors and time."""

import json
import os
import time

from tessel import __version__
from tessel.errors import describe, layer_label

#: bumped when a key changes meaning or goes away (new keys may appear without it)
SCHEMA = 1
EXPORTED, UNCHANGED, FAILED = "exported", "unchanged", "failed"


def document_entry(path, outcome):
    """The report's entry for the document at ``path``; ``outcome``: its ExportResult or the exception that ended it."""
    entry = {"psd": os.fspath(path)}
    if isinstance(outcome, BaseException):
        layer = getattr(outcome, "layer", None)
        error = {"message": describe(outcome)}
        if layer is not None:
            error["layer"] = layer_label(layer)
        return dict(entry, status=FAILED, prefab=None, written=[], kept=[], warnings=[], left_out={},
                    errors=[error], seconds=_rounded(getattr(outcome, "seconds", 0.0)))
    return dict(entry, status=outcome.status, prefab=outcome.prefab, written=outcome.written, kept=list(outcome.kept),
                warnings=list(outcome.warnings), left_out=dict(outcome.left_out), errors=[],
                seconds=_rounded(outcome.seconds))


def _rounded(seconds):
    return round(seconds, 3)


class Batch:
    """The documents of one run, as they finish: iterate for ``(path, outcome)``, then ask for :meth:`report`.

    ``outcome`` is the document's ExportResult or the exception that ended it;
    one failing document does not stop the others.
    """

    def __init__(self, outcomes, outdir, count):
        self._outcomes = outcomes
        self.count = count
        self.outdir = os.fspath(outdir)
        self.entries = []
        self._start = time.perf_counter()
        self.seconds = None

    def __len__(self):
        """The number of documents of the run."""
        return self.count

    def __iter__(self):
        for path, outcome in self._outcomes:
            self.entries.append(document_entry(path, outcome))
            yield path, outcome
        self.seconds = time.perf_counter() - self._start

    def report(self):
        """The run's JSON object (after iterating; a document not reached yet is not in it)."""
        counts = {status: 0 for status in (EXPORTED, UNCHANGED, FAILED)}
        for entry in self.entries:
            counts[entry["status"]] += 1
        return {"schema": SCHEMA, "tessel": __version__, "outdir": self.outdir, "counts": counts,
                "exit_status": 1 if counts[FAILED] else 0,
                "seconds": _rounded(self.seconds if self.seconds is not None else time.perf_counter() - self._start),
                "documents": self.entries}


def write(path, report):
    """Write ``report`` to the file ``path`` (UTF-8, atomically)."""
    from tessel import filemanager

    path = os.path.abspath(os.fspath(path))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    filemanager._replace_file(path, (json.dumps(report, indent=1, ensure_ascii=False) + "\n").encode("utf-8"))
