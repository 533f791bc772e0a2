"""What an overlay or a stroke fills with: a colour, a gradient or a pattern, as (rgb, alpha) arrays on a viewport.

The gradient ramp is psd-tools' (every style, angle, scale, reverse); where it
sits is tessel's: on the layer's box when aligned with the layer, else on the
document, moved by the effect's offset.  Patterns are read here, since
psd-tools shows an indexed-colour pattern in grey.
"""

import numpy as np
from PIL import Image

from tessel.road.effects.descriptors import color, enum

_INDEXED = 2
_GREYSCALE = 1


class Unpaintable(Exception):
    """The effect fills with something tessel cannot draw; the message says what."""


def solid(descriptor_color, viewport):
    paint = color(descriptor_color)
    if paint is None:
        raise Unpaintable("a colour that is neither RGB nor grey")
    height, width = viewport[3] - viewport[1], viewport[2] - viewport[0]
    return np.broadcast_to(np.asarray(paint, np.float32), (height, width, 3)), None


def _anchor(effect, layer, document):
    aligned = effect.key(b"Algn", True)
    box = tuple(layer.bbox) if aligned and layer.bbox[2] > layer.bbox[0] else (0, 0) + tuple(document)
    shift = effect.key(b"Ofst")
    if shift is not None:
        try:
            dx = float(shift.get(b"Hrzn", 0.0)) / 100 * (box[2] - box[0])
            dy = float(shift.get(b"Vrtc", 0.0)) / 100 * (box[3] - box[1])
        except (AttributeError, TypeError, ValueError):
            dx = dy = 0.0
        box = (box[0] + round(dx), box[1] + round(dy), box[2] + round(dx), box[3] + round(dy))
    return box


def gradient(effect, layer, psd, viewport):
    """The effect's gradient on ``viewport``."""
    from psd_tools.composite import paint

    try:
        rgb, shape = paint.draw_gradient_fill(viewport, psd.color_mode, effect.descriptor,
                                              anchor=_anchor(effect, layer, psd.size))
    except (AttributeError, KeyError, TypeError, ValueError) as e:
        raise Unpaintable(f"a gradient psd-tools cannot read ({type(e).__name__})") from e
    if rgb is None or rgb.shape[-1] != 3:
        raise Unpaintable("a gradient that is not RGB")
    return rgb, None if shape is None else shape[..., 0]


def _panel(psd, descriptor):
    """The pattern the descriptor names, as (rgb, alpha or None) float arrays."""
    from psd_tools.api import numpy_io

    try:
        ident = descriptor[b"Ptrn"][b"Idnt"].value.rstrip("\x00")
    except (KeyError, AttributeError, TypeError) as e:
        raise Unpaintable("a pattern without a name") from e
    pattern = psd._get_pattern(ident)
    if not pattern:
        raise Unpaintable("a pattern the document does not hold")
    planes = numpy_io.get_pattern(pattern)
    colours = numpy_io.get_pattern_color_channels(pattern)
    alpha = planes[..., colours] if planes.shape[-1] > colours else None
    if pattern.image_mode == _INDEXED and pattern.color_table:
        table = np.asarray(pattern.color_table[:256], np.float32) / 255
        index = np.clip(np.round(planes[..., 0] * 255).astype(np.int32), 0, len(table) - 1)
        rgb = table[index]
    elif colours == 1:
        rgb = np.repeat(planes[..., :1], 3, axis=2)
    elif colours == 3:
        rgb = planes[..., :3]
    else:
        raise Unpaintable("a pattern in a colour mode other than RGB, grey or indexed")
    return rgb, alpha


def _pattern_origin(effect, layer):
    """Where a pattern's tiles start: at the layer's reference point when linked with the layer, else the document's corner."""
    from psd_tools.constants import Tag

    x = y = 0.0
    if effect.key(b"Algn", effect.key(b"Lnkd", False)):
        point = layer.tagged_blocks.get_data(Tag.REFERENCE_POINT)
        if point is not None and len(point) == 2:
            x, y = float(point[0]), float(point[1])
        else:
            x, y = layer.bbox[0], layer.bbox[1]
    phase = effect.key(b"phase")
    try:
        x += float(phase.get(b"Hrzn", 0.0))
        y += float(phase.get(b"Vrtc", 0.0))
    except (AttributeError, TypeError, ValueError):
        pass
    return int(round(x)), int(round(y))


def pattern(effect, layer, psd, viewport):
    """The effect's pattern tiled over ``viewport`` from its origin."""
    rgb, alpha = _panel(psd, effect.descriptor)
    scale = effect.number("scale", 100.0) / 100
    if abs(scale - 1) > 1e-6 and scale > 0:
        size = (max(1, round(rgb.shape[1] * scale)), max(1, round(rgb.shape[0] * scale)))
        rgb = np.stack([np.asarray(Image.fromarray(rgb[..., i]).resize(size, Image.BILINEAR)) for i in range(3)], 2)
        if alpha is not None:
            alpha = np.asarray(Image.fromarray(alpha).resize(size, Image.BILINEAR))
    box = _pattern_origin(effect, layer)
    height, width = viewport[3] - viewport[1], viewport[2] - viewport[0]
    rows = (np.arange(height) + viewport[1] - box[1]) % rgb.shape[0]
    cols = (np.arange(width) + viewport[0] - box[0]) % rgb.shape[1]
    tiled = rgb[rows[:, None], cols[None, :]]
    return tiled, None if alpha is None else alpha[rows[:, None], cols[None, :]]


def of(effect, layer, psd, viewport):
    """(rgb, alpha or None) that ``effect`` fills ``viewport`` with, by its kind or its stroke paint type."""
    kind = effect.kind
    if kind == "Stroke":
        kind = {b"SClr": "ColorOverlay", b"GrFl": "GradientOverlay", b"Ptrn": "PatternOverlay"}.get(
            enum(effect.key(b"PntT")), "ColorOverlay")
    if kind == "GradientOverlay":
        return gradient(effect, layer, psd, viewport)
    if kind == "PatternOverlay":
        return pattern(effect, layer, psd, viewport)
    return solid(effect.view.color, viewport)
