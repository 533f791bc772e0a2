"""Count the labels that `tessel check` places within 3 px of Photoshop's text, over the shared text documents.

    PYTHONPATH=python python bench/text_placement.py [FOLDER ...] [--limit 3]

Every shared document with a text layer is checked (default: ../shared/psd and
../shared/psd-more); one row per label with its error (as `tessel check` reports
it), then the count within the limit.
"""

import argparse
import sys
from pathlib import Path

from psd_tools import PSDImage

from tessel.see import check

SHARED = Path(__file__).resolve().parents[2] / "shared"


def text_documents(folders):
    for folder in folders:
        for path in sorted(Path(folder).glob("*.psd")):
            try:
                psd = PSDImage.open(path)
            except Exception:
                continue
            if any(layer.kind == "type" for layer in psd.descendants()):
                yield path


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folders", nargs="*", default=[SHARED / "psd", SHARED / "psd-more"])
    parser.add_argument("--limit", type=float, default=3.0)
    parser.add_argument("--old-placement", action="store_true",
                        help="leave point text where the position pass puts it (the placement before the text's geometry)")
    args = parser.parse_args(argv)
    if args.old_placement:
        from tessel.road import textplace

        textplace.place_point_text = lambda psd: None
    total = within = texts = texts_within = 0
    for path in text_documents(args.folders):
        try:
            result = check.check(str(path))
        except check.PreviewError as e:
            print(f"{path.name}: {e}", file=sys.stderr)
            continue
        for p in result.placements:
            if p.kind != "text":
                continue
            total += 1
            ok = p.error <= args.limit
            within += ok
            if path.name.startswith("texts-"):
                texts, texts_within = texts + 1, texts_within + ok
            print(f"{path.name:52} {p.path[:30]:30} {p.error:7.2f} {'' if ok else 'OFF'}")
    print(f"labels within {args.limit:g} px: {within} of {total} (texts-* documents: {texts_within} of {texts})")


if __name__ == "__main__":
    main()
