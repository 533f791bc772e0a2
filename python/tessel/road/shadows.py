"""Drop shadows and outer glows, which psd-tools does not draw, painted under a rendered layer.

Both are the layer's coverage, widened by the effect's spread, blurred over
its size, moved (a shadow) along the light's angle, and filled with the
effect's colour at its opacity.  A sprite is blended normally by the engine,
so only effects that blend so are drawn: normal ones, and multiplied ones,
which darken as normal blending does for the black that shadows almost always
are; a glow that screens or dodges the layers below it has no sprite form.
"""

import math

from PIL import Image, ImageFilter

_DRAWN_MODES = ("NORMAL", "MULTIPLY")


def _color(descriptor):
    """(r, g, b) of an effect's RGB or grey colour, or None for another colour model."""
    try:
        keys = {bytes(k).strip(): float(v) for k, v in descriptor.items()}
    except (AttributeError, TypeError, ValueError):
        return None
    if {b"Rd", b"Grn", b"Bl"} <= keys.keys():
        return tuple(int(round(min(max(keys[k], 0.0), 255.0))) for k in (b"Rd", b"Grn", b"Bl"))
    if b"Gry" in keys:
        grey = int(round(255 * (1 - min(max(keys[b"Gry"], 0.0), 100.0) / 100)))
        return (grey, grey, grey)
    return None


def _outer_effects(layer):
    """The enabled drop shadows and outer glows that a sprite can show, bottom first."""
    try:
        effects = layer.effects
        if not effects.enabled:
            return []
        found = list(effects.find("dropshadow")) + list(effects.find("outerglow"))
    except (AttributeError, KeyError, TypeError, ValueError):
        return []
    return [effect for effect in found if getattr(effect.blend_mode, "name", "") in _DRAWN_MODES]


def _spread_and_blur(coverage, size, spread, solid=0.0):
    """``coverage`` (mode "L") widened by ``spread`` percent of ``size`` and blurred over the rest.

    ``solid`` is the share of the rest that stays fully covered before the soft
    edge begins (a glow's range); the soft edge spans what is left, about 2.4
    standard deviations, which is how Photoshop's samples fall off.
    """
    grow = size * spread / 100
    grow += (size - grow) * solid
    if int(round(grow)) > 0:
        coverage = coverage.filter(ImageFilter.MaxFilter(2 * int(round(grow)) + 1))
    if size - grow > 0:
        coverage = coverage.filter(ImageFilter.GaussianBlur((size - grow) / 2.4))
    return coverage


def _shifted(coverage, dx, dy):
    moved = Image.new("L", coverage.size, 0)
    moved.paste(coverage, (dx, dy))
    return moved


def under(layer, image):
    """``image`` (the layer rendered, RGBA) with the layer's shadows and glows drawn beneath it."""
    effects = _outer_effects(layer)
    if not effects:
        return image
    shape = image.getchannel("A")
    below = Image.new("RGBA", image.size, (0, 0, 0, 0))
    for effect in effects:
        color = _color(effect.color)
        if color is None:
            continue
        try:
            size, spread = float(effect.size), float(getattr(effect, "choke", 0.0) or getattr(effect, "spread", 0.0))
            distance, angle = float(getattr(effect, "distance", 0.0)), float(getattr(effect, "angle", 0.0))
            opacity = min(max(float(effect.opacity), 0.0), 100.0) / 100
        except (TypeError, ValueError):
            continue
        if not all(math.isfinite(v) for v in (size, spread, distance, angle)):
            continue
        # A glow's range is the share of its contour that ramps up: the rest of
        # it is solid (fitted to Photoshop's rendering at the default 50%).
        ramp = min(max(float(getattr(effect, "quality_range", 100.0)), 0.0), 100.0) / 100
        coverage = _spread_and_blur(shape, max(size, 0.0), min(max(spread, 0.0), 100.0), 0.5 * (1 - ramp))
        if distance:
            # The light comes from `angle` (counter-clockwise from the right); the shadow falls away from it.
            radians = math.radians(angle)
            coverage = _shifted(coverage, int(round(-distance * math.cos(radians))),
                                int(round(distance * math.sin(radians))))
        paint = Image.new("RGBA", image.size, color + (0,))
        paint.putalpha(coverage.point(lambda v, opacity=opacity: int(round(v * opacity))))
        below = Image.alpha_composite(below, paint)
    return Image.alpha_composite(below, image)

