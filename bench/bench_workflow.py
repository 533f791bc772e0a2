"""Time a team's runs: a first export against a plain serial one, an unchanged re-export, many documents at once.

    PYTHONPATH=python python bench/bench_workflow.py [--layers 1000] [--repeat 3] [--documents 20] [--batch-layers 150]

1. The benchmark document (bench/benchdoc.py) exported into a new folder by
   export_psd with images on 1 and on 2 threads, against a plain serial export
   that reads the PSD and then decodes, encodes and writes each visible pixel
   layer's PNG and a small meta file in turn.  CPU seconds per phase tell where
   the extra time of the real export goes.  Then the unchanged re-export.
2. --documents copies of a smaller document exported by export_many with
   1 and 2 worker processes and 1 or 2 image threads each.

Every measurement runs in a child process of its own (no warm caches), the
kinds alternating, best of --repeat.  Other work on the machine slows every
wall time, so the phase table compares CPU seconds; the load average is printed.
Exit status 1 when a goal fails.
"""

import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GOAL_UNCHANGED = 20.0
GOAL_BATCH = 1.6


# ---------------------------------------------------------------------------
# Children: one measurement each, printed as JSON


def _accounting():
    """Phase CPU seconds, summed over the threads that run them."""
    spent = collections.defaultdict(float)

    def timed(owner, attr, label):
        fn = getattr(owner, attr)

        def wrapper(*args, **kwargs):
            start = time.thread_time()
            try:
                return fn(*args, **kwargs)
            finally:
                spent[label] += time.thread_time() - start

        setattr(owner, attr, wrapper)

    return spent, timed


def child_plain(psd_path, outdir):
    from psd_tools import PSDImage

    spent, _ = _accounting()
    wall, cpu = time.perf_counter(), time.process_time()
    start = time.thread_time()
    psd = PSDImage.open(psd_path)
    spent["read PSD"] += time.thread_time() - start
    os.makedirs(outdir)
    images = 0
    for i, layer in enumerate(psd.descendants()):
        if layer.kind != "pixel" or not layer.is_visible() or not layer.has_pixels():
            continue
        start = time.thread_time()
        image = layer.topil()
        spent["decode layers"] += time.thread_time() - start
        start = time.thread_time()
        target = os.path.join(outdir, f"{i}.png")
        image.save(target)
        spent["encode and write PNG"] += time.thread_time() - start
        start = time.thread_time()
        with open(target + ".meta", "w") as f:
            json.dump({"ver": "2.3.3", "uuid": f"{i:032x}", "width": image.width, "height": image.height}, f, indent=2)
        spent["meta files"] += time.thread_time() - start
        images += 1
    return {"wall": time.perf_counter() - wall, "cpu": time.process_time() - cpu, "phases": spent, "images": images}


def child_export(psd_path, outdir, threads):
    from tessel import export, nodeweave
    from tessel.road import imagecache, imagefiles, imagenames, metamerge, unchanged

    spent, timed = _accounting()
    for owner, attr, label in [
        (export, "open_document", "read PSD"), (imagenames, "settle", "image names"),
        (imagefiles.ImageWriter, "render", "images (all)"), (imagefiles, "pixel_key", "images: pixel digest"),
        (imagefiles, "_written", "images: read back"), (imagecache.ImageCache, "record", "images: PNG digest"),
        (nodeweave, "initPsdInfo", "node tree"), (nodeweave, "fixPosition", "node tree"),
        (nodeweave, "refleshIdAndCreateMeta", "ids and meta models"), (metamerge, "plan", "meta merge"),
        (metamerge, "save", "meta files"), (nodeweave, "saveToPrefab", "prefab"),
        (export, "_save_cache", "image cache"), (unchanged, "export_key", "record: PSD digest"),
        (export, "_save_record", "record: file digests"), (export.gc, "collect", "gc.collect"),
    ]:
        timed(owner, attr, label)
    runs = {}
    for run in ("first", "again"):
        spent.clear()
        wall, cpu = time.perf_counter(), time.process_time()
        result = export.export_psd(psd_path, outdir, export.ExportOptions(jobs=threads))
        runs[run] = {"wall": time.perf_counter() - wall, "cpu": time.process_time() - cpu, "phases": dict(spent),
                     "images": result.images, "status": result.status}
    return runs


def child_batch(folder, outdir, processes, threads):
    from tessel.export import export_many

    wall = time.perf_counter()
    failed = [path for path, result in export_many([folder], outdir, processes=processes, image_threads=threads)
              if isinstance(result, BaseException)]
    if failed:
        raise SystemExit(f"failed: {failed}")
    return {"wall": time.perf_counter() - wall}


def _child(kind, *args):
    env = dict(os.environ, PYTHONPATH=os.path.join(HERE, os.pardir, "python"))
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", kind, *map(str, args)], env=env,
                          capture_output=True, text=True)
    if done.returncode:
        raise RuntimeError(done.stderr)
    return json.loads(done.stdout)


# ---------------------------------------------------------------------------
# The runs


def _best(samples):
    """Per key, the least value over the samples (nested dictionaries of seconds)."""
    best = {}
    for sample in samples:
        for key, value in sample.items():
            if isinstance(value, dict):
                best[key] = _best([best.get(key, {}), value]) if key in best else dict(value)
            elif isinstance(value, (int, float)):
                best[key] = min(best.get(key, value), value)
            else:
                best[key] = value
    return best


def first_exports(psd, repeat, scratch):
    samples = collections.defaultdict(list)
    for i in range(repeat):
        samples["plain"].append(_child("plain", psd, os.path.join(scratch, f"plain{i}")))
        for threads in (1, 2):
            runs = _child("export", psd, os.path.join(scratch, f"export{threads}-{i}"), threads)
            samples[f"export, {threads} thread{'s' * (threads > 1)}"].append(runs["first"])
            samples[f"again, {threads} thread{'s' * (threads > 1)}"].append(runs["again"])
    return {kind: _best(runs) for kind, runs in samples.items()}


def print_first(best):
    plain = best["plain"]
    print("| run | wall s | CPU s | CPU against plain |\n|---|---:|---:|---:|")
    for kind, run in best.items():
        print(f"| {kind} | {run['wall']:.2f} | {run['cpu']:.2f} | {run['cpu'] / plain['cpu']:.2f}x |")
    first = best["export, 1 thread"]
    print("\nCPU seconds per phase (best of the runs; 'images (all)' holds the three 'images:' lines):\n")
    print("| phase | plain | export, 1 thread | export, 2 threads |\n|---|---:|---:|---:|")
    names = list(dict.fromkeys(list(plain["phases"]) + list(first["phases"])))
    for name in names:
        cells = [run["phases"].get(name) for run in (plain, first, best["export, 2 threads"])]
        print(f"| {name} | " + " | ".join("" if c is None else f"{c:.2f}" for c in cells) + " |")
    print(f"\nimages: plain {plain['images']}, export {first['images']}")


def first(psd, repeat, scratch):
    """Part 1; returns whether the goal held."""
    best = first_exports(psd, repeat, scratch)
    print(f"\nFirst export of {os.path.basename(psd)}, best of {repeat}:\n")
    print_first(best)
    ok = True
    for threads in ("1 thread", "2 threads"):
        ratio = best[f"export, {threads}"]["wall"] / best[f"again, {threads}"]["wall"]
        ok &= ratio >= GOAL_UNCHANGED
        print(f"\nunchanged re-export, {threads}: {ratio:.0f}x as fast as the first (goal >= {GOAL_UNCHANGED:.0f}x)")
    return ok


def batch_exports(documents, layers, repeat, scratch):
    sys.path.insert(0, HERE)
    from benchdoc import document

    source = document(layers)
    folder = os.path.join(scratch, "batch")
    for i in range(documents):
        os.makedirs(os.path.join(folder, f"screen{i // 5}"), exist_ok=True)
        shutil.copyfile(source, os.path.join(folder, f"screen{i // 5}", f"doc{i}.psd"))
    setups = [(1, 1), (1, 2), (2, 1), (2, 2)]
    samples = collections.defaultdict(list)
    for i in range(repeat):
        for processes, threads in setups:
            out = os.path.join(scratch, f"batch-out-{processes}-{threads}-{i}")
            samples[processes, threads].append(_child("batch", folder, out, processes, threads)["wall"])
    return {setup: min(walls) for setup, walls in samples.items()}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--layers", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--documents", type=int, default=20)
    parser.add_argument("--batch-layers", type=int, default=150)
    parser.add_argument("--batch-only", action="store_true", help="run part 2 alone")
    parser.add_argument("--child", nargs="+", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        kind, *rest = args.child
        fn = {"plain": child_plain, "export": child_export, "batch": child_batch}[kind]
        json.dump(fn(*[int(a) if a.isdigit() else a for a in rest]), sys.stdout)
        return 0
    sys.path.insert(0, HERE)
    from benchdoc import document

    psd = document(args.layers)
    scratch = tempfile.mkdtemp(prefix="tessel-workflow-")
    ok = True
    try:
        print(f"{os.cpu_count()} CPUs, load average %.1f %.1f %.1f at the start" % os.getloadavg())
        if not args.batch_only:
            ok &= first(psd, args.repeat, scratch)
        if not args.documents:
            return 0 if ok else 1
        walls = batch_exports(args.documents, args.batch_layers, args.repeat, scratch)
        print(f"\n{args.documents} documents of {args.batch_layers} layers, export_many, wall seconds, "
              f"best of {args.repeat}:\n")
        print("| processes | image threads | wall s | against 1 x 1 |\n|---:|---:|---:|---:|")
        for (processes, threads), wall in walls.items():
            print(f"| {processes} | {threads} | {wall:.2f} | {walls[1, 1] / wall:.2f}x |")
        speedup = walls[1, 1] / walls[2, 1]
        ok &= speedup >= GOAL_BATCH
        print(f"\n2 processes: {speedup:.2f}x as fast as one after another (goal >= {GOAL_BATCH}x)")
        print("load average %.1f %.1f %.1f at the end" % os.getloadavg())
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
