"""Outer and inner glows: a solid colour fading from the layer's edge, outward or inward."""

from tessel.road.effects import coverage as cov
from tessel.road.effects.descriptors import color, enum

# A glow's range is the share of its contour that ramps up; the rest of it is
# solid (fitted to Photoshop's rendering at the default 50%).
_SOLID_AT_NO_RANGE = 0.5


def _solid(effect):
    ramp = min(max(effect.number("quality_range", 50.0), 0.0), 100.0) / 100
    return _SOLID_AT_NO_RANGE * (1 - ramp)


def outer_glow(effect, alpha):
    """(colour, coverage) of an outer glow around a layer of ``alpha``; None for a gradient glow."""
    paint = color(effect.view.color)
    if paint is None:
        return None
    return paint, cov.spread_and_blur(alpha, effect.number("size"), effect.number("choke"), _solid(effect))


def inner_glow(effect, alpha):
    """(colour, coverage) of an inner glow within a layer of ``alpha``; None for a gradient glow.

    From the edge, the glow is what lies outside reaching in; from the centre,
    its complement.
    """
    paint = color(effect.view.color)
    if paint is None:
        return None
    edge = cov.spread_and_blur(1.0 - alpha, effect.number("size"), effect.number("choke"), _solid(effect),
                                fill=1.0)
    if enum(effect.key(b"glwS")) == b"SrcC":
        edge = 1.0 - edge
    return paint, edge * alpha
