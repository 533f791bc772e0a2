"""What --share and --library save: images and bytes written, and the cost of looking images up.

    PYTHONPATH=python python bench/bench_share.py [--docs 20] [--library-size 2000] [--rounds 3]

Part one builds a kit of 30 images (32 to 200 pixels a side, every sixth
nine-sliced) and 20 phone-screen documents (750 x 1334), each using 15 kit
images and 10 of its own (a full-screen background and 9 more), and exports them all in one run without and with --share.
Part two exports one such document against a library folder of 2,000 images
(PNG and .png.meta), first without the caches and then with them, and times
the lookup: indexing the library, and the step that digests the document's
images (or takes them from the cache of surveyed documents) and finds them.
"""

import argparse
import json
import os
import random
import shutil
import tempfile
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))


def _image(rng, size=None):
    from PIL import Image, ImageChops

    w, h = size or (rng.randint(32, 200), rng.randint(32, 200))
    shade = Image.linear_gradient("L").resize((w, h)).rotate(rng.randrange(360))
    noise = Image.effect_noise((w, h), rng.randint(4, 24))
    tint = Image.new("L", (w, h), rng.randrange(256))
    return Image.merge("RGBA", (shade, ImageChops.add(noise, tint, 2), tint, Image.new("L", (w, h), 255)))


def kit(rng, count=30):
    """(layer name, image) per kit image; every sixth is nine-sliced."""
    return [(f"kit{k}_8,8,8,8" if k % 6 == 0 else f"kit{k}", _image(rng)) for k in range(count)]


def document(rng, parts, own=10, used=15):
    """A phone screen: its own full-size background, ``used`` kit images and ``own`` - 1 more of its own."""
    from tessel.testing import Doc, Group, Pixel

    chosen = rng.sample(parts, used)
    mine = [(f"own{k}", _image(rng)) for k in range(own - 1)]
    layers = [Pixel(name, image=image, left=rng.randrange(500), top=rng.randrange(1100)) for name, image in chosen + mine]
    groups = [Group(f"g{n}", layers[n::5]) for n in range(5)]
    return Doc(750, 1334, [Pixel("bg", image=_image(rng, (750, 1334)))] + groups, compression="zip")


def pngs(folder):
    found = [os.path.join(root, f) for root, _, names in os.walk(folder) for f in names if f.endswith(".png")]
    return len(found), sum(os.path.getsize(p) for p in found)


def part_one(work, count):
    from tessel.export import ExportOptions, export_many
    from tessel.testing import write_psd

    rng = random.Random(26)
    parts = kit(rng)
    paths = []
    for n in range(count):
        path = os.path.join(work, f"screen{n:02d}.psd")
        write_psd(document(rng, parts), path)
        paths.append(path)
    rows = []
    for label, share in (("without --share", None), ("with --share common", "common"),
                         ("with --share common again, nothing changed", "common")):
        out = os.path.join(work, "out-" + ("share" if share else "plain"))
        start = time.perf_counter()
        results = [r for _, r in export_many(paths, out, ExportOptions(jobs=1, share=share))]
        seconds = time.perf_counter() - start
        assert all(not isinstance(r, Exception) for r in results), results
        images, size = pngs(out)
        shared = pngs(os.path.join(out, "common"))[0] if share else 0
        saved = sum(r.bytes_saved for r in results)
        rows.append((label, images, shared, size, saved, seconds))
    print(f"\n{count} documents, each 15 of a kit of 30 images and 10 of its own")
    print("| export | PNG files in OUTDIR | of them in the share folder | PNG bytes in OUTDIR | bytes not written | seconds |")
    print("|---|---:|---:|---:|---:|---:|")
    for label, images, shared, size, saved, seconds in rows:
        print(f"| {label} | {images} | {shared} | {size:,} | {saved:,} | {seconds:.1f} |")


def make_library(folder, rng, size, parts):
    """``size`` PNGs with 2.x sprite metas; the kit's images among them."""
    from PIL import Image

    os.makedirs(folder)
    images = [image for _, image in parts] + [None] * (size - len(parts))
    for n, image in enumerate(images):
        name = f"lib{n:04d}"
        image = image if image is not None else _image(rng, (rng.randint(16, 96), rng.randint(16, 96)))
        sub = os.path.join(folder, f"set{n // 200}")
        os.makedirs(sub, exist_ok=True)
        if image.size[0] >= 17 and n < len(parts) and parts[n][0].endswith("_8,8,8,8"):
            from tessel import layerkit

            image = layerkit.crop2Scale9Image(image, [8, 8, 8, 8])
            borders = 8
        else:
            borders = 0
        image.save(os.path.join(sub, name + ".png"))
        texture, frame = str(uuid.UUID(int=rng.getrandbits(128))), str(uuid.UUID(int=rng.getrandbits(128)))
        meta = {"ver": "2.2.0", "uuid": texture, "type": "sprite", "subMetas": {name: {
            "ver": "1.0.3", "uuid": frame, "rawTextureUuid": texture, "borderTop": borders, "borderBottom": borders,
            "borderLeft": borders, "borderRight": borders}}}
        with open(os.path.join(sub, name + ".png.meta"), "w") as f:
            json.dump(meta, f)


def part_two(work, size, rounds):
    from tessel.export import ExportOptions, export_psd
    from tessel.road import library, reuse, surveys
    from tessel.testing import write_psd

    rng = random.Random(27)
    parts = kit(rng)
    lib = os.path.join(work, "library")
    make_library(lib, rng, size, parts)
    path = os.path.join(work, "screen.psd")
    write_psd(document(rng, parts), path)

    spent = {}

    def timed(name, fn):
        def run(*args, **kwargs):
            start = time.process_time()
            try:
                return fn(*args, **kwargs)
            finally:
                spent[name] = spent.get(name, 0.0) + time.process_time() - start
        return run

    library.load = timed("index", library.load)
    reuse.Reuse.__init__ = timed("step", reuse.Reuse.__init__)
    cases = (("no library", False, ()), ("library, first run", True, ()),
             ("library cache warm, document new", True, (library.CACHE_FILE,)),
             ("both caches warm", True, (library.CACHE_FILE, surveys.SURVEYS_FILE)))
    rows = {}
    for _ in range(rounds):
        for label, library_on, caches in cases:
            out = os.path.join(work, "out")
            shutil.rmtree(out, ignore_errors=True)
            if caches:
                export_psd(path, out, ExportOptions(jobs=1, library=[lib]))  # fills the caches
                for name in os.listdir(out):
                    if name not in caches:
                        target = os.path.join(out, name)
                        shutil.rmtree(target) if os.path.isdir(target) else os.unlink(target)
            spent.clear()
            start, cpu = time.perf_counter(), time.process_time()
            result = export_psd(path, out, ExportOptions(jobs=1, library=[lib] if library_on else []))
            wall, cpu = time.perf_counter() - start, time.process_time() - cpu
            row = (wall, cpu, spent.get("index", 0.0), spent.get("step", 0.0), result.library, result.images)
            best = rows.get(label)
            rows[label] = row if best is None or row[1] < best[1] else best
    print(f"\none document (25 images, 15 of them in the library) against a library of {size} images "
          f"in 10 folders; least CPU of {rounds} rounds")
    print("| export | wall s | CPU s | indexing the library | finding the document's images | lookup share of CPU | "
          "found in the library | images written |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for label, (wall, cpu, index, step, found, images) in rows.items():
        lookup = index + step
        print(f"| {label} | {wall:.2f} | {cpu:.2f} | {index * 1000:.0f} ms | {step * 1000:.0f} ms | "
              f"{lookup / cpu:.0%} | {found} | {images} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--docs", type=int, default=20)
    parser.add_argument("--library-size", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tessel-share-bench-")
    try:
        part_one(work, args.docs)
        part_two(work, args.library_size, args.rounds)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
