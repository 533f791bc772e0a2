"""Measure where each line of a multi-line label lands against the line Photoshop drew.

    PYTHONPATH=python python bench/text_lines.py [--before] [FOLDER ...]

Exports every document of the folders (default: the shared psd folder and the
texts-* documents of psd-more) whose text layers hold more than one paragraph,
lays their labels out as the engine does, and prints per label the bottom row of
each band of ink Photoshop drew (the layer's own pixels) and of the label's,
and their differences in pixels.  ``--before`` leaves out the tessel.road.textlook
step, to compare with the labels as the tree builder alone writes them.
"""

import argparse
import tempfile
from pathlib import Path

import numpy as np
from psd_tools import PSDImage

from tessel.road import textlook
from tessel.see import check, labels
from tessel.see.preview import load_prefab

SHARED = Path(__file__).resolve().parents[2] / "shared"


def ink_bottoms(alpha, top):
    """The bottom row (document y) of every band of ink rows in ``alpha``, top to bottom."""
    rows = np.nonzero((np.asarray(alpha) > 40).any(axis=1))[0]
    bottoms = []
    for previous, row in zip(rows, list(rows[1:]) + [None]):
        if row is None or row > previous + 2:
            bottoms.append(float(previous + top))
    return bottoms


def documents(folders):
    for folder in folders:
        for path in sorted(folder.glob("*.psd")):
            try:
                psd = PSDImage.open(path)
            except Exception:
                continue
            if any(layer.kind == "type" and "\r" in layer.text.strip("\r") for layer in psd.descendants()):
                yield path, psd


def measure(path, psd, fonts):
    with tempfile.TemporaryDirectory() as outdir:
        layout, _ = load_prefab(check.default_export(str(path), outdir), "2.1")
    found, _ = check.placements(psd, layout)
    for p in found:
        if p.kind != "text" or "\r" not in p.layer.text.strip("\r"):
            continue
        photoshop = ink_bottoms(p.layer.topil().getchannel("A"), p.layer.top)
        laid, image = labels.label_image(p.node, fonts, (0, 0, 0, 255))
        ours = ink_bottoms(image.getchannel("A"), layout.height - laid.top)
        leading = textlook.explicit_leading(p.layer)
        diffs = [round(b - a, 1) for a, b in zip(photoshop, ours)]
        print(f"{path.name} | {p.path!r} | leading {leading or 'auto'} | line height "
              f"{p.node.label['_lineHeight']} | Photoshop {photoshop} | label {[round(b, 1) for b in ours]} "
              f"| off {diffs}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folders", nargs="*", type=Path)
    parser.add_argument("--before", action="store_true", help="without the textlook step")
    args = parser.parse_args()
    if args.before:
        textlook.apply = lambda psd: None
    folders = args.folders or [SHARED / "psd", SHARED / "psd-more"]
    fonts = labels.Fonts()
    for path, psd in documents(folders):
        measure(path, psd, fonts)


if __name__ == "__main__":
    main()
