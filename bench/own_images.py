"""Count the sprites of an export that show their own layer's image.

    PYTHONPATH=python python bench/own_images.py DESIGN.psd [...]
    PYTHONPATH=python python bench/own_images.py --bench     # the benchmark's 1,000-layer document

Exports each document into a temporary folder and compares, for every pixel
layer, the PNG its sprite points at with the layer's own pixels (nine-slice
cropped when its name says so).  Prints one line per document; exits with 1
when any sprite shows other pixels or points at a frame that was never written.
"""

import argparse
import sys
import tempfile
from pathlib import Path

from psd_tools import PSDImage

from tessel.see.check import placements
from tessel.export import ExportOptions, export_psd
from tessel.see.preview import load_prefab
from tessel.see.spritecheck import wrong_sprites


def measure(path):
    """(sprites, pixel layers whose node shows other pixels or none, image names split) for one document."""
    with tempfile.TemporaryDirectory(prefix="tessel-own-") as out:
        result = export_psd(path, out, ExportOptions(jobs=2))
        layout, frames = load_prefab(result.prefab)
        found, _ = placements(PSDImage.open(path), layout)
        sprites = [p for p in found if p.node is not None and p.node.sprite is not None]
        wrong = {id(p) for p, _ in wrong_sprites(found, frames)}
    return len(sprites), len(wrong), result.collisions


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("psd", nargs="*", help="documents to export and measure")
    parser.add_argument("--bench", action="store_true", help="also the benchmark's document (written on first use)")
    args = parser.parse_args(argv)
    paths = list(args.psd)
    if args.bench:
        sys.path.insert(0, str(Path(__file__).resolve().parent))
        from bench_export import document

        paths.append(str(document(1000)))
    wrong = 0
    for path in paths:
        sprites, bad, collisions = measure(path)
        wrong += bad
        print(f"{path}: {sprites} sprites; {bad} pixel layers whose node does not show their own image; "
              f"{collisions} image names split")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
