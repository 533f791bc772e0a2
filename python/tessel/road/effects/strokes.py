"""Stroke effects: a band inside, across or outside the layer's edge, and a shape layer's own vector stroke."""

import numpy as np

from tessel.road.effects.descriptors import color


def band(effect, alpha, viewport, psd):
    """The coverage (h, w) of a stroke effect's band around a layer of ``alpha``: (within the layer, beside it).

    The band is psd-tools' (a signed distance field from the layer's coverage);
    its paint is drawn by tessel (see paints).
    """
    from psd_tools.composite.effects import draw_stroke_effect_split

    _, coverage, inside = draw_stroke_effect_split(viewport, alpha[..., None], effect.descriptor, psd)
    coverage = np.asarray(coverage, np.float32)[..., 0]
    inside = np.asarray(inside, np.float32)[..., 0]
    return inside, coverage - inside


def traced(layer, viewport, alpha):
    """The coverage a stroke effect follows: a filled shape's path with its pixels, else the pixels (``alpha``).

    A shape whose fill fades out is still stroked all round its path; a shape
    that shows only its own stroke is stroked along that stroke's pixels.
    """
    from psd_tools.composite import vector

    try:
        if layer.kind != "shape" or not layer.has_vector_mask():
            return alpha
        if layer.has_stroke() and not layer.stroke.fill_enabled:
            return alpha
        path = np.asarray(vector.draw_vector_mask(layer, tuple(viewport)), np.float32)
    except (AttributeError, KeyError, TypeError, ValueError):
        return alpha
    path = path[..., 0] if path.ndim == 3 else path
    return np.maximum(alpha, path)


def vector_stroke(layer, viewport, own_rgb, own_alpha):
    """(paint, share): what of each pixel of a shape layer is its own vector stroke, and its colour; or None.

    With a solid fill and a solid stroke of different colours, each stored
    pixel is a mix of the two, and the mix is read off its colour; otherwise
    the stroke's band is drawn along the path, as a share of the coverage,
    painted with the stored pixels.
    """
    from psd_tools.composite import vector
    from psd_tools.constants import Tag

    try:
        stroke = layer.stroke if layer.has_stroke() else None
        if stroke is None or not stroke.enabled:
            return None
        fill = layer.tagged_blocks.get_data(Tag.VECTOR_STROKE_CONTENT_DATA)
        fill = color(fill.get(b"Clr ")) if fill is not None and layer.stroke.fill_enabled else None
        pen = color(stroke.content.get(b"Clr ")) if stroke.content is not None else None
        if fill is not None and pen is not None and fill != pen:
            fill, pen = np.asarray(fill, np.float32), np.asarray(pen, np.float32)
            axis = pen - fill
            return pen, np.clip((own_rgb - fill) @ axis / float(axis @ axis), 0.0, 1.0) * (own_alpha > 0)
        coverage = np.asarray(vector.draw_stroke(layer, tuple(viewport)), np.float32)
    except (AttributeError, KeyError, TypeError, ValueError):
        return None
    coverage = coverage[..., 0] if coverage.ndim == 3 else coverage
    return own_rgb, np.clip(coverage / np.maximum(own_alpha, 1e-6), 0.0, 1.0)
