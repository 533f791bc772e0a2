"""Watch mode: export the documents, then export a document again each time it is saved.

Changes come from watchfiles (``pip install 'tessel[watch]'``), or, without
it, from looking at every document's size and time every ``poll`` seconds.  A
changed document is exported once it has stayed the same for ``settle``
seconds and is whole (see tessel.run.wholefile), since Photoshop writes a
file in several steps.  A failing export writes nothing, so the last good
output stays; a deleted document's output stays too.
"""

import itertools
import os
import threading
import time

from tessel.export import export_documents
from tessel.run.documents import EXTENSION, find
from tessel.run.wholefile import is_whole

#: the outcome reported for a document that was deleted (its output stays)
REMOVED = "removed"


def watch(paths, outdir, options=None, *, glob=None, processes=None, stop=None, settle=0.4, poll=0.5,
          whole_within=30.0, library=True):
    """Yield ``(path, outcome)`` for every export, first of all documents, then of each one saved.

    ``outcome`` is the ExportResult, the exception that ended the export, or
    :data:`REMOVED`.  Runs until ``stop`` (a threading.Event) is set or the
    caller stops iterating (Ctrl-C ends it with KeyboardInterrupt).  A file
    that stays the same but not whole for ``whole_within`` seconds is exported
    anyway, so its error shows.  ``library``: use watchfiles when it is installed.
    """
    stop = stop or threading.Event()
    documents = find(paths, outdir, glob)
    # Taken first, so that a document saved during the first exports is not missed.
    before = _look(paths, outdir, glob)
    yield from export_documents(documents, outdir, options, processes=processes)
    known = {_key(d.psd) for d in documents}
    if library and _has_library():
        missed = _differences(before, _look(paths, outdir, glob))
        changes = itertools.chain([missed] if missed else [], _library_changes(paths, stop, settle))
    else:
        changes = _polled_changes(paths, outdir, glob, stop, poll, before)
    for changed in changes:
        documents = {_key(d.psd): d for d in find(paths, outdir, glob) if not d.refused}
        ready = []
        for path in sorted(changed):
            if not os.path.exists(path):
                if path in known:
                    known.discard(path)
                    yield path, REMOVED
                continue
            if path in documents and _settled(path, settle, whole_within, stop):
                ready.append(documents[path])
        known.update(documents)
        if ready:
            yield from export_documents(ready, outdir, options, processes=1)


def _key(path):
    return os.path.abspath(os.fspath(path))


def _has_library():
    try:
        import watchfiles  # noqa: F401
    except ImportError:
        return False
    return True


def _state(path):
    try:
        st = os.stat(path)
    except OSError:
        return None
    return st.st_size, st.st_mtime_ns


def _settled(path, settle, whole_within, stop):
    """Wait until the file at ``path`` stays the same for ``settle`` seconds and is whole; False when it went away."""
    last = _state(path)
    deadline = time.monotonic() + whole_within
    while not stop.wait(settle):
        now = _state(path)
        if now is None:
            return False
        if now == last and (is_whole(path) or time.monotonic() > deadline):
            return True
        last = now
    return False


def _roots(paths):
    """The folders to watch: a folder as given, a file's own folder (a save replaces the file itself)."""
    return sorted({_key(p) if os.path.isdir(p) else os.path.dirname(_key(p)) for p in paths})


def _is_document(path):
    return path.lower().endswith(EXTENSION) and not os.path.basename(path).startswith(".")


def _library_changes(paths, stop, settle):
    """Sets of changed document paths, as watchfiles reports them."""
    import watchfiles

    roots = _roots(paths)
    for changes in watchfiles.watch(*roots, watch_filter=lambda change, path: _is_document(path), stop_event=stop,
                                    debounce=int(settle * 1000), step=50, rust_timeout=500, yield_on_timeout=False):
        yield {_key(path) for _, path in changes}


def _look(paths, outdir, glob):
    """The size and modification time of every document, by path."""
    return {path: _state(path) for path in {_key(d.psd) for d in find(paths, outdir, glob) if not d.refused}}


def _differences(before, now):
    return {path for path in before.keys() | now.keys() if before.get(path) != now.get(path)}


def _polled_changes(paths, outdir, glob, stop, poll, before):
    """Sets of changed document paths, found by looking at every document every ``poll`` seconds."""
    while not stop.wait(poll):
        now = _look(paths, outdir, glob)
        changed = _differences(before, now)
        before = now
        if changed:
            yield changed
