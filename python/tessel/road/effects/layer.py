"""A layer's effects drawn around its rendered content, in Photoshop's order.

Bottom to top: drop shadows and outer glows beside the layer, the layer,
pattern, gradient and colour overlays, inner glows and shadows, a shape
layer's own vector stroke, stroke effects.  A sprite is blended normally by
the engine, so what is painted beside the layer (shadows, glows) can only be
drawn in modes that act as normal blending does on the dark colours shadows
are: normal and multiply.  Inside the layer every mode in tessel's blend list
is drawn, mixing with the layer's own colours.
"""

import numpy as np
from PIL import Image

from tessel.road.effects import blend, glows, paints, shadows, strokes
from tessel.road.effects.descriptors import DRAWN, OUTER, color, enabled_effects, enum

_BESIDE_MODES = ("NORMAL", "MULTIPLY")
_OVERLAYS = ("PatternOverlay", "GradientOverlay", "ColorOverlay")
_COVERAGE = {"DropShadow": shadows.drop_shadow, "OuterGlow": glows.outer_glow,
             "InnerShadow": shadows.inner_shadow, "InnerGlow": glows.inner_glow}
# The effects psd-tools does not draw at all.
_UNDRAWN_BY_PSD_TOOLS = frozenset(_COVERAGE) | {"Satin", "BevelEmboss"}


def takes_over(layer, clipped):
    """Whether tessel, not psd-tools, should draw ``layer``'s effects.

    psd-tools draws single overlays and strokes as Photoshop does; it leaves out
    shadows and glows, paints several overlays of a kind in the wrong order,
    shows indexed-colour patterns in grey, puts a shape's overlays and
    clipped layers over its own vector stroke, and strokes a shape along its path.
    """
    effects = enabled_effects(layer)
    kinds = [effect.kind for effect in effects]
    if any(kind in _UNDRAWN_BY_PSD_TOOLS for kind in kinds):
        return True
    if any(kinds.count(kind) > 1 for kind in _OVERLAYS):
        return True
    if any(effect.kind == "PatternOverlay" or effect.kind == "Stroke" and enum(effect.key(b"PntT")) == b"Ptrn"
           for effect in effects):
        return True
    overlaid = any(kind in _OVERLAYS for kind in kinds)
    # psd-tools strokes a shape along its path; Photoshop along its pixels,
    # which differ where the shape shows only its own stroke.
    return _has_vector_stroke(layer) and (overlaid or clipped or "Stroke" in kinds)


def _has_vector_stroke(layer):
    try:
        return layer.kind == "shape" and layer.has_stroke() and layer.stroke.enabled
    except (AttributeError, KeyError, TypeError, ValueError):
        return False


def why_not(effect):
    """Why tessel cannot draw ``effect``, as far as its descriptor tells, or None."""
    if effect.kind not in DRAWN:
        return "tessel does not draw this effect"
    if effect.mode not in blend.MODES:
        return f"blend mode {effect.mode.lower()}"
    if effect.kind in OUTER and effect.mode not in _BESIDE_MODES:
        return f"a sprite cannot {effect.mode.lower()} onto what lies below it"
    if effect.kind in _COVERAGE and color(getattr(effect.view, "color", None)) is None:
        return "a gradient, or a colour that is neither RGB nor grey"
    return None


def undrawn(layer, clipped):
    """One warning line for each effect of ``layer`` that its image will not show."""
    if not takes_over(layer, clipped):
        return []
    return [_line(layer, effect, why) for effect in enabled_effects(layer)
            for why in [why_not(effect)] if why is not None]


def _line(layer, effect, why):
    return f"layer {str(layer.name)!r}: its {effect.name} is not drawn ({why})"


def _arrays(image):
    data = np.asarray(image.convert("RGBA"), np.float32) / 255
    return data[..., :3], data[..., 3]


def _image(rgb, alpha):
    data = np.concatenate([rgb, alpha[..., None]], axis=2)
    return Image.fromarray(np.clip(np.round(data * 255), 0, 255).astype(np.uint8), "RGBA")


def _paint_of(effect, layer, viewport):
    """(rgb, coverage) an overlay or stroke paints with, its opacity and the paint's own alpha in the coverage."""
    rgb, alpha = paints.of(effect, layer, layer._psd, viewport)
    weight = effect.opacity if alpha is None else alpha * effect.opacity
    return rgb, weight


def draw(layer, content, own, viewport, clipped):
    """``content`` (the layer rendered without effects, RGBA on ``viewport``) with the effects drawn.

    ``own`` is the layer rendered alone, without its clipped layers: its
    coverage is what effects trace.  Returns (image, warnings): one line per
    effect not drawn.
    """
    rgb, alpha = _arrays(content)
    own = _arrays(own)
    shape = own[1]
    warnings = []
    below_rgb, below_alpha = np.zeros_like(rgb), np.zeros_like(alpha)
    vector_done = False
    traced = None
    effects = enabled_effects(layer)
    # The shape's own stroke is drawn again only where something now covers it.
    covered = clipped or any(effect.kind in _OVERLAYS or effect.kind in ("InnerGlow", "InnerShadow")
                             for effect in effects)

    def skip(effect, why):
        warnings.append(_line(layer, effect, why))

    for effect in effects:
        why = why_not(effect)
        if why is not None:
            skip(effect, why)
            continue
        if effect.kind == "Stroke" and not vector_done:
            rgb, alpha = _vector_stroke(layer, viewport, rgb, alpha, covered, own)
            vector_done = True
        try:
            if effect.kind in _COVERAGE:
                found = _COVERAGE[effect.kind](effect, shape)
                if found is None:
                    skip(effect, "a colour that is neither RGB nor grey, or a gradient")
                    continue
                paint, coverage = np.asarray(found[0], np.float32), found[1] * effect.opacity
            elif effect.kind == "Stroke":
                paint, weight = _paint_of(effect, layer, viewport)
                if traced is None:
                    traced = strokes.traced(layer, viewport, shape)
                within, beside = strokes.band(effect, traced, viewport, layer._psd)
                coverage = (within * weight, beside * weight)
            else:
                paint, coverage = _paint_of(effect, layer, viewport)
                coverage = np.broadcast_to(coverage, alpha.shape)
        except paints.Unpaintable as e:
            skip(effect, str(e))
            continue
        except (ImportError, MemoryError):
            raise
        except Exception as e:  # noqa: BLE001 - one effect psd-tools cannot read is one warning
            skip(effect, f"unreadable: {type(e).__name__}")
            continue
        if effect.kind in OUTER:
            # Multiply darkens the shadow's black as normal blending does.
            below_rgb, below_alpha = blend.over(below_rgb, below_alpha, paint, coverage)
        elif effect.kind == "Stroke":
            # Within the layer the band paints over it, as a share of its
            # coverage; beside it, the band lies under its soft edge.
            share = np.clip(coverage[0] / np.maximum(alpha, 1e-6), 0.0, 1.0)
            rgb, alpha = blend.paint_inside(rgb, alpha, paint, share, effect.mode)
            rgb, alpha = blend.beside(rgb, alpha, paint, coverage[1])
        else:
            rgb, alpha = blend.paint_inside(rgb, alpha, paint, coverage, effect.mode)
    if not vector_done:
        rgb, alpha = _vector_stroke(layer, viewport, rgb, alpha, covered, own)
    if below_alpha.any():
        rgb, alpha = blend.over(below_rgb, below_alpha, rgb, alpha)
    return _image(rgb, alpha), warnings


def _vector_stroke(layer, viewport, rgb, alpha, covered, own):
    # Photoshop keeps a shape's own stroke above its overlays and clipped
    # layers.  Its pixels are the ones Photoshop stored: where the stroke's
    # band lies, they take the place of what covered them.
    if not covered or not _has_vector_stroke(layer):
        return rgb, alpha
    own_rgb, own_alpha = own
    found = strokes.vector_stroke(layer, viewport, own_rgb, own_alpha)
    if found is None:
        return rgb, alpha
    return blend.paint_inside(rgb, alpha, found[0], found[1], "NORMAL")
