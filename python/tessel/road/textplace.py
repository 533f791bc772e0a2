"""Point text placed by its own geometry: the engine's baselines on the baselines Photoshop set.

The position pass puts a point text's node on the middle of the pixels
Photoshop drew, but the engine sizes such a label to its text, (lines + 0.26)
line heights tall, and draws the first baseline at a fixed depth in that box:
blank lines, a trailing blank line, descenders or their absence all move the
glyphs away from the pixels' middle.  The text's transform holds its origin
(the first baseline's alignment point) and the engine data its leading, so the
node is moved to where the engine's middle baseline lands on Photoshop's; and
horizontally to the alignment point of the line box the type tool records,
which leading blanks and faux bold do not move.  Nodes within a pixel of that
stay where the position pass put them, and so do layers without drawn glyphs
(documents of other writers), whose box is all there is to go by.
"""

from tessel import infos, nodeweave

# The engine's share of the font size below the last baseline, and its vertical alignments.
BASELINE_RATIO = 0.26
TOP, MIDDLE, BOTTOM = 0, 1, 2


def first_baseline(font_size, line_height, lines, valign):
    """(depth of the first baseline below the label's top, the label's height) as the engine lays out point text."""
    height = (lines + BASELINE_RATIO) * line_height
    first = font_size * (1 - BASELINE_RATIO / 2)
    if valign != TOP:
        blank = line_height * (lines - 1) + font_size - height
        if valign == BOTTOM:
            first -= blank + BASELINE_RATIO / 2 * font_size
        else:
            first -= blank / 2
    return first, height


def ink_bounds(layer):
    """The box (left, top, right, bottom) of the glyphs a psd-tools text layer's writer drew, None without any.

    Other writers may store an empty block, and a layer psd-tools cannot decode has no pixels to go by either.
    """
    try:
        image = layer.topil()
    except Exception:
        return None
    if image is None or "A" not in image.getbands():
        return None
    return image.getchannel("A").getbbox()


def has_ink(layer) -> bool:
    """Whether a psd-tools text layer holds the glyphs its writer drew."""
    return ink_bounds(layer) is not None


def _point_texts(group):
    for child in group:
        if isinstance(child, infos.YGroup):
            yield from _point_texts(child)
        elif isinstance(child, infos.YTextLayer) and child.textBox is None:
            yield child


def _objects(info):
    node = next(o for o in info.infolist if isinstance(o, nodeweave.CCNode))
    label = next(o for o in info.infolist if isinstance(o, nodeweave.CCLabel))
    return node, label


def place_point_text(psd):
    """Move each point text's node (after the position pass) so its first baseline is Photoshop's."""
    for info in _point_texts(psd):
        try:
            xx, xy, yx, yy, tx, ty = (float(v) for v in info.layer._data.transform)
        except (AttributeError, TypeError, ValueError):
            continue
        if xy or yx or not has_ink(info.layer):
            # Rotated or skewed text the label cannot follow anyway; without drawn
            # glyphs the layer's box is all the document says, and today's placement uses it.
            continue
        node, label = _objects(info)
        size = float(label._fontSize)
        if size <= 0:
            continue
        lines = str(label._string or "").count("\n") + 1
        line_height = float(label._lineHeight or size)
        first, height = first_baseline(size, line_height, lines, label._N_verticalAlign)
        # The middle line's baseline on Photoshop's (the first line's for one line), so that a line
        # height other than Photoshop's leading spreads its difference over the lines both ways.
        pitch = _pitch(info.layer, lines, yy) or line_height
        top = ty + (lines - 1) / 2 * (pitch - line_height) - first
        # Both middles in document pixels, y down.
        wanted = top + height * node._anchorPoint.y
        today = info.y + info.height * node._anchorPoint.y
        if abs(wanted - today) > 1:
            node._localPosition.y -= int(round(wanted - today))
        line = _line_span(info.layer)
        if line is not None:
            # The alignment point of the line box Photoshop recorded, where the position pass took the origin.
            wanted = tx + xx * (line[0] + node._anchorPoint.x * (line[1] - line[0]))
            today = int(tx)
            if abs(wanted - today) > 1:
                node._localPosition.x += int(round(wanted - today))


def _pitch(layer, lines, scale):
    """Photoshop's distance between baselines, from the first style run's leading; None for one line."""
    if lines < 2:
        return None
    try:
        engine = layer.engine_dict
        style = engine["StyleRun"]["RunArray"][0]["StyleSheet"]["StyleSheetData"]
        size = float(style["FontSize"])
        if not bool(getattr(style.get("AutoLeading", True), "value", style.get("AutoLeading", True))) \
                and "Leading" in style:
            return float(style["Leading"]) * scale
        paragraph = engine["ParagraphRun"]["RunArray"][0]["ParagraphSheet"]["Properties"]
        return float(paragraph.get("AutoLeading", 1.2)) * size * scale
    except (AttributeError, KeyError, IndexError, TypeError, ValueError):
        return None


def _line_span(layer):
    """(left, right) of the text's line box relative to its origin, as the type tool records it; None without."""
    try:
        bounds = layer._data.text_data[b"bounds"]
        left, right = float(bounds[b"Left"].value), float(bounds[b"Rght"].value)
    except (AttributeError, KeyError, TypeError, ValueError):
        return None
    return (left, right) if right > left else None
