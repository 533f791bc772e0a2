"""Documents of a run side by side in worker processes, with their progress sent back to the caller.

Decoding a layer holds the GIL, so threads alone do not spread one run over
the cores; a process per document does.  One process runs in the caller's own
process, with no pool at all.  A job's function gets an ``emit`` callable for
its events (progress, skipped layers); from a worker they travel on a queue
and reach the caller's ``on_event`` on one thread of the caller.
"""

import collections
import logging
import multiprocessing
import os
import threading
from concurrent.futures import ProcessPoolExecutor

from tessel.errors import DocumentError, describe, layer_label

#: a failing layer's name, where the layer itself cannot leave the worker
Layer = collections.namedtuple("Layer", "name")


def cpus():
    return os.cpu_count() or 1


def default_processes(documents):
    """Worker processes for ``documents`` documents: one per CPU, no more than there are documents."""
    return max(1, min(cpus(), documents))


def image_threads(processes):
    """Image-saving threads per document when ``processes`` documents run at once: the CPUs left to each."""
    return max(1, cpus() // max(1, processes))


def portable(error):
    """``error`` as a :class:`DocumentError` that crosses a process boundary, with the same one-line account."""
    layer = getattr(error, "layer", None)
    moved = DocumentError(describe(error), None if layer is None else Layer(layer_label(layer)))
    if hasattr(error, "seconds"):
        moved.seconds = error.seconds
    return moved


_queue = None
#: the loggers whose lines a worker sends back, so that -v shows them as for a document exported in place
LOGGERS = ("tessel", "psd_tools")


class _SendLines(logging.Handler):
    def emit(self, record):
        try:
            _emit(("log", record.name, record.levelno, self.format(record)))
        except Exception:
            self.handleError(record)


def _start_worker(queue, levels):
    global _queue
    _queue = queue
    for name, level in levels.items():
        logger = logging.getLogger(name)
        logger.setLevel(level)
        logger.addHandler(_SendLines(level))
        logger.propagate = False


def _emit(event):
    _queue.put(event)


def _log_levels():
    """The level of each of LOGGERS in this process, for those that have somewhere to go."""
    levels = {}
    for name in LOGGERS:
        logger = logging.getLogger(name)
        if any(not isinstance(h, logging.NullHandler) for h in logger.handlers):
            levels[name] = logger.getEffectiveLevel()
    return levels


def _in_worker(fn, job):
    try:
        return fn(job, _emit)
    except Exception as e:
        # The remote traceback that --debug shows is still the original one.
        raise portable(e).with_traceback(e.__traceback__) from None


def _context():
    """Fork from a server that has the export modules loaded already, where the system has one."""
    if "forkserver" in multiprocessing.get_all_start_methods():
        context = multiprocessing.get_context("forkserver")
        # What every export imports on first use; loaded once, in the server.
        context.set_forkserver_preload(["tessel.export", "tessel.nodeweave", "tessel.widgets.steps", "psd_tools",
                                        "PIL.PngImagePlugin"])
        return context
    return multiprocessing.get_context("spawn")


def run(fn, jobs, processes, on_event=None):
    """Run ``fn(job, emit)`` for every job; yields ``(job, outcome)`` in the order of ``jobs``.

    ``outcome`` is what ``fn`` returned or the exception it raised.  ``emit(event)``
    hands ``event`` to ``on_event`` (None: dropped).  With ``processes`` > 1
    ``fn`` must be a module-level function and jobs, results and events
    picklable; an exception from a worker arrives as :func:`portable` made it.
    """
    jobs = list(jobs)
    emit = on_event or (lambda event: None)
    if processes <= 1 or len(jobs) <= 1:
        for job in jobs:
            try:
                outcome = fn(job, emit)
            except Exception as e:
                outcome = e
            yield job, outcome
        return
    yield from _pooled(fn, jobs, min(processes, len(jobs)), emit)


def _pooled(fn, jobs, processes, emit):
    context = _context()
    queue = context.Queue()
    drain = threading.Thread(target=_drain, args=(queue, emit), name="tessel-events", daemon=True)
    drain.start()
    pool = ProcessPoolExecutor(processes, mp_context=context, initializer=_start_worker,
                               initargs=(queue, _log_levels()))
    try:
        futures = [pool.submit(_in_worker, fn, job) for job in jobs]
        for job, future in zip(jobs, futures):
            try:
                outcome = future.result()
            except Exception as e:
                outcome = e
            yield job, outcome
    finally:
        # Ctrl-C or a caller that stops early: no queued document starts any more.
        pool.shutdown(wait=True, cancel_futures=True)
        queue.put(None)
        drain.join()
        queue.close()


def _drain(queue, emit):
    while (event := queue.get()) is not None:
        try:
            if event[0] == "log":
                _, name, level, line = event
                logging.getLogger(name).log(level, "%s", line)
            else:
                emit(event)
        except Exception:
            pass  # a failing progress display must not stop the run
