"""A text layer's stroke and drop shadow as the engine's label components, cc.LabelOutline and cc.LabelShadow.

The engine strokes the glyph outlines with a line centred on the edge that
reaches ``_width`` pixels outside the glyphs, and draws a canvas shadow of
the text offset by ``_offset`` (y up) and blurred by ``_blur``.  An inside or
centre stroke is carried as an outline of the same size, since the engine's
outline always reaches outward.  What the components cannot show (a gradient
or pattern stroke, a second stroke or shadow, the other effects) is named in
one warning line per layer.
"""

import math

from tessel.errors import layer_label
from tessel.road.effects.descriptors import color as _fraction
from tessel.road.textlook import hundredths
from tessel.widgets.objects import Widget, _keys, color


class CCLabelOutline(Widget):
    """cc.LabelOutline: an outline around each glyph of its node's label."""

    cctype = "cc.LabelOutline"
    KEYS = _keys("_color", "_width")

    def __init__(self, layer=None):
        super().__init__()
        if layer is not None:
            self.layer = layer
        self._color = color(0, 0, 0)
        self._width = 1


class CCLabelShadow(Widget):
    """cc.LabelShadow: the label's text drawn again beneath it, offset and blurred."""

    cctype = "cc.LabelShadow"
    KEYS = _keys("_color", "_offset", "_blur")

    def __init__(self, layer=None):
        from tessel import nodeweave

        super().__init__()
        if layer is not None:
            self.layer = layer
        self._color = color(0, 0, 0)
        self._offset = nodeweave.CCVec2(2, 2)
        self._blur = 2



def _rgba(effect):
    rgb = _fraction(effect.color)
    if rgb is None:
        return None
    rgb = tuple(int(round(255 * c)) for c in rgb)
    alpha = int(round(255 * min(max(float(effect.opacity), 0.0), 100.0) / 100))
    return color(*rgb, alpha)


def outline(layer, effect):
    """The cc.LabelOutline of a solid-colour stroke, or None when its colour has no RGB form."""
    rgba = _rgba(effect)
    if rgba is None:
        return None
    component = CCLabelOutline(layer)
    component._color = rgba
    component._width = hundredths(effect.size)
    return component


def shadow(layer, effect):
    """The cc.LabelShadow of a drop shadow: the light's angle and distance as an offset with y up."""
    rgba = _rgba(effect)
    if rgba is None:
        return None
    from tessel import nodeweave

    angle, distance = math.radians(float(effect.angle)), float(effect.distance)
    component = CCLabelShadow(layer)
    component._color = rgba
    component._offset = nodeweave.CCVec2(hundredths(-math.cos(angle) * distance), hundredths(-math.sin(angle) * distance))
    component._blur = hundredths(effect.size)
    return component


def _effects(layer):
    """The shown effects of a psd-tools layer, in the file's order."""
    try:
        effects = layer.effects
        if not effects.enabled:
            return []
        return [effect for effect in effects if effect.enabled]
    except (AttributeError, KeyError, TypeError, ValueError):
        return []


def components(info):
    """(components, what was left out) for the text layer-info ``info``."""
    made, left = [], []
    strokes = shadows = 0
    for effect in _effects(info.layer):
        name = type(effect).__name__
        component = None
        if name == "Stroke":
            strokes += 1
            fill = getattr(getattr(effect, "fill_type", None), "name", "")
            if strokes > 1:
                left.append("a second stroke")
                continue
            if fill != "SOLID_COLOR":
                left.append(f"a {fill.lower().replace('_', ' ') or 'non-solid'} stroke")
                continue
            component = outline(info, effect)
        elif name == "DropShadow":
            shadows += 1
            if shadows > 1:
                left.append("a second drop shadow")
                continue
            component = shadow(info, effect)
            mode = getattr(getattr(effect, "blend_mode", None), "name", "NORMAL")
            if mode not in ("NORMAL", "MULTIPLY"):
                left.append(f"the drop shadow's {mode.lower().replace('_', ' ')} blending (drawn normally)")
            if float(getattr(effect, "choke", 0) or 0) > 0:
                left.append("the drop shadow's spread")
        else:
            left.append(_spaced(name).lower())
            continue
        if component is None:
            left.append(f"the {_spaced(name).lower()} (its colour is not RGB)")
        else:
            made.append(component)
    return made, left


def _spaced(name):
    return "".join(f" {ch}" if ch.isupper() and i else ch for i, ch in enumerate(name))


def text_layers(group, prefix=""):
    """(path, layer-info) of every text layer below ``group``, in document order."""
    from tessel import infos

    for child in group:
        path = f"{prefix}/{layer_label(child)}" if prefix else layer_label(child)
        if isinstance(child, infos.YGroup):
            yield from text_layers(child, path)
        elif isinstance(child, infos.YTextLayer):
            yield path, child


def add_components(psd):
    """Put the outline and shadow components on the label nodes of ``psd``; returns the warning lines.

    Each goes right after its label, in the layer's own list and in the
    document's object list, so the id pass wires it to the label's node.
    """
    from tessel import nodeweave

    warnings = []
    for path, info in text_layers(psd):
        made, left = components(info)
        if left:
            warnings.append(f"{path}: text effects left out (the label cannot show them): "
                            + ", ".join(left))
        if not made:
            continue
        label = next(obj for obj in info.infolist if isinstance(obj, nodeweave.CCLabel))
        for objects in (info.infolist, psd.totalInfo):
            at = objects.index(label) + 1
            objects[at:at] = made
    return warnings
