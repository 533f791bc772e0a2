"""Labels drawn at the size, case, alignment and line distance Photoshop draws their text with.

The tree builder writes a label from the text layer's first run: its font size,
that size + 4 as line height, and every justified paragraph centred.  Photoshop
also applies the layer's transform (Free Transform keeps the runs' sizes and
scales the transform), capitals (FontCaps 1 small caps, 2 all caps), the
last-line alignment of justified paragraphs and an explicit leading.  This step
carries them into the label after fixPosition; a label without any of them is
left exactly as the builder wrote it.
"""

import math

from tessel.road.textplace import has_ink

# Engine justification codes of justified paragraphs, by the label alignment of
# their last line (cc.Label: 0 left, 1 centre, 2 right); the engine cannot justify.
JUSTIFIED_ALIGN = {3: 0, 4: 2, 5: 1, 6: 0}

# A horizontal scale this close to the vertical one draws as the same.
SCALE_SLACK = 0.01

# What the builder adds to the font size for the line height of auto leading.
AUTO_LEADING_EXTRA = 4

# The engine's share of the font size below the last baseline of a label's canvas.
BASELINE_RATIO = 0.26


def apply(psd):
    """Adjust the label and node of every text layer of the document (after fixPosition)."""
    from tessel import infos, nodeweave

    def walk(group):
        for child in group:
            if isinstance(child, infos.YGroup):
                walk(child)
            elif isinstance(child, infos.YTextLayer):
                labels = [obj for obj in child.infolist if isinstance(obj, nodeweave.CCLabel)]
                if labels:
                    restyle(child, labels[0], child.info)

    walk(psd)


def restyle(text_layer, label, node):
    """Set ``label`` and ``node`` of one text layer-info from its transform and runs."""
    layer = text_layer.layer
    hscale, vscale = scales(layer)
    size = float(text_layer.FontSize)
    if vscale != 1.0:
        label._fontSize = _whole(size * vscale)
    leading = explicit_leading(layer)
    if leading is not None:
        label._lineHeight = hundredths(leading * vscale)
        if text_layer.textBox is None and not has_ink(layer):
            # Text whose glyphs Photoshop drew is placed by them (tessel.road.textplace).
            _onto_first_baseline(layer, label, node)
    elif vscale != 1.0:
        # The builder's rule for auto leading, on the drawn size: the sum first.
        label._lineHeight = _whole(size * vscale + AUTO_LEADING_EXTRA)

    align = JUSTIFIED_ALIGN.get(_int(text_layer.Justification))
    if align is not None:
        label._N_horizontalAlign = align

    capital = capitals(layer)
    if capital is not None:
        label._string = label._N_string = capital

    if vscale > 0 and abs(hscale / vscale - 1) > SCALE_SLACK:
        # The engine scales the node's box too: its content size shrinks by the same
        # ratio so that the box drawn on screen stays the layer's box.
        ratio = hscale / vscale
        node._scale.x = round(ratio, 4)
        box = node._contentSize
        box.width = round(box.width / ratio, 2)


def _onto_first_baseline(layer, label, node):
    """Set a point text's anchor so that the label's first baseline lies on Photoshop's.

    The node's box is the text's pixels, its anchor their middle, which suits the
    builder's line height.  The engine makes a label's canvas as tall as its
    lines and sets them at its bottom, though, and places that canvas by the
    node's anchor: a leading much larger than the font pushes every line down.
    The anchor moves to where the canvas puts the text's origin (its first
    baseline), and the position with it, so the node's box stays where it was.
    """
    try:
        origin = float(layer._data.transform[5])
        top = float(layer.top)
    except (AttributeError, TypeError, ValueError, IndexError):
        return
    size, line = float(label._fontSize), float(label._lineHeight)
    lines = str(label._string or "").count("\n") + 1
    canvas = (lines + BASELINE_RATIO) * line
    below_top = line + BASELINE_RATIO * (line - size)  # the first baseline, from the canvas top
    height, anchor = float(node._contentSize.height), node._anchorPoint
    if not math.isfinite(origin) or abs(canvas - height) < 1:
        return
    # Canvas top (y down) = top + height - (a * height + (1 - a) * canvas); solved for a.
    wanted = round((origin - below_top - top - height + canvas) / (canvas - height), 4)
    local = node._localPosition
    local.y = local.y - math.trunc(height * anchor.y) + round(height * wanted)
    anchor.y = wanted


def scales(layer):
    """(horizontal, vertical) scale of the text layer's transform; (1, 1) when it has none."""
    try:
        xx, xy, yx, yy = (float(v) for v in layer._data.transform[:4])
    except (AttributeError, TypeError, ValueError, IndexError):
        return 1.0, 1.0
    h, v = math.hypot(xx, xy), math.hypot(yx, yy)
    if not (math.isfinite(h) and math.isfinite(v)) or h <= 0 or v <= 0:
        return 1.0, 1.0
    return h, v


def explicit_leading(layer):
    """The leading in points of the layer's first run that says, None for auto leading."""
    auto = run_value(layer, "AutoLeading", True)
    leading = run_value(layer, "Leading", None)
    if auto or not isinstance(leading, (int, float)) or not leading > 0 or not math.isfinite(leading):
        return None
    return float(leading)


def capitals(layer):
    """The label string with the runs set in capitals upper-cased, None when no run is."""
    try:
        engine = layer.engine_dict
        text = str(_plain(engine["Editor"]["Text"]))
        style_run = engine["StyleRun"]
        lengths = [int(_plain(n)) for n in style_run["RunLengthArray"]]
        runs = [r["StyleSheet"]["StyleSheetData"] for r in style_run["RunArray"]]
    except (AttributeError, KeyError, IndexError, TypeError, ValueError):
        return None
    default = _int(_plain(_normal_sheet(layer).get("FontCaps", 0)))
    units = _utf16_offsets(text)
    pieces, pos, any_caps = [], 0, False
    for length, run in zip(lengths, runs):
        end = min(pos + max(0, length), len(units) - 1)
        piece = text[units[pos]:units[end]]
        caps = _int(_plain(run.get("FontCaps", default))) if hasattr(run, "get") else default
        if caps in (1, 2):
            piece, any_caps = piece.upper(), True
        pieces.append(piece)
        pos = end
    if not any_caps:
        return None
    pieces.append(text[units[pos]:])
    return _label_text("".join(pieces))


def run_value(layer, key, default):
    """``key`` of the first style run that names it, else of the normal style sheet, else ``default``."""
    try:
        runs = layer.engine_dict["StyleRun"]["RunArray"]
        for run in runs:
            data = run["StyleSheet"]["StyleSheetData"]
            if key in data:
                return _plain(data[key])
    except (AttributeError, KeyError, IndexError, TypeError):
        pass
    sheet = _normal_sheet(layer)
    return _plain(sheet[key]) if key in sheet else default


def _normal_sheet(layer):
    try:
        resources = layer.resource_dict
        return resources["StyleSheetSet"][_plain(resources["TheNormalStyleSheet"])]["StyleSheetData"]
    except (AttributeError, KeyError, IndexError, TypeError):
        return {}


def _utf16_offsets(text):
    """The Python index at every UTF-16 unit of ``text`` and at its end (run lengths count UTF-16 units)."""
    offsets = []
    for i, ch in enumerate(text):
        offsets.append(i)
        if ord(ch) > 0xFFFF:
            offsets.append(i)  # the second unit of a surrogate pair starts nowhere new
    offsets.append(len(text))
    return offsets


def _label_text(text):
    # As the builder makes the label's string: no "\r" at either end, "\n" between paragraphs.
    return text.strip("\r").replace("\r\n", "\n").replace("\r", "\n")


def _plain(value):
    return getattr(value, "value", value)


def _int(value):
    try:
        return int(value)
    except (TypeError, ValueError):
        return None


def _whole(value):
    # Truncated as the builder truncates sizes; the tiny lift keeps a product a hair
    # below a whole number (0.7 * 30 == 20.999999999999996) from losing a pixel.
    return int(value + 1e-9)


def hundredths(value):
    """An integral value as an int, else rounded to hundredths (for label sizes, widths and offsets)."""
    rounded = round(float(value), 2)
    return int(rounded) if rounded == int(rounded) else rounded
