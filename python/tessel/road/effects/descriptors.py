"""Which effects a layer shows, read from its effect descriptors, in the order Photoshop paints them.

psd-tools lists the effects of both the single keys and the keys that hold
several of a kind (up to ten strokes, overlays and shadows); within one of
those lists the first entry is the one on top.
"""

import math
from dataclasses import dataclass

#: The effects tessel draws, by psd-tools' class name, bottom first, with the
#: words a warning names them by.
ORDER = (
    ("DropShadow", "drop shadow"),
    ("OuterGlow", "outer glow"),
    ("PatternOverlay", "pattern overlay"),
    ("GradientOverlay", "gradient overlay"),
    ("ColorOverlay", "colour overlay"),
    ("InnerGlow", "inner glow"),
    ("InnerShadow", "inner shadow"),
    ("Stroke", "stroke"),
)
DRAWN = dict(ORDER)
#: Effects tessel reads but does not draw.
UNDRAWN = {"Satin": "satin", "BevelEmboss": "bevel and emboss"}

#: Effects painted beside the layer rather than over it.
OUTER = ("DropShadow", "OuterGlow")


@dataclass
class Effect:
    """One enabled effect: its psd-tools class name and psd-tools' view of it."""

    kind: str
    view: object

    @property
    def name(self):
        return DRAWN.get(self.kind) or UNDRAWN.get(self.kind) or self.kind

    @property
    def descriptor(self):
        return self.view.descriptor

    def number(self, attribute, default=0.0):
        """A numeric property of the effect, ``default`` when absent or not finite."""
        try:
            value = float(getattr(self.view, attribute))
        except (AttributeError, KeyError, TypeError, ValueError):
            return default
        return value if math.isfinite(value) else default

    def key(self, key, default=None):
        """A raw descriptor value (bytes key, padded as Photoshop writes it)."""
        try:
            return self.descriptor.get(key, default)
        except (AttributeError, TypeError):
            return default

    @property
    def opacity(self):
        return min(max(self.number("opacity", 100.0), 0.0), 100.0) / 100

    @property
    def mode(self):
        return getattr(getattr(self.view, "blend_mode", None), "name", "NORMAL")


def enabled_effects(layer):
    """The layer's enabled effects, in the order Photoshop paints them (bottom first).

    Effects tessel does not draw come last; an unreadable effect block gives none.
    """
    try:
        effects = layer.effects
        if not effects.enabled:
            return []
        listed = [item for item in effects.items if getattr(item, "enabled", False)]
    except (AttributeError, KeyError, TypeError, ValueError):
        return []
    found = []
    for kind, _ in ORDER:
        # The first of a kind is drawn on top, so it is painted last.
        found += [Effect(kind, item) for item in reversed(listed) if type(item).__name__ == kind]
    found += [Effect(type(item).__name__, item) for item in listed if type(item).__name__ not in DRAWN]
    return found


def color(descriptor):
    """(r, g, b) in 0..1 of an RGB or grey colour descriptor, or None for another colour model."""
    try:
        keys = {bytes(k).strip(): float(v) for k, v in descriptor.items()}
    except (AttributeError, TypeError, ValueError):
        return None
    if {b"Rd", b"Grn", b"Bl"} <= keys.keys():
        return tuple(min(max(keys[k], 0.0), 255.0) / 255 for k in (b"Rd", b"Grn", b"Bl"))
    if b"Gry" in keys:
        grey = 1 - min(max(keys[b"Gry"], 0.0), 100.0) / 100
        return (grey, grey, grey)
    return None


def enum(value):
    """The enum bytes of a descriptor value, or b""."""
    return getattr(value, "enum", b"") or b""
