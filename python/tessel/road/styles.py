"""A layer rendered as Photoshop shows it: layer style effects, masks and the layers clipped to it.

psd-tools renders the layer (``Layer.composite``), its masks and clipped
layers, and the single overlays and strokes it draws as Photoshop does; it
draws vector strokes and gradients only with its optional composite packages,
which ``tessel[styles]`` brings in.  Where psd-tools leaves effects out or
draws them otherwise (shadows, glows, several overlays of a kind, patterns),
it renders the layer without effects and tessel.road.effects draws them all.
"""

import importlib.util
import math

from tessel import log
from tessel.errors import DocumentError
from tessel.road.effects import layer as effects

#: The packages psd-tools' composite extra adds, by import name.
EXTRAS = ("aggdraw", "scipy")
INSTALL = "pip install 'tessel[styles]'"

#: A layer name that keeps a layer, and all below it, out of the export.
NOT_EXPORT = "NotExport"

# Photoshop's widest stroke and glow are 250 px; a document can still state
# more, and a canvas grown by that much for every layer would be pure waste.
_MAX_REACH = 512


class StylesUnavailable(DocumentError):
    """psd-tools' composite packages are missing; the message says what to install."""


def require():
    """Raise :class:`StylesUnavailable` unless psd-tools can render effects here."""
    missing = [name for name in EXTRAS if importlib.util.find_spec(name) is None]
    if missing:
        raise StylesUnavailable(f"--styles needs psd-tools' composite packages ({', '.join(missing)} missing): "
                                f"{INSTALL}")


def exported_name(layer):
    """Whether ``layer``'s name lets it into the export."""
    return not str(layer.name).startswith(NOT_EXPORT)


def changes_pixels(layer):
    """Whether Photoshop shows ``layer`` other than its stored pixels (opacity aside).

    Effects, a layer or vector mask, fill opacity and clipped layers all do; a
    layer with none of them renders to exactly its stored pixels.
    """
    return (layer.has_effects() or layer.has_mask() or layer.has_vector_mask() or layer.fill_opacity != 255
            or any(clipped.is_visible() and exported_name(clipped) for clipped in layer.clip_layers))


def reach(layer):
    """How far, in pixels, ``layer``'s effects and vector stroke may paint beyond its box."""
    total = 0.0
    try:
        for effect in layer.effects:
            if effect.enabled:
                total += abs(getattr(effect, "size", 0.0) or 0.0) + abs(getattr(effect, "distance", 0.0) or 0.0)
        stroke = layer.stroke if layer.has_stroke() else None
        if stroke is not None and stroke.enabled:
            total += abs(stroke.line_width or 0.0)
    except (AttributeError, KeyError, TypeError, ValueError):
        # An effect psd-tools cannot read is one it does not draw either.
        pass
    if not math.isfinite(total) or total <= 0:
        return 0
    # Half as much again: a spread grows square corners by up to 1.41 times its
    # width, and the soft edge of a blur runs on past its nominal size.  What
    # the canvas holds in excess is cropped away again.
    return min(math.ceil(total * 1.5) + 1, _MAX_REACH)


_UNFADED = {}


class _NoEffects:
    """What a layer without effects answers psd-tools about its effects."""

    enabled = False
    items = []
    scale = 100.0

    def find(self, name, enabled=True):
        return iter(())

    def __iter__(self):
        return iter(())

    def __len__(self):
        return 0


def _unfaded_class(cls, bare):
    # The node carries the layer's opacity; its image must not carry it too.
    # A copy of the layer reads everything from the same record, except its
    # opacity, and its clipped layers, which psd-tools finds by the layer's own
    # place among its siblings, where the copy is not.  A bare copy shows no
    # effects either: tessel draws them.
    if (cls, bare) not in _UNFADED:
        members = {
            "__module__": __name__,
            "opacity": property(lambda self: 255),
            "clip_layers": property(lambda self: self._shown.clip_layers),
        }
        if bare:
            members.update(effects=property(lambda self: _NoEffects()), has_effects=lambda self: False)
        _UNFADED[(cls, bare)] = type(cls.__name__, (cls,), members)
    return _UNFADED[(cls, bare)]


def unfaded(layer, bare=False):
    """A stand-in for ``layer`` that psd-tools composites at full opacity (and, ``bare``, without effects)."""
    cls = _unfaded_class(type(layer), bare)
    copy = cls.__new__(cls)
    copy.__dict__.update(layer.__dict__)
    copy._shown = layer
    return copy


def render(layer, viewport, clipped=True):
    """``layer`` as Photoshop shows it inside ``viewport`` (left, top, right, bottom), at full opacity.

    Without a viewport, psd-tools draws on the layer's box, or on the whole
    document for a layer without one.

    With ``clipped`` the visible, exported layers clipped to it are merged in.
    Returns an RGBA image of the viewport's size, or None for an empty viewport.
    """
    clips = clipped and any(_kept(candidate) for candidate in layer.clip_layers)
    if not effects.takes_over(layer, clips):
        return _composite(unfaded(layer), viewport, clipped)
    if viewport is None:
        viewport = (0, 0) + tuple(layer._psd.size)
    content = _composite(unfaded(layer, bare=True), viewport, clipped)
    if content is None:
        return None
    alone = _composite(unfaded(layer, bare=True), viewport, False) if clips else content
    image, warnings = effects.draw(layer, content, alone, tuple(viewport), clips)
    for line in warnings:
        log.d(line)
    return image


def undrawn_effects(layer):
    """One warning line for each effect of ``layer`` that :func:`render` will not draw."""
    return effects.undrawn(layer, any(_kept(candidate) for candidate in layer.clip_layers))


def _kept(candidate):
    return candidate.is_visible() and exported_name(candidate)


def styled_group(group):
    """Whether Photoshop draws effects on ``group`` or clips layers to it (which a group's node cannot show)."""
    try:
        drawn = group.effects.enabled and any(effect.enabled for effect in group.effects)
    except (AttributeError, KeyError, TypeError, ValueError):
        drawn = False
    return drawn or any(_kept(candidate) for candidate in group.clip_layers)


def _within(candidate, group):
    up = getattr(candidate, "parent", None)
    while up is not None:
        if up is group:
            return True
        if not up.is_visible() or not exported_name(up):
            return False
        up = getattr(up, "parent", None)
    return False


def _composite(copy, viewport, clipped):
    def keep(candidate):
        if candidate is copy:
            return True
        # A group's own layers, and the layers clipped to it.
        return _kept(candidate) and (clipped or _within(candidate, copy._shown))

    try:
        image = copy.composite(viewport=viewport and tuple(viewport), color=1.0, alpha=0.0, layer_filter=keep)
    except ImportError as e:
        raise StylesUnavailable(f"cannot render this layer without psd-tools' composite packages: {INSTALL}",
                                copy._shown) from e
    if image is None:
        return None
    return image if image.mode == "RGBA" else image.convert("RGBA")


def painted_box(image, origin):
    """The box, in document pixels, of the pixels of ``image`` (placed at ``origin``) that are not transparent."""
    box = image.getchannel("A").getbbox()
    if box is None:
        return None
    x, y = origin
    return (box[0] + x, box[1] + y, box[2] + x, box[3] + y)


def union(a, b):
    """The smallest box holding boxes ``a`` and ``b`` (either may be None)."""
    if a is None:
        return b
    if b is None:
        return a
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def intersection(a, b):
    """The box both boxes ``a`` and ``b`` cover (empty boxes come out with right <= left or bottom <= top)."""
    return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))
