"""How many documents look in the preview of their export as Photoshop shows them.

    PYTHONPATH=python python bench/bench_match.py [--all-layers] [--styles] [FOLDER ...]

For every PSD in the folders (default: ../shared/psd-more and ../shared/psd)
that has no adjustment layer, exports it into a temporary folder, renders the
prefab as the engine lays it out (tessel.preview) and compares that with the
composite Photoshop stored in the file, both flattened on white.  A document
matches when at most 2% of its pixels differ by more than 24 of 255 on any
channel.  Prints one line per document (the worst offenders say why they
differ as far as the document tells) and the share that matches.
"""

import argparse
import os
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


def measure(path, options):
    """(share of differing pixels, note) for one document, or (None, reason) when it cannot be measured."""
    from psd_tools import PSDImage

    from tessel.check import difference
    from tessel.export import export_psd
    from tessel.preview import Fonts, load_prefab, render

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
        actual = render(layout, frames, fonts=Fonts())
    share, _ = difference(expected, actual, TOLERANCE)
    return share, ", ".join(result.skipped)


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
