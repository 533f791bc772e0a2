"""Drop shadows and inner shadows: the layer's coverage (or its inverse) spread, blurred and moved away from the light."""

from tessel.road.effects import coverage as cov
from tessel.road.effects.descriptors import color


def _params(effect):
    return (effect.number("size"), effect.number("choke"), effect.number("distance"),
            effect.number("angle", 90.0))


def drop_shadow(effect, alpha):
    """(colour, coverage) of a drop shadow under a layer of ``alpha``, or None when unreadable."""
    paint = color(effect.view.color)
    if paint is None:
        return None
    size, spread, distance, angle = _params(effect)
    shadow = cov.spread_and_blur(alpha, size, spread)
    dx, dy = cov.offset(distance, angle)
    return paint, cov.shifted(shadow, dx, dy)


def inner_shadow(effect, alpha):
    """(colour, coverage) of an inner shadow inside a layer of ``alpha``, or None when unreadable.

    The shadow is cast by what lies outside the layer: its inverse, choked,
    blurred and moved away from the light, kept within the layer.
    """
    paint = color(effect.view.color)
    if paint is None:
        return None
    size, choke, distance, angle = _params(effect)
    outside = cov.spread_and_blur(1.0 - alpha, size, choke, fill=1.0)
    dx, dy = cov.offset(distance, angle)
    # Beyond the canvas lies more outside.
    return paint, cov.shifted(outside, dx, dy, fill=1.0) * alpha
