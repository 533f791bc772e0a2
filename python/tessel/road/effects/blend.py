"""Photoshop's blend modes on float colour arrays (0..1), and painting an effect with one.

Colours are straight (not premultiplied) RGB arrays of shape (h, w, 3) or
one colour of shape (3,); coverage and alpha are (h, w).
"""

import numpy as np


def _soft_light(b, s):
    d = np.where(b <= 0.25, ((16 * b - 12) * b + 4) * b, np.sqrt(b))
    return np.where(s <= 0.5, b - (1 - 2 * s) * b * (1 - b), b + (2 * s - 1) * (d - b))


def _hard_light(b, s):
    return np.where(s <= 0.5, b * 2 * s, 1 - (1 - b) * (1 - (2 * s - 1)))


_SEPARABLE = {
    "NORMAL": lambda b, s: s,
    "MULTIPLY": lambda b, s: b * s,
    "SCREEN": lambda b, s: b + s - b * s,
    "OVERLAY": lambda b, s: _hard_light(s, b),
    "DARKEN": np.minimum,
    "LIGHTEN": np.maximum,
    "COLOR_DODGE": lambda b, s: np.where(b <= 0, 0.0, np.minimum(1.0, b / np.maximum(1 - s, 1e-6))),
    "COLOR_BURN": lambda b, s: np.where(b >= 1, 1.0, 1 - np.minimum(1.0, (1 - b) / np.maximum(s, 1e-6))),
    "LINEAR_DODGE": lambda b, s: np.minimum(b + s, 1.0),
    "LINEAR_BURN": lambda b, s: np.maximum(b + s - 1, 0.0),
    "HARD_LIGHT": _hard_light,
    "SOFT_LIGHT": _soft_light,
    "DIFFERENCE": lambda b, s: np.abs(b - s),
    "EXCLUSION": lambda b, s: b + s - 2 * b * s,
}

#: The modes an effect can be drawn with.
MODES = frozenset(_SEPARABLE)


def mix(mode, backdrop, source):
    """``source`` blended onto ``backdrop`` by ``mode`` (full coverage, colour only)."""
    return _SEPARABLE[mode](backdrop, source)


def paint_inside(rgb, alpha, paint, coverage, mode):
    """Paint ``paint`` over the layer ``rgb`` where it has ``alpha``, ``coverage`` of the way.

    An effect inside the layer (an overlay, an inner shadow or glow) keeps to
    its pixels and leaves its alpha as it was.
    """
    paint = np.broadcast_to(paint, rgb.shape)
    mixed = mix(mode, rgb, paint)
    cover = coverage[..., None]
    return rgb * (1 - cover) + mixed * cover, alpha


def over(rgb, alpha, paint, coverage):
    """``paint`` with alpha ``coverage`` laid over (rgb, alpha), Porter-Duff over."""
    paint = np.broadcast_to(paint, rgb.shape)
    out_alpha = coverage + alpha * (1 - coverage)
    weight_top = coverage[..., None]
    weight_bottom = (alpha * (1 - coverage))[..., None]
    total = np.maximum(out_alpha[..., None], 1e-12)
    out_rgb = (paint * weight_top + rgb * weight_bottom) / total
    return np.where(out_alpha[..., None] > 0, out_rgb, 0.0), out_alpha


def beside(rgb, alpha, paint, coverage):
    """``paint`` with alpha ``coverage`` laid beside the layer: the two cover disjoint parts of a pixel."""
    paint = np.broadcast_to(paint, rgb.shape)
    coverage = np.minimum(coverage, 1 - alpha)
    out_alpha = alpha + coverage
    total = np.maximum(out_alpha[..., None], 1e-12)
    out_rgb = (rgb * alpha[..., None] + paint * coverage[..., None]) / total
    return np.where(out_alpha[..., None] > 0, out_rgb, 0.0), out_alpha
