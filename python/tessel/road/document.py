"""Reading a document for the export: the PSD opened within its limits, its layer-info tree, and the output folder's bounds."""

import contextlib
import os

from tessel import filemanager
from tessel.errors import DocumentError, describe
from tessel.road.parselimits import DEFAULT_MAX_OBJECTS, open_psd, refusal
from tessel.run.documents import document_name


def _psd_reader():
    try:
        from psd_tools2 import PSDImage
    except ImportError:
        from psd_tools import PSDImage
    return PSDImage


class _LineSink:
    """A text stream that hands every complete line to a callback (None: drop them)."""

    def __init__(self, sink):
        self.sink = sink
        self._pending = ""

    def write(self, text):
        self._pending += text
        *lines, self._pending = self._pending.split("\n")
        if self.sink is not None:
            for line in lines:
                self.sink(line)
        return len(text)

    def flush(self):
        pass


def open_document(path, stdout_lines, options=None):
    """Open the PSD at ``path`` and build its layer-info tree, named after the file.

    ``stdout_lines`` receives what the tree builder prints while it runs (the
    line about each layer of a kind it skips), so that standard output carries
    only what the command itself prints.  ``options`` (:class:`ExportOptions`)
    choose which layers the tree holds and what their images show, and
    ``options.max_objects`` the reader's parse limit (see tessel.road.parselimits).
    """
    from tessel import infos
    from tessel.road import layerview

    max_objects = options.max_objects if options is not None else DEFAULT_MAX_OBJECTS
    try:
        psdimage = open_psd(_psd_reader(), os.fspath(path), max_objects)
    except OSError as e:
        if e.errno is None:  # the reader's own complaint about the content
            raise DocumentError(f"not a readable PSD file ({describe(e)})") from e
        raise DocumentError(e.strerror or describe(e)) from e
    except Exception as e:
        raise DocumentError(refusal(e) or f"not a readable PSD file ({describe(e)})") from e
    with contextlib.redirect_stdout(_LineSink(stdout_lines)):
        psd = infos.YPSD(layerview.document_view(psdimage, options), os.fspath(path))
    # The reader calls every document "Root"; the prefab, its folder and every
    # image name carry the file's name instead, so it must be set before any
    # name is read and cached.
    psd.name = document_name(path)
    return psd


def pixel_layers(group):
    """Every pixel layer-info below ``group``, in document order."""
    from tessel import infos

    for child in group:
        if isinstance(child, infos.YGroup):
            yield from pixel_layers(child)
        elif isinstance(child, infos.YLayer):
            yield child


# ---------------------------------------------------------------------------
# Writing safely


class Inside:
    """Refuses any path that would land outside the output folder."""

    def __init__(self, outdir):
        self.root = os.path.realpath(outdir)

    def check(self, path, layer=None):
        """``path`` made absolute, after checking that it stays inside the output folder."""
        try:
            full = os.path.realpath(filemanager.resolve(path))
        except ValueError:
            full = None
        if full is None or full == self.root or os.path.commonpath([self.root, full]) != self.root:
            raise DocumentError(f"refusing to write {path!r}: it lies outside the output folder", layer)
        return full
