"""How many documents look in the preview of their export as Photoshop shows them.

    PYTHONPATH=python python bench/bench_match.py [--all-layers] [--styles] [FOLDER ...]

For every PSD in the folders (default: ../shared/psd-more and ../shared/psd)
that has no adjustment layer, exports it into a temporary folder, renders the
prefab as the engine lays it out (tessel.see.preview) and compares that with the
composite Photoshop stored in the file, both flattened on white.  A document
matches when at most 2% of its pixels differ by more than 24 of 255 on any
channel.  Prints one line per document (one that differs says why, as far as
the document tells) and the share that matches.
"""

import argparse
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_FOLDERS = [HERE.parents[1] / "shared" / "psd-more", HERE.parents[1] / "shared" / "psd"]
TOLERANCE = 24
LIMIT = 0.02


def has_adjustments(psd):
    from psd_tools.api.layers import AdjustmentLayer

    return any(isinstance(layer, AdjustmentLayer) for layer in psd.descendants())


def _labels_apart(prefab):
    """The prefab rendered twice: without its labels, and its labels alone; with the labels' layouts."""
    from tessel.see import labels
    from tessel.see.preview import Fonts, load_prefab, render

    without, frames = load_prefab(prefab)
    alone, _ = load_prefab(prefab)
    fonts = Fonts()
    laid = [labels.layout_label(node, fonts) for node in alone.nodes if node.label is not None and node.active]
    for node in without.nodes:
        node.label = None
    for node in alone.nodes:
        node.sprite = None
    return render(without, frames, fonts=fonts), render(alone, frames, fonts=fonts), [x for x in laid if x]


def text_causes(prefab, reference):
    """Why the labels differ: the faces they are drawn in, and how far off they lie.

    The labels are moved as one over a few pixels to where they differ least: what
    that move mends is placement (where the export puts the node, as the engine
    lays its text out); what is left is the glyphs themselves.
    """
    from PIL import Image

    from tessel.see.picturediff import difference

    sprites, text, laid = _labels_apart(prefab)

    def moved(dx, dy):
        canvas = sprites.copy()
        shifted = Image.new("RGBA", text.size, (0, 0, 0, 0))
        shifted.paste(text, (dx, dy))
        canvas.alpha_composite(shifted)
        return difference(reference, canvas, TOLERANCE)[0]

    start = moved(0, 0)
    best = (start, 0, 0)
    for dx, dy in [(0, dy) for dy in range(-14, 15)]:
        best = min(best, (moved(dx, dy), dx, dy))
    for dx, dy in [(dx, best[2]) for dx in range(-5, 6)] + [(best[1], dy) for dy in range(best[2] - 2, best[2] + 3)]:
        best = min(best, (moved(dx, dy), dx, dy))
    faces = sorted({Path(getattr(x.font, "path", "Pillow's own")).name for x in laid})
    found = [f"text: drawn in {', '.join(faces)}"]
    if best[0] < start - 0.001:
        found.append(f"text placement: moved {best[1]:+d},{best[2]:+d} px (y down) the labels differ least, "
                     f"{best[0]:.1%} then")
    return found


def causes(psd, reference, prefab=None):
    """What in ``psd`` keeps a preview from matching, as far as the document tells."""
    from psd_tools.api.layers import Group, TypeLayer

    from tessel.see.picturediff import difference

    found = []
    shown = [layer for layer in psd.descendants() if layer.is_visible()]
    if any(isinstance(layer, TypeLayer) for layer in shown) and prefab is not None:
        found += text_causes(prefab, reference)
    if psd.width % 2 or psd.height % 2:
        found.append("odd size: top-level positions are whole pixels, the centre is not")
    blended = [layer for layer in shown if layer.blend_mode.name not in ("NORMAL", "PASS_THROUGH")
               or isinstance(layer, Group) and layer.opacity != 255]
    if blended:
        found.append("blending: blend modes or group opacity, which sprites cannot show")
    try:
        own, _ = difference(reference, psd.composite(ignore_preview=True).convert("RGBA"), TOLERANCE)
    except Exception as e:
        own = None
        found.append(f"psd-tools cannot composite it ({type(e).__name__})")
    if own is not None and own > LIMIT:
        found.append(f"psd-tools' own composite differs by {own:.1%}")
    return found


def measure(path, options):
    """(share of differing pixels, note) for one document, or (None, reason) when it cannot be measured."""
    from psd_tools import PSDImage

    from tessel.see.picturediff import difference
    from tessel.export import export_psd
    from tessel.see.preview import Fonts, load_prefab, render

    try:
        psd = PSDImage.open(path)
    except Exception as e:
        return None, f"psd-tools cannot open it ({type(e).__name__})"
    if has_adjustments(psd):
        return None, "adjustment layers"
    expected = psd.composite().convert("RGBA")
    with tempfile.TemporaryDirectory(prefix="tessel-match-") as outdir:
        try:
            result = export_psd(path, outdir, options)
        except Exception as e:
            return 1.0, f"export failed: {type(e).__name__}: {e}"
        layout, frames = load_prefab(result.prefab)
        sprites = sum(node.sprite is not None and node.size[0] * node.size[1] > 0 for node in layout.nodes)
        actual = render(layout, frames, fonts=Fonts())
        share, _ = difference(expected, actual, TOLERANCE)
        notes = [f"left out: {', '.join(result.left_out)}"] if result.left_out else []
        if share > LIMIT:
            notes += causes(psd, expected, result.prefab)
            if result.images < sprites:
                notes.append(f"{sprites} sprites share {result.images} images: same-named layers get one image name")
    return share, "; ".join(notes)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="*", type=Path, default=DEFAULT_FOLDERS)
    parser.add_argument("--all-layers", action="store_true")
    parser.add_argument("--styles", action="store_true")
    args = parser.parse_args(argv)

    from tessel.export import ExportOptions

    options = ExportOptions(jobs=1, all_layers=args.all_layers, styles=args.styles)
    measured = matched = 0
    for folder in args.folders:
        for path in sorted(folder.glob("*.psd")):
            share, note = measure(str(path), options)
            if share is None:
                print(f"{'skip':>7}  {folder.name}/{path.name}: {note}")
                continue
            measured += 1
            ok = share <= LIMIT
            matched += ok
            print(f"{share:7.2%}  {folder.name}/{path.name}{'' if ok else '  DIFFERS'}{f'  ({note})' if note else ''}")
            sys.stdout.flush()
    share = matched / measured if measured else 0.0
    print(f"matched {matched} of {measured} documents ({share:.0%}); "
          f"flags: {' '.join(f for f, on in (('--all-layers', args.all_layers), ('--styles', args.styles)) if on) or 'none'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
