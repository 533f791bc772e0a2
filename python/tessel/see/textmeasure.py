"""Where a text layer's text lies and how tall it is drawn: in Photoshop's pixels and in the preview."""

from __future__ import annotations

from dataclasses import replace
from typing import Optional

from PIL import Image

from tessel.road.textplace import ink_bounds
from tessel.see.labels import draw_label, ink_height
from tessel.see.nodelayout import Layout, Node
from tessel.see.preview import Fonts


def _plain(value):
    return getattr(value, "value", value)


def text_box(layer) -> Optional[tuple]:
    """The text box of a box text layer in document pixels (left, top, right, bottom); None for point text."""
    try:
        cookie = layer.engine_dict["Rendered"]["Shapes"]["Children"][0]["Cookie"]["Photoshop"]
        if _plain(cookie["ShapeType"]) != 1:
            return None
        b0, b1, b2, b3 = (float(_plain(v)) for v in cookie["BoxBounds"])
        xx, xy, yx, yy, tx, ty = (float(v) for v in layer._data.transform)
    except (KeyError, IndexError, TypeError, ValueError, AttributeError):
        return None
    corners = [(xx * bx + yx * by + tx, xy * bx + yy * by + ty) for bx in (b0, b2) for by in (b1, b3)]
    xs, ys = [x for x, _ in corners], [y for _, y in corners]
    return (min(xs), min(ys), max(xs), max(ys))


def text_ink_height(layer) -> Optional[int]:
    """Height of the pixels Photoshop drew for a text layer; None when it stored none."""
    bounds = ink_bounds(layer)
    return bounds[3] - bounds[1] if bounds else None


def measure_sizes(found: list, fonts: Fonts) -> None:
    """Measure the text heights of every text placement whose label and layer both draw something."""
    for p in found:
        if p.kind != "text" or p.node is None:
            continue
        drawn, photoshop = ink_height(p.node, fonts), text_ink_height(p.layer)
        if drawn and photoshop:
            p.heights = (drawn, photoshop)


def ink_box(layout: Layout, node: Node, fonts: Fonts) -> Optional[tuple]:
    """Where the label of ``node`` puts its glyphs (left, top, right, bottom in document pixels), None for no ink.

    Drawn without outline and shadow, which the layer's own pixels lack too.
    """
    # A margin of the document's size keeps glyphs past its edges on the canvas.
    w, h = max(1, int(round(layout.width))), max(1, int(round(layout.height)))
    moved = replace(node, parts={}, opacity=1.0, color=(0, 0, 0, 255), world=(node.world[0] + w, node.world[1] + h))
    canvas = Image.new("RGBA", (3 * w, 3 * h), (0, 0, 0, 0))
    draw_label(canvas, layout.height + 2 * h, moved, fonts)
    box = canvas.getchannel("A").point(lambda a: 255 if a > 64 else 0).getbbox()
    return None if box is None else (box[0] - w, box[1] - h, box[2] - w, box[3] - h)
