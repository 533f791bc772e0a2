"""What shadows and glows are made of: a layer's coverage grown, blurred and moved.

Coverage is a float array (h, w) in 0..1.  Growth is round (a distance
transform), as Photoshop's spread and choke are, not square.
"""

import numpy as np
from scipy import ndimage

# Photoshop's soft edge spans an effect's size in about 2.4 standard deviations
# of a Gaussian (fitted to its drop shadows).
_SIZE_PER_SIGMA = 2.4


def grow(coverage, radius):
    """``coverage`` widened by ``radius`` pixels all round, its new edge antialiased."""
    if radius <= 0 or not (coverage < 1).any() or not (coverage > 0).any():
        return coverage
    from psd_tools.composite.effects import _signed_distance

    # psd-tools' distance to the edge reads the edge's place off the coverage
    # of its antialiased pixels, as Photoshop does.
    distance = _signed_distance(np.asarray(coverage, np.float32), radius + 1.0)
    return np.maximum(coverage, np.clip(radius + 0.5 - distance, 0.0, 1.0))


def blur(coverage, radius, fill=0.0):
    """``coverage`` blurred so that its edge runs soft over ``radius`` pixels; beyond the canvas is ``fill``."""
    if radius <= 0:
        return coverage
    return ndimage.gaussian_filter(coverage, radius / _SIZE_PER_SIGMA, mode="constant", cval=fill)


def spread_and_blur(coverage, size, spread, solid=0.0, fill=0.0):
    """``coverage`` grown by ``spread`` percent of ``size`` and blurred over the rest.

    ``solid`` is the share of the rest that stays fully covered before the soft
    edge begins (a glow's range); ``fill`` is the coverage beyond the canvas.
    """
    size = max(size, 0.0)
    grown = size * min(max(spread, 0.0), 100.0) / 100
    grown += (size - grown) * solid
    return blur(grow(coverage, int(round(grown))), size - grown, fill)


def shifted(coverage, dx, dy, fill=0.0):
    """``coverage`` moved by whole pixels (dx right, dy down); what comes in is ``fill``."""
    if dx == 0 and dy == 0:
        return coverage
    height, width = coverage.shape
    moved = np.full_like(coverage, fill)
    if abs(dx) >= width or abs(dy) >= height:
        return moved
    src_y = slice(max(-dy, 0), height - max(dy, 0))
    dst_y = slice(max(dy, 0), height - max(-dy, 0))
    src_x = slice(max(-dx, 0), width - max(dx, 0))
    dst_x = slice(max(dx, 0), width - max(-dx, 0))
    moved[dst_y, dst_x] = coverage[src_y, src_x]
    return moved


def offset(distance, angle):
    """(dx, dy) in whole pixels that a shadow falls, ``distance`` away from light coming from ``angle``."""
    radians = np.radians(angle)
    return int(round(-distance * np.cos(radians))), int(round(distance * np.sin(radians)))
