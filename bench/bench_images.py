"""Time the layer-image stage of an export: serial, threads and processes.

    PYTHONPATH=python python bench/bench_images.py [--psd FILE] [--layers 300] [--repeat 3]

Builds (once, cached under build/bench/) a 2048x2048 document of pixel layers of
mixed sizes up to 1024x1024, filled with gradients and noise so that PNG
encoding does real work, then saves every layer's image the way `tessel export`
does (tessel.road.save_images) with each strategy, best of --repeat runs.  Every
run starts from a freshly opened document: a layer caches its decoded image.
The last row, "decode", only decodes the layers: the part that holds the GIL
and that no thread can overlap.
"""

import argparse
import os
import random
import shutil
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor

from PIL import Image, ImageChops

from tessel import export as road
from tessel.road import imagefiles
from tessel.testing import Doc, Group, Pixel, write_psd

SIZES = (16, 32, 64, 128, 256, 512, 1024)


def _content(width, height, rng):
    shade = Image.linear_gradient("L").resize((width, height))
    noise = Image.effect_noise((width, height), rng.choice((10, 30, 60)))
    mixed = ImageChops.add(shade, noise, 2)
    alpha = shade.point(lambda v: 255 if v > 40 else v * 6)
    return Image.merge("RGBA", (shade, noise, mixed, alpha))


def build_document(path, layers, seed=7):
    """Write the benchmark document: ``layers`` pixel layers, ten to a group."""
    rng = random.Random(seed)
    groups = []
    for start in range(0, layers, 10):
        members = []
        for i in range(start, min(start + 10, layers)):
            side = rng.choice(SIZES)
            width = max(1, int(side * rng.uniform(0.6, 1.0)))
            height = max(1, int(side * rng.uniform(0.6, 1.0)))
            members.append(Pixel(f"layer{i}", image=_content(width, height, rng),
                                 left=rng.randrange(0, 2048 - width + 1),
                                 top=rng.randrange(0, 2048 - height + 1)))
        groups.append(Group(f"group{start // 10}", members))
    write_psd(Doc(2048, 2048, groups), path)


def _work(psd, folder):
    return [(layer, os.path.join(folder, layer.imageName + ".png")) for layer in road.pixel_layers(psd)]


def run_threads(path, folder, jobs):
    psd = road.open_document(path, None)
    return road.save_images(_work(psd, folder), jobs)


def run_decode(path, folder, jobs):
    """Only the GIL-bound part: decode every layer (psd-tools), encode nothing."""
    psd = road.open_document(path, None)
    layers = list(road.pixel_layers(psd))
    for layer in layers:
        layer.image
        layer._image = None
    return layers


_worker_layers = None


def _worker_open(path):
    global _worker_layers
    _worker_layers = list(road.pixel_layers(road.open_document(path, None)))


def _worker_save(index, target):
    return imagefiles._render(_worker_layers[index], target)


def run_processes(path, folder, jobs):
    """Each worker opens the document itself and saves the layers it is handed by index."""
    psd = road.open_document(path, None)
    work = _work(psd, folder)
    order = sorted(range(len(work)), key=lambda i: imagefiles._area(work[i][0]), reverse=True)
    with ProcessPoolExecutor(max_workers=jobs, initializer=_worker_open, initargs=(path,)) as pool:
        staged = list(pool.map(_worker_save, order, [work[i][1] for i in order]))
    return [tmp for tmp in staged if tmp]


def measure_once(fn, path, jobs):
    folder = tempfile.mkdtemp(prefix="tessel-bench-")
    try:
        start = time.perf_counter()
        written = fn(path, folder, jobs)
        return time.perf_counter() - start, len(written)
    finally:
        shutil.rmtree(folder)


def measure(plans, path, repeat):
    """Best time of each (label, fn, jobs) plan; the plans take turns, so that a
    burst of load from elsewhere on the machine does not fall on one of them only."""
    best = {}
    for _ in range(repeat):
        for label, fn, jobs in plans:
            seconds, images = measure_once(fn, path, jobs)
            key = (label, jobs)
            if key not in best or seconds < best[key][0]:
                best[key] = (seconds, images)
    return [(label, jobs, *best[(label, jobs)]) for label, _, jobs in plans]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--psd", help="document to use (default: build the cached benchmark document)")
    parser.add_argument("--layers", type=int, default=300)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--jobs", type=int, nargs="+", help="worker counts to try (default: 2 .. cpu count, and 4)")
    args = parser.parse_args(argv)

    path = args.psd
    if path is None:
        here = os.path.dirname(os.path.abspath(__file__))
        path = os.path.join(here, os.pardir, "build", "bench", f"images-{args.layers}.psd")
        if not os.path.exists(path):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            print(f"building {path} ...", file=sys.stderr)
            build_document(path + ".part", args.layers)
            os.replace(path + ".part", path)

    cpus = os.cpu_count() or 1
    counts = args.jobs or sorted({n for n in (2, cpus, 4) if n > 1})
    print(f"{path}: {os.path.getsize(path) / 1e6:.1f} MB, {cpus} CPUs, best of {args.repeat}")
    plans = [("serial", run_threads, 1)]
    plans += [("threads", run_threads, jobs) for jobs in counts]
    plans += [("processes", run_processes, jobs) for jobs in counts]
    plans.append(("decode", run_decode, 1))
    rows = measure(plans, path, args.repeat)

    serial = rows[0][2]
    print(f"{'strategy':<10} {'jobs':>4} {'seconds':>8} {'speed-up':>8} {'images':>6}")
    for label, jobs, seconds, images in rows:
        print(f"{label:<10} {jobs:>4} {seconds:>8.2f} {serial / seconds:>7.2f}x {images:>6}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
