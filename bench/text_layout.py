"""Measure labels against Photoshop's text: placement of every label's box and its number of lines.

    PYTHONPATH=python python bench/text_layout.py [--shared ../shared/psd-more] [--font FILE]

Runs `tessel check` on the box-text and multi-paragraph documents of the shared
folder and on builder documents of box text with justification 0 to 6, and
prints one row per label: how far its node's box lies from Photoshop's text box
(the drawn pixels for point text, the designer's box for box text), its
paragraphs, the lines Photoshop drew (bands of ink in the layer's own pixels)
and the lines the preview lays out as the engine does.  Builder text layers
carry no pixels, so their Photoshop line count is the paragraph count.
"""

import argparse
import sys
import tempfile
from pathlib import Path

import numpy as np
from PIL import Image

from tessel.see import check, labels
from tessel.testing import Doc, Group, Text, write_psd

SHARED = Path(__file__).resolve().parents[2] / "shared" / "psd-more"
PATTERNS = ("texts-paragraph-shapetype1-*.psd", "texts-long-paragraphs.psd", "texts-paragraph-space-after.psd",
            "texts-style-bold.psd", "texts-whitespaces.psd")


def ink_lines(layer):
    """Bands of inked rows in a layer's own pixels (gaps of one row joined), or None without ink."""
    image = layer.topil()
    if image is None:
        return None
    rows = (np.asarray(image.convert("RGBA"))[..., 3] > 64).any(axis=1)
    bands, gap, inside = 0, 0, False
    for inked in rows:
        if inked:
            bands += not inside
            inside, gap = True, 0
        else:
            gap += 1
            inside = inside and gap <= 1
    return bands or None


def builder_documents(folder):
    """Box text with justification 0 to 6, two paragraphs each, one nested in a group."""
    paths = []
    for code in range(7):
        doc = Doc(480, 320, [
            Text("box", "First paragraph\rSecond one", left=40, top=30, box=(300, 100), size=24.0,
                 justification=code, area=True),
            Group("g", [Text("inner", "Alpha\rBeta\rGamma", left=251, top=161, box=(181, 121), size=20.0,
                             justification=code, area=True)]),
        ])
        path = folder / f"builder-box-j{code}.psd"
        write_psd(doc, path)
        paths.append(path)
    return paths


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shared", type=Path, default=SHARED, help="the folder of Photoshop-written PSDs")
    parser.add_argument("--font", help="a font file for the preview's labels")
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as tmp:
        paths = [p for pattern in PATTERNS for p in sorted(args.shared.glob(pattern))]
        paths += builder_documents(Path(tmp))
        rows = [("document", "label", "kind", "error px", "ink dx, dy", "paragraphs", "PSD lines", "preview lines")]
        worst, differing = {"box": 0.0, "point": 0.0}, []
        for path in paths:
            result = check.check(path, font=args.font)
            for p in result.placements:
                if p.kind != "text" or p.node is None or p.node.label is None:
                    continue
                text = str(p.node.label.get("_string") or "")
                paragraphs = text.count("\n") + 1
                drawn = ink_lines(p.layer)
                psd_lines = drawn if drawn is not None else paragraphs
                laid = labels.layout_label(p.node, labels.Fonts(args.font))
                ink = "-"
                if drawn is not None:
                    root = p.node
                    while root.parent is not None:
                        root = root.parent
                    width, height = (int(v) for v in root.size)
                    canvas = Image.new("RGBA", (width, height), (0, 0, 0, 0))
                    labels.draw_label(canvas, height, p.node, labels.Fonts(args.font))
                    box = canvas.getbbox()
                    if box:
                        ink = f"{box[0] - p.layer.left:+d}, {box[1] - p.layer.top:+d}"
                shown = sum(1 for line in laid.lines if line.strip()) if laid else 0
                kind = "box" if check.text_box(p.layer) else "point"
                worst[kind] = max(worst[kind], p.error)
                if paragraphs > 1 and shown != psd_lines:
                    differing.append(f"{path.name}/{p.path}")
                rows.append((path.name, p.path[:24], kind, f"{p.error:.2f}", ink, str(paragraphs),
                             str(psd_lines) + ("" if drawn is not None else " (paragraphs)"), str(shown)))
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
    print(f"largest error of a box text label: {worst['box']:.2f} px, of a point text label: {worst['point']:.2f} px")
    print(f"multi-paragraph labels drawn on another number of lines than in the PSD: {len(differing)}"
          + (f" ({', '.join(differing)})" if differing else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
