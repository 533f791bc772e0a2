"""The ``tessel`` command: export PSD documents as Cocos Creator prefabs, or show their layer tree."""

import argparse
import contextlib
import gc
import logging
import os
import secrets
import shutil
import sys
import threading
import time
import traceback
import unicodedata
import warnings
from concurrent.futures import FIRST_EXCEPTION, ThreadPoolExecutor, wait

from tessel import filemanager

PROG = "tessel"


class DocumentError(Exception):
    """A document that cannot be exported or shown; ``layer`` names the layer when known."""

    def __init__(self, message, layer=None):
        super().__init__(message)
        self.layer = layer


# ---------------------------------------------------------------------------
# Terminal output: one stderr shared by the progress bar and the log lines


class Console:
    """stderr shared by a one-line progress bar and whole message lines.

    Image saving runs on worker threads that log; every write goes through one
    lock so a log line never lands in the middle of a bar, and the bar is
    redrawn under the line it gave way to.
    """

    def __init__(self, stream, bar):
        self.stream = stream
        self.bar = bar
        self.lock = threading.RLock()
        self._status = ""

    def line(self, text):
        """Write ``text`` as a line of its own, keeping the bar below it."""
        with self.lock:
            self._erase()
            self.stream.write(text + "\n")
            self._draw()
            self.stream.flush()

    def status(self, text):
        """Show ``text`` as the bar line ("" removes it)."""
        if not self.bar:
            return
        with self.lock:
            self._erase()
            self._status = text
            self._draw()
            self.stream.flush()

    def _erase(self):
        if self._status:
            self.stream.write("\r\x1b[K")

    def _draw(self):
        if self._status:
            self.stream.write(self._status)


class Progress:
    """Counts finished images of one document and draws them as a bar."""

    WIDTH = 24
    INTERVAL = 0.05  # seconds between redraws; the last step always draws

    def __init__(self, console, label, total):
        self.console = console
        self.label = label
        self.total = total
        self.done = 0
        self._last = 0.0
        self._lock = threading.Lock()
        self._draw()

    def step(self):
        with self._lock:
            self.done += 1
            now = time.monotonic()
            if self.done < self.total and now - self._last < self.INTERVAL:
                return
            self._last = now
            self._draw()

    def close(self):
        self.console.status("")

    def _draw(self):
        filled = self.WIDTH * self.done // self.total if self.total else self.WIDTH
        bar = "#" * filled + "." * (self.WIDTH - filled)
        tail = f" [{bar}] {self.done}/{self.total}"
        room = max(shutil.get_terminal_size().columns - 1 - len(tail), 8)
        label = self.label if len(self.label) <= room else self.label[: room - 1] + "~"
        self.console.status(label + tail)


class ConsoleHandler(logging.Handler):
    """Logging handler that writes through a :class:`Console`."""

    def __init__(self, console, level):
        super().__init__(level)
        self.console = console
        self.setFormatter(logging.Formatter("%(message)s"))

    def emit(self, record):
        try:
            self.console.line(_one_line(self.format(record)))
        except Exception:
            self.handleError(record)


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


@contextlib.contextmanager
def _logging_to(console, verbose):
    """Route the loggers "tessel" and "psd_tools" for the length of one command.

    Quiet by default: psd-tools would otherwise reach stderr through logging's
    last-resort handler with its warnings about blocks it skips, and an error
    must stay the one line on stderr.  With -v both show on the console.
    """
    ours = logging.getLogger("tessel")
    reader = logging.getLogger("psd_tools")
    if verbose:
        added = [(ours, ConsoleHandler(console, logging.DEBUG)), (reader, ConsoleHandler(console, logging.WARNING))]
    else:
        added = [(reader, logging.NullHandler())]
    old_level = ours.level
    for logger, handler in added:
        logger.addHandler(handler)
    if verbose:
        ours.setLevel(logging.DEBUG)
    try:
        with warnings.catch_warnings():
            # Reader warnings (unknown blocks, unsupported modes) are notes about
            # the document, not failures: they go to the log like the rest.
            warnings.simplefilter("always")
            warnings.showwarning = _log_warning
            yield
    finally:
        for logger, handler in added:
            logger.removeHandler(handler)
        ours.setLevel(old_level)


def _log_warning(message, category, filename, lineno, file=None, line=None):
    logging.getLogger("tessel").debug("warning: %s: %s", category.__name__, message)


def _one_line(text):
    """``text`` with line breaks and other control characters made visible, on one line.

    Beyond the ASCII controls this covers DEL and the C1 controls (U+0085 is a
    line break to many readers, U+009B starts a terminal escape), the Unicode
    line and paragraph separators, and lone surrogates: all of them can come
    from a layer name or a file name.
    """
    return "".join(repr(ch)[1:-1] if _breaks_line(ch) else ch for ch in str(text))


def _breaks_line(ch):
    return ch != "\t" and unicodedata.category(ch) in ("Cc", "Zl", "Zp", "Cs")


# ---------------------------------------------------------------------------
# Reading a document


def _psd_reader():
    try:
        from psd_tools2 import PSDImage
    except ImportError:
        from psd_tools import PSDImage
    return PSDImage


def document_name(path):
    """The name a document exports under: its file name without the extension."""
    return os.path.splitext(os.path.basename(os.fspath(path)))[0]


def open_document(path, stdout_lines):
    """Open the PSD at ``path`` and build its layer-info tree, named after the file.

    ``stdout_lines`` receives what the tree builder prints while it runs (the
    line about each layer of a kind it skips), so that standard output carries
    only what the command itself prints.
    """
    from tessel import infos

    try:
        psdimage = _psd_reader().open(os.fspath(path))
    except OSError as e:
        if e.errno is None:  # the reader's own complaint about the content
            raise DocumentError(f"not a readable PSD file ({_describe(e)})") from e
        raise DocumentError(e.strerror or _describe(e)) from e
    except Exception as e:
        raise DocumentError(f"not a readable PSD file ({_describe(e)})") from e
    with contextlib.redirect_stdout(_LineSink(stdout_lines)):
        psd = infos.YPSD(psdimage, os.fspath(path))
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
# Export


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


def _temporary_beside(target):
    """Reserve a fresh hidden name in the folder of ``target`` (created with the usual permissions)."""
    folder, base = os.path.split(target)
    while True:
        tmp = os.path.join(folder, f".{base}.{secrets.token_hex(4)}.tmp")
        try:
            os.close(os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
            return tmp
        except FileExistsError:
            continue


def _remove(path):
    with contextlib.suppress(OSError):
        os.unlink(path)


def _render(layer, target):
    """Save one layer's image to a temporary file beside ``target``.

    Returns the temporary path, or None for a layer without pixels (the layer
    writes nothing then).  The rendered image is dropped from the layer's cache
    afterwards: nothing later reads it, and a few hundred layers of a large
    document would otherwise all stay in memory at once.
    """
    tmp = _temporary_beside(target)
    try:
        layer.save(tmp)
        layer._image = None
        if os.path.getsize(tmp) == 0:
            _remove(tmp)
            return None
        return tmp
    except BaseException:
        _remove(tmp)
        raise


def save_images(work, jobs, step=lambda: None):
    """Save the images of ``work`` (pairs of layer and target path) to temporary files.

    Returns the list of (temporary, target) pairs written.  On any failure every
    temporary file is removed and the error, naming its layer, is raised: the
    targets are untouched until the caller commits them.

    With ``jobs`` > 1 the layers are saved on that many threads.  Decoding the
    layer (psd-tools) holds the GIL, but PNG encoding in Pillow releases it, and
    encoding is most of the time.  Largest layers go first so that no thread is
    left with a big one at the end.
    """
    done = []
    lock = threading.Lock()

    def one(layer, target):
        try:
            tmp = _render(layer, target)
        except Exception as e:
            raise DocumentError(f"cannot save the image {target}: {_describe(e)}", layer) from e
        if tmp is not None:
            with lock:
                done.append((tmp, target))
        step()

    try:
        if jobs <= 1 or len(work) < 2:
            for layer, target in work:
                one(layer, target)
        else:
            order = sorted(work, key=lambda item: _area(item[0]), reverse=True)
            pool = ThreadPoolExecutor(max_workers=min(jobs, len(work)), thread_name_prefix="tessel-image")
            try:
                futures = [pool.submit(one, layer, target) for layer, target in order]
                wait(futures, return_when=FIRST_EXCEPTION)
            finally:
                # Whatever ended the wait (a failed image, Ctrl-C), no queued image
                # starts any more, and the running ones finish before the staged
                # files are cleaned up.
                pool.shutdown(wait=True, cancel_futures=True)
            for future in futures:
                if not future.cancelled() and future.exception() is not None:
                    raise future.exception()
    except BaseException:
        for tmp, _ in done:
            _remove(tmp)
        raise
    return done


def _area(layer):
    try:
        return int(layer.width) * int(layer.height)
    except Exception:
        return 0


def export_document(path, outdir, jobs, console, verbose=False):
    """Export one PSD into ``outdir``; returns (prefab path, nodes, images, layers left out).

    Layers of kinds the export has no object for (shapes, adjustments, ...) are
    counted; with ``verbose`` the builder's line for each is shown as well.

    Everything that can fail on the document's content (reading it, building the
    object list, reading back earlier meta files, checking every target path)
    happens before the first write.  The images are then staged under temporary
    names and only moved into place when all of them succeeded; the prefab and
    the meta files follow, each written atomically.  A failing document thus
    leaves the output folder as it found it.
    """
    from tessel import nodeweave

    name = document_name(path)
    skipped = []

    def unknown(line):
        skipped.append(line)
        if verbose:
            console.line(line)

    psd = open_document(path, unknown)
    inside = Inside(outdir)

    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    prefab = psd.totalInfo[0]
    sprites = [obj for obj in psd.totalInfo if isinstance(obj, nodeweave.CCSprite)]
    prefab_meta = prefab.metaPath
    inside.check(prefab_meta)
    for sprite in sprites:
        inside.check(sprite.metaPath, sprite.layer)
    # Reads back the UUIDs of an earlier export; a damaged meta file fails here,
    # naming itself, before anything is written.
    nodeweave.refleshIdAndCreateMeta(psd)

    prefab_path = inside.check(os.path.join(outdir, name + ".prefab"))
    folder = inside.check(os.path.join(outdir, name))
    # Two layers with one image name share one file: the later layer's image
    # stays, as it does for their meta file.
    targets = {}
    for layer in pixel_layers(psd):
        target = inside.check(os.path.join(folder, layer.imageName + ".png"), layer)
        targets.pop(target, None)
        targets[target] = layer
    work = [(layer, target) for target, layer in targets.items()]

    made_folder = not os.path.isdir(folder)
    os.makedirs(folder, exist_ok=True)
    progress = Progress(console, name, len(work)) if console.bar and work else None
    try:
        try:
            staged = save_images(work, jobs, progress.step if progress else lambda: None)
        finally:
            if progress:
                progress.close()
        for tmp, target in staged:
            os.replace(tmp, target)
        nodeweave.saveToPrefab(psd, prefab_path)
        nodeweave.saveMetaFile(prefab.meta, prefab_meta, psd)
    except BaseException:
        if made_folder:
            with contextlib.suppress(OSError):
                os.rmdir(folder)
        raise
    nodes = sum(isinstance(obj, nodeweave.CCNode) for obj in psd.totalInfo)
    return prefab_path, nodes, len(staged), len(skipped)


# ---------------------------------------------------------------------------
# Commands


def _describe(e):
    """A one-line account of an exception, with the notes the modules attach."""
    if isinstance(e, DocumentError):
        text = str(e)
    elif isinstance(e, OSError) and e.strerror:
        text = e.strerror + (f": {e.filename}" if e.filename is not None else "")
    else:
        detail = str(e)
        text = f"{type(e).__name__}: {detail}" if detail else type(e).__name__
    notes = [str(note) for note in getattr(e, "__notes__", ())]
    if notes:
        text += " [" + "; ".join(notes) + "]"
    return _one_line(text)


def _layer_label(layer):
    try:
        return _one_line(layer.name)
    except Exception:
        return "?"


def report_error(path, error, debug):
    """Print the one error line for ``path`` (after the traceback with --debug)."""
    if debug:
        traceback.print_exception(type(error), error, error.__traceback__, file=sys.stderr)
    text = f"{PROG}: error: {_one_line(os.fspath(path))}: {_describe(error)}"
    layer = getattr(error, "layer", None)
    if layer is not None:
        text += f" [layer {_layer_label(layer)}]"
    sys.stderr.write(text + "\n")
    sys.stderr.flush()


def cmd_export(args, console):
    outdir = os.path.abspath(args.outdir)
    try:
        os.makedirs(outdir, exist_ok=True)
    except OSError as e:
        report_error(args.outdir, DocumentError(f"cannot create the output folder: {_describe(e)}"), args.debug)
        return 1
    status = 0
    seen = {}
    previous = filemanager.outputDir
    # Relative paths the modules use (the meta files) resolve under the output folder.
    filemanager.setOutputDir(outdir)
    try:
        for path in args.psd:
            name = document_name(path)
            try:
                if name in seen:
                    raise DocumentError(f"exports as {name!r} like {seen[name]}; export it into another folder")
                _, nodes, images, skipped = export_document(path, outdir, args.jobs, console, args.verbose)
                seen[name] = path
            except Exception as e:
                report_error(path, e, args.debug)
                status = 1
                continue
            finally:
                # A document's layer-info tree and prefab objects point at each other,
                # so only a full collection frees them; CPython runs one rarely, and the
                # objects of several exports would pile up in the heap meanwhile.
                gc.collect()
            if not args.quiet:
                extra = ""
                if skipped:
                    extra = f", {skipped} layer{'s' if skipped > 1 else ''} of another kind left out"
                shown = os.path.join(args.outdir, name + ".prefab")
                print(f"wrote {shown} ({nodes} nodes, {images} images{extra})", flush=True)
    finally:
        filemanager.outputDir = previous
    return status


def cmd_tree(args, console):
    from tessel import layerkit

    try:
        psd = open_document(args.psd, console.line)
        text = layerkit.exportDict2Json(psd.exportdata()) if args.json else None
        if text is None:
            psd.dump()
        else:
            print(text)
    except Exception as e:
        report_error(args.psd, e, args.debug)
        return 1
    sys.stdout.flush()
    return 0


def _jobs(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more")
    return value


def build_parser():
    parser = argparse.ArgumentParser(prog=PROG, description=__doc__)
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    export = sub.add_parser(
        "export",
        help="export PSD documents as prefabs",
        description="Write OUTDIR/NAME.prefab, OUTDIR/NAME.prefab.meta and OUTDIR/NAME/*.png(.meta) "
        "for every DESIGN.psd (NAME is its file name without extension). "
        "UUIDs of an earlier export into the same folder are kept.",
    )
    export.add_argument("psd", nargs="+", metavar="DESIGN.psd", help="documents to export")
    export.add_argument("-o", "--outdir", required=True, metavar="OUTDIR", help="output folder (created when missing)")
    noise = export.add_mutually_exclusive_group()
    noise.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    noise.add_argument("-v", "--verbose", action="store_true", help="show the log lines of the export on stderr")
    export.add_argument("--debug", action="store_true", help="show the traceback of an error")
    export.add_argument(
        "-j", "--jobs", type=_jobs, default=os.cpu_count() or 1, metavar="N",
        help="save layer images on N threads (default: the number of CPUs)",
    )
    export.set_defaults(func=cmd_export)

    tree = sub.add_parser("tree", help="print the layer tree of a PSD document", description="Print the layer tree that an export would use.")
    tree.add_argument("psd", metavar="DESIGN.psd")
    tree.add_argument("--json", action="store_true", help="print the tree as JSON")
    tree.add_argument("-v", "--verbose", action="store_true", help="show log lines on stderr")
    tree.add_argument("--debug", action="store_true", help="show the traceback of an error")
    tree.set_defaults(func=cmd_tree, quiet=False)

    from tessel import preview

    preview.register(sub)
    return parser


def main(argv=None):
    """Run the command line ``argv`` (default: sys.argv[1:]); returns the exit status."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:
        return e.code if isinstance(e.code, int) else 2
    console = Console(sys.stderr, bar=not args.quiet and _is_terminal(sys.stderr))
    try:
        with _logging_to(console, args.verbose):
            return args.func(args, console)
    except KeyboardInterrupt:
        console.status("")
        sys.stderr.write(f"{PROG}: interrupted\n")
        return 130


def _is_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


if __name__ == "__main__":
    sys.exit(main())
