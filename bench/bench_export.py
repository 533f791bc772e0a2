"""Time every phase of an export of a large generated document, and check the goals.

    PYTHONPATH=python python bench/bench_export.py [--layers 1000] [--repeat 3] [--quick]

The document (cached under build/bench/) is written with tessel.testing: a
2048 x 2048 canvas, groups nested four deep, pixel layers of mixed sizes
(mostly icons, a few panels up to 1024 x 1024, gradients with noise so that
PNG encoding does real work), one text layer in ten, one nine-slice layer in
twenty, and names in the layer-name language (type words, copy markers,
Chinese, image-path parameters).

Runs, in one process:

1. the whole export as `tessel export` runs it (image saving on --jobs
   threads), best of --repeat per phase, and image saving once more on one
   thread;
2. the module phases alone, once with filemanager.writeJson as it is, once
   with a twin that writes through json.dump (the encoder before the native
   emitter) and once writing the same files with no encoding at all (the most
   any encoder could give), and the prefab's JSON text from both encoders;
3. the module phases on a document ten times larger, without image saving:
   its pixels are flat colours, and a document of --layers layers built the
   same way is the baseline.  psd-tools' default parse limit (a million
   objects) refuses it, so it is opened without one;
4. --exports exports of the document opened once (module phases, no images),
   resident memory after the first and after the last;
5. whole exports as export_psd runs them, each in a child process: a first
   export into a new folder and an unchanged re-export, of this tree and, with
   --baseline FOLDER (the python/ folder of another build, say main's), of that
   one, alternating (bench/whole_export.py).  --whole-only runs just this.

Wall-clock seconds suffer from anything else the machine runs; the load average
is printed.  The ratios between single-threaded runs compare CPU seconds.
Writing meta files is mostly creating files, whose cost the file system varies
(see file_creation_cost): the time one small file takes is printed too.
--quick: one repetition, ten exports for the memory figure, no ten-times run.
Exit status 1 when a goal fails.
"""

import argparse
import contextlib
import gc
import importlib.metadata
import io
import json
import os
import platform
import shutil
import sys
import tempfile
import time

from benchdoc import CACHE, document, write_document

HERE = os.path.dirname(os.path.abspath(__file__))

MODULE_PHASES = ("tree build", "initPsdInfo", "fixPosition", "refleshIdAndCreateMeta", "saveToPrefab", "saveMetaFile")
TABLE_ORDER = ("PSD open", "tree build", "image names") + MODULE_PHASES[1:4] + ("image saving",) + MODULE_PHASES[4:] + (
    "CLI bookkeeping",)

GOAL_MODULE_SHARE = 0.05
GOAL_IMAGE_SPEEDUP = 1.6
GOAL_SCALING = 11.0
GOAL_MEMORY_GROWTH = 0.05
GOAL_EMITTER = 20.0
GOAL_MODULE_SPEEDUP = 3.0


# ---------------------------------------------------------------------------
# One export, phase by phase


class Sample(tuple):
    """Seconds of one phase: wall clock and CPU (every thread of the process)."""

    __slots__ = ()

    def __new__(cls, wall, cpu):
        return super().__new__(cls, (wall, cpu))

    wall = property(lambda self: self[0])
    cpu = property(lambda self: self[1])

    def __add__(self, other):
        return Sample(self[0] + other[0], self[1] + other[1])


ZERO = Sample(0.0, 0.0)


def _now():
    return Sample(time.perf_counter(), time.process_time())


def _since(start):
    now = _now()
    return Sample(now.wall - start.wall, now.cpu - start.cpu)


class Clock:
    """Adds up the seconds spent per phase name."""

    def __init__(self):
        self.times = {}

    @contextlib.contextmanager
    def phase(self, name):
        start = _now()
        try:
            yield
        finally:
            self.times[name] = self.times.get(name, ZERO) + _since(start)


def export(path, outdir, jobs, images=True, limits=None, psdimage=None):
    """Export ``path`` into ``outdir`` the way tessel.export.export_psd does, timing each phase.

    Returns (Sample per phase, the document root).  "CLI bookkeeping" is what
    the command does between the phases: target path checks, image names,
    moving the staged images into place.  ``limits``: psd-tools' parse limits
    (None: its defaults, as the command opens documents).  ``psdimage``: the
    document already opened (the layer-info tree is still built anew).
    """
    from psd_tools import PSDImage

    from tessel import export as road, infos, nodeweave
    from tessel.road import imagenames

    clock = Clock()
    start = _now()
    name = road.document_name(path)
    with clock.phase("PSD open"):
        if psdimage is None:
            psdimage = PSDImage.open(path, parse_limits=limits)
    with clock.phase("tree build"):
        with contextlib.redirect_stdout(io.StringIO()):
            psd = infos.YPSD(psdimage, path)
        psd.name = name
    inside = road.Inside(outdir)
    with clock.phase("image names"):
        naming = imagenames.settle(list(road.pixel_layers(psd)))
    with clock.phase("initPsdInfo"):
        nodeweave.initPsdInfo(psd)
        naming.drop_empty_sprites(psd)
    with clock.phase("fixPosition"):
        nodeweave.fixPosition(psd)
    prefab = psd.totalInfo[0]
    inside.check(prefab.metaPath)
    for obj in psd.totalInfo:
        if isinstance(obj, nodeweave.CCSprite):
            inside.check(obj.metaPath, obj.layer)
    with clock.phase("refleshIdAndCreateMeta"):
        nodeweave.refleshIdAndCreateMeta(psd)
    prefab_path = inside.check(os.path.join(outdir, name + ".prefab"))
    folder = inside.check(os.path.join(outdir, name))
    os.makedirs(folder, exist_ok=True)
    if images:
        work = image_work(psd, folder, inside)
        with clock.phase("image saving"):
            staged = road.save_images(work, jobs)
        for tmp, target in staged:
            os.replace(tmp, target)
    with clock.phase("saveToPrefab"):
        nodeweave.saveToPrefab(psd, prefab_path)
    with clock.phase("saveMetaFile"):
        nodeweave.saveMetaFile(prefab.meta, prefab.metaPath, psd)
    total = _since(start)
    spent = sum(clock.times.values(), ZERO)
    clock.times["CLI bookkeeping"] = Sample(total.wall - spent.wall, total.cpu - spent.cpu)
    return clock.times, psd


def image_work(psd, folder, inside=None):
    """(layer, target) pairs as the CLI makes them: one per image name (layers share one only for one image)."""
    from tessel import export as road

    targets = {}
    for layer in road.pixel_layers(psd):
        target = os.path.join(folder, layer.imageName + ".png")
        if inside is not None:
            target = inside.check(target, layer)
        targets.pop(target, None)
        targets[target] = layer
    return [(layer, target) for target, layer in targets.items()]


def save_images_timed(psd, jobs):
    """Every image of ``psd`` saved on ``jobs`` threads into a new folder; returns the Sample."""
    from tessel import export as road

    work = image_work(psd, _scratch("images-"))
    start = _now()
    staged = road.save_images(work, jobs)
    for tmp, target in staged:
        os.replace(tmp, target)
    return _since(start)


_session = None


def _scratch(prefix):
    """A new empty folder in this run's scratch folder.

    Nothing is deleted until the run ends: removing thousands of files between
    measurements keeps the file system busy (journal, discards) during the next one.
    """
    global _session
    if _session is None:
        os.makedirs(CACHE, exist_ok=True)
        _session = tempfile.mkdtemp(prefix="run-", dir=CACHE)
    return tempfile.mkdtemp(prefix=prefix, dir=_session)


def file_creation_cost(count=300):
    """Microseconds to create, write and rename one small file in the scratch folder.

    Saving meta files is mostly this.  It is not constant: after many deletions
    (this benchmark's own clean-up, other programs' temporary files) ext4 skips
    the recently freed inodes one by one for some minutes, and creating a file
    can cost ten times as much.
    """
    folder = _scratch("probe-")
    start = time.perf_counter()
    for i in range(count):
        name = os.path.join(folder, f"{i}.tmp")
        with open(name, "wb") as out:
            out.write(b"{}")
        os.replace(name, name[:-4])
    return (time.perf_counter() - start) / count * 1e6


def settle():
    """Write out what earlier runs left in the page cache (where the OS offers that).

    The images of one whole export are some 40 MB; written back in the middle of
    a later measurement, they slow down every file it creates.
    """
    if hasattr(os, "sync"):
        os.sync()


def remove_scratch():
    global _session
    if _session is not None:
        shutil.rmtree(_session, ignore_errors=True)
        _session = None


@contextlib.contextmanager
def output_folder():
    """A fresh, empty output folder that relative host paths resolve under."""
    from tessel import filemanager

    folder = _scratch("out-")
    previous = filemanager.outputDir
    filemanager.setOutputDir(folder)
    try:
        yield folder
    finally:
        filemanager.outputDir = previous


def best(runs):
    """Per phase, the fastest wall time and the least CPU time of ``runs``."""
    return {name: Sample(min(run[name].wall for run in runs), min(run[name].cpu for run in runs)) for name in runs[0]}


def module_total(times):
    return sum((times[name] for name in MODULE_PHASES), ZERO)


def module_runs(path, repeat, limits=None):
    """Best phase times of ``repeat`` exports without image saving, each into a fresh folder.

    A full collection follows every export, as `tessel export` does after each document.
    """
    runs = []
    for _ in range(repeat):
        settle()
        with output_folder() as outdir:
            times, psd = export(path, outdir, 1, images=False, limits=limits)
            del psd
        gc.collect()
        runs.append(times)
    return best(runs)


# ---------------------------------------------------------------------------
# The encoder before the native emitter


def json_dump_writer(path, data, indent, converter):
    """filemanager.writeJson with Python's json as the encoder; the file handling is writeJson's."""
    from tessel import filemanager

    text = json.dumps(data, indent=indent, default=converter, ensure_ascii=False)
    filemanager._replace_file(filemanager.resolve(path), text.encode("utf-8"))


@contextlib.contextmanager
def python_encoder():
    from tessel import filemanager

    saved = filemanager.writeJson
    filemanager.writeJson = json_dump_writer
    try:
        yield
    finally:
        filemanager.writeJson = saved


@contextlib.contextmanager
def no_encoder():
    """writeJson writing, from memory, the bytes the emitter made for the same path in
    an earlier export: every file is still written, nothing is encoded.  The first
    export run inside records them."""
    from tessel import filemanager

    saved = filemanager.writeJson
    recorded = {}

    def replay(path, data, indent, converter):
        key = os.path.relpath(filemanager.resolve(path), filemanager.outputDir)
        if key not in recorded:
            recorded[key] = _jsonwriter_bytes(data, indent, converter)
        filemanager._replace_file(filemanager.resolve(path), recorded[key])

    filemanager.writeJson = replay
    try:
        yield
    finally:
        filemanager.writeJson = saved


def _jsonwriter_bytes(data, indent, converter):
    from tessel import _jsonwriter

    return _jsonwriter.dumpb(data, indent, converter)


def _plain(value, converter):
    """``value`` with every object the converter knows turned into its dictionary, at any depth."""
    if isinstance(value, dict):
        return {key: _plain(item, converter) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(item, converter) for item in value]
    if value is None or isinstance(value, (str, int, float)):
        return value
    return _plain(converter(value), converter)


def _least_cpu(fn, repeat):
    spent = []
    for _ in range(repeat):
        start = time.process_time()
        fn()
        spent.append(time.process_time() - start)
    return min(spent)


def encoder_seconds(psd, repeat):
    """Least CPU seconds of the prefab's JSON text through json.dump and through the emitter.

    Returns ((json.dump, emitter) on the prefab objects, converter calls included,
    (json.dump, emitter) on the same content as plain dictionaries, converter calls
    excluded).
    """
    from tessel import _jsonwriter, nodeweave

    converter = nodeweave.formatCocosData
    objects = psd.totalInfo
    plain = _plain(objects, converter)
    # The emitter's few milliseconds are at the mercy of the machine's other work:
    # the least of many runs, the same number for both encoders.
    repeat = max(repeat, 15)
    return (
        (_least_cpu(lambda: json.dump(objects, io.StringIO(), indent=4, default=converter), repeat),
         _least_cpu(lambda: _jsonwriter.dumps(objects, 4, converter), repeat)),
        (_least_cpu(lambda: json.dump(plain, io.StringIO(), indent=4, default=converter), repeat),
         _least_cpu(lambda: _jsonwriter.dumps(plain, 4, converter), repeat)),
    )


# ---------------------------------------------------------------------------
# Memory


def resident_bytes():
    """Current resident set size, or None where /proc/self/statm is missing."""
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError, AttributeError):
        return None


def peak_bytes():
    """Peak resident set size of this process, or None without the resource module."""
    try:
        import resource
    except ImportError:
        return None
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    return peak if sys.platform == "darwin" else peak * 1024


def memory_growth(path, exports):
    """RSS after the first and after the last of ``exports`` exports (module phases, no images).

    The document is opened once (psd-tools' parsing is most of an export's time
    without images); every export builds a new layer-info tree and object list
    from it and writes its files.  Like `tessel export`, a full collection
    follows every export.  Each export's files are removed right away: nothing
    times this part, and it runs last (see file_creation_cost).
    """
    from psd_tools import PSDImage

    psdimage = PSDImage.open(path)
    first = None
    for number in range(1, exports + 1):
        with output_folder() as outdir:
            export(path, outdir, 1, images=False, psdimage=psdimage)
        shutil.rmtree(outdir)
        gc.collect()
        if number == 1:
            first = resident_bytes()
    return first, resident_bytes()


# ---------------------------------------------------------------------------
# Report


def mb(value):
    return "n/a" if value is None else f"{value / 2**20:.0f} MB"


def _label(name):
    return f"`{name}`" if name in MODULE_PHASES[1:] else name


def print_table(title, times):
    total = sum(times.values(), ZERO)
    modules = module_total(times)
    print(f"\n{title}\n")
    print("| phase | seconds | share | CPU seconds |")
    print("|---|---:|---:|---:|")
    for name in TABLE_ORDER:
        if name in times:
            t = times[name]
            print(f"| {_label(name)} | {t.wall:.3f} | {100 * t.wall / total.wall:.1f}% | {t.cpu:.3f} |")
    print(f"| module phases together | {modules.wall:.3f} | {100 * modules.wall / total.wall:.1f}% | {modules.cpu:.3f} |")
    print(f"| **whole export** | **{total.wall:.3f}** | 100% | {total.cpu:.3f} |")


def print_comparison(title, left_name, right_name, left, right, names):
    print(f"\n{title}\n")
    print(f"| phase | {left_name} | {right_name} | ratio |")
    print("|---|---:|---:|---:|")
    for name in names:
        a, b = left[name], right[name]
        print(f"| {_label(name)} | {a.wall:.3f} ({a.cpu:.3f}) | {b.wall:.3f} ({b.cpu:.3f}) | {a.cpu / b.cpu:.1f}x |")
    a, b = module_total(left), module_total(right)
    print(f"| module phases together | {a.wall:.3f} ({a.cpu:.3f}) | {b.wall:.3f} ({b.cpu:.3f}) | {a.cpu / b.cpu:.1f}x |")


def machine():
    cpus = os.cpu_count()
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else cpus
    versions = {"Python": platform.python_version()}
    for package in ("psd-tools", "Pillow", "pybind11"):
        try:
            versions[package] = importlib.metadata.version(package)
        except importlib.metadata.PackageNotFoundError:
            versions[package] = "?"
    return (f"{platform.platform()} ({platform.machine()}, {platform.processor() or '?'}), "
            f"{cpus} CPUs ({usable} usable)\n" + ", ".join(f"{k} {v}" for k, v in versions.items()))


def load_average():
    """The 1, 5 and 15 minute load averages: other work on the machine skews every wall time."""
    if not hasattr(os, "getloadavg"):
        return "load average n/a"
    return "load average %.1f %.1f %.1f" % os.getloadavg()


class Goals:
    def __init__(self):
        self.failed = False
        self.lines = []

    def check(self, ok, text):
        if ok is None:
            self.lines.append(f"SKIP  {text}")
            return
        self.failed |= not ok
        self.lines.append(f"{'PASS' if ok else 'FAIL'}  {text}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--layers", type=int, default=1000, help="layers of the document (default 1000)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per measurement, the best counts (default 3)")
    parser.add_argument("--quick", action="store_true", help="one run each, ten exports for memory, no ten-times document")
    parser.add_argument("--jobs", type=int, default=2, help="image threads of the whole export (default 2)")
    parser.add_argument("--exports", type=int, help="exports for the memory figure (default 50, --quick 10)")
    parser.add_argument("--baseline", metavar="FOLDER", help="python/ folder of a build to compare whole exports with")
    parser.add_argument("--whole-only", action="store_true", help="only the whole exports (part 5)")
    parser.add_argument("--write-document", metavar="PATH", help=argparse.SUPPRESS)
    parser.add_argument("--flat", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)

    if args.write_document:
        write_document(args.write_document, args.layers, args.flat)
        return 0
    repeat = 1 if args.quick else max(args.repeat, 1)
    exports = args.exports or (10 if args.quick else 50)
    try:
        return run(args, repeat, exports)
    finally:
        remove_scratch()


def run(args, repeat, exports):
    path = document(args.layers)
    large = None if args.quick else document(10 * args.layers, flat=True)
    if large:
        document(args.layers, flat=True)
    print(machine())
    print(f"{load_average()} at the start; {file_creation_cost():.0f} µs to create a small file")
    print(f"document: {os.path.basename(path)}, {os.path.getsize(path) / 1e6:.0f} MB; best of {repeat}; "
          "seconds are wall clock, CPU seconds count every thread")
    goals = Goals()
    if args.whole_only:
        return whole_exports(args, path, repeat, goals)

    # 1. Whole exports, and the image stage once more on one thread.
    runs, serial = [], []
    for _ in range(repeat):
        settle()
        with output_folder() as outdir:
            times, psd = export(path, outdir, args.jobs)
            settle()
            serial.append(save_images_timed(psd, 1))
        runs.append(times)
        kinds = [type(obj).__name__ for obj in psd.totalInfo]
        del psd
        gc.collect()
    whole = best(runs)
    alone = Sample(min(s.wall for s in serial), min(s.cpu for s in serial))
    print(f"exported: {kinds.count('CCNode')} nodes, {kinds.count('CCSprite')} images, {kinds.count('CCLabel')} labels")
    print_table(f"Whole export, {args.layers} layers, images saved on {args.jobs} threads:", whole)
    print(f"\nimage saving on 1 thread: {alone.wall:.3f} s ({alone.cpu:.3f} s CPU); "
          f"on {args.jobs}: {whole['image saving'].wall:.3f} s ({whole['image saving'].cpu:.3f} s CPU)")
    print(f"peak RSS: {mb(peak_bytes())}")
    share = module_total(whole).wall / sum(whole.values(), ZERO).wall
    goals.check(share < GOAL_MODULE_SHARE,
                f"module phases take {100 * share:.1f}% of the whole export (goal < {100 * GOAL_MODULE_SHARE:.0f}%)")
    speedup = alone.wall / whole["image saving"].wall
    goals.check(speedup >= GOAL_IMAGE_SPEEDUP,
                f"image saving on {args.jobs} threads is {speedup:.2f}x as fast as on one (goal >= {GOAL_IMAGE_SPEEDUP}x)")

    # 2. The module phases with either encoder, and the prefab text alone.
    after = module_runs(path, repeat)
    with python_encoder():
        before = module_runs(path, repeat)
    with no_encoder():
        module_runs(path, 1)  # records every file's text
        free = module_runs(path, repeat)
    settle()
    with output_folder() as outdir:
        _, psd = export(path, outdir, 1, images=False)
        (dump_full, emit_full), (dump_plain, emit_plain) = encoder_seconds(psd, repeat)
        del psd
    print_comparison(f"Module phases, {args.layers} layers, seconds (CPU seconds), by JSON encoder:",
                     "json.dump", "native emitter", before, after, MODULE_PHASES)
    print(f"\nThe prefab's JSON text ({len(kinds)} objects), CPU seconds:\n")
    print("| content | json.dump | native emitter | ratio |")
    print("|---|---:|---:|---:|")
    print(f"| prefab objects, formatCocosData called | {dump_full:.4f} | {emit_full:.4f} | {dump_full / emit_full:.1f}x |")
    print(f"| the same as plain dictionaries | {dump_plain:.4f} | {emit_plain:.4f} | {dump_plain / emit_plain:.1f}x |")
    goals.check(dump_full / emit_full >= GOAL_EMITTER,
                f"the emitter writes the prefab {dump_full / emit_full:.1f}x as fast as json.dump "
                f"({dump_plain / emit_plain:.1f}x on plain dictionaries; goal >= {GOAL_EMITTER:.0f}x)")
    gain = module_total(before).cpu / module_total(after).cpu
    bound = module_total(before).cpu / module_total(free).cpu
    print(f"\nModule phases writing the same files with no encoding at all: {module_total(free).wall:.3f} s "
          f"({module_total(free).cpu:.3f} s CPU), {bound:.1f}x as fast as with json.dump: "
          "no encoder can do better than that.")
    goals.check(gain >= GOAL_MODULE_SPEEDUP,
                f"the module phases are {gain:.1f}x as fast as with json.dump (goal >= {GOAL_MODULE_SPEEDUP:.0f}x; "
                f"{bound:.1f}x with no encoding at all)")

    # 3. Growth with the document's size.  psd-tools refuses to parse more than a
    # million objects by default, and the engine data of a thousand text layers
    # alone is more than that: the large document is opened with no object limit.
    if large:
        from psd_tools.psd.parse_limits import ParseLimits

        small_times = module_runs(document(args.layers, flat=True), repeat)
        large_times = module_runs(large, min(repeat, 2), ParseLimits(max_objects=None))
        print_comparison("Module phases by document size (flat pixels, no image saving), seconds (CPU seconds):",
                         f"{10 * args.layers} layers", f"{args.layers} layers", large_times, small_times,
                         ("PSD open",) + MODULE_PHASES)
        print(f"peak RSS: {mb(peak_bytes())}")
        ratio = module_total(large_times).cpu / module_total(small_times).cpu
        goals.check(ratio <= GOAL_SCALING,
                    f"the module phases take {ratio:.1f}x as long at {10 * args.layers} layers as at {args.layers}"
                    f" (goal <= {GOAL_SCALING:.0f}x)")
    else:
        goals.check(None, "growth with the document's size: not measured with --quick")

    # 4. Memory over many exports.
    first, last = memory_growth(path, exports)
    growth = None if first is None else (last - first) / first
    print(f"\n{exports} exports (module phases, the document opened once): RSS {mb(first)} after the first, {mb(last)} after the last"
          + ("" if growth is None else f" ({100 * growth:+.1f}%)"))
    goals.check(None if growth is None else growth < GOAL_MEMORY_GROWTH,
                f"RSS grows {'n/a' if growth is None else f'{100 * growth:+.1f}%'} over {exports} exports"
                f" (goal < {100 * GOAL_MEMORY_GROWTH:.0f}%)")

    return whole_exports(args, path, repeat, goals)


def whole_exports(args, path, repeat, goals):
    """Part 5, then the goals.  The document of flat pixels, where encoding costs little and
    everything else shows, follows when it was written (not with --quick); the goals are the first's."""
    import whole_export

    this = os.path.normpath(os.path.join(HERE, os.pardir, "python"))
    whole_export.report(path, args.jobs, repeat, this, args.baseline, goals, _scratch, settle)
    if not args.quick:
        whole_export.report(document(args.layers, flat=True), args.jobs, repeat, this, args.baseline,
                            Goals(), _scratch, settle)
    print("\n" + "\n".join(goals.lines))
    print(f"{load_average()} at the end; {file_creation_cost():.0f} µs to create a small file")
    return 1 if goals.failed else 0


if __name__ == "__main__":
    sys.exit(main())
