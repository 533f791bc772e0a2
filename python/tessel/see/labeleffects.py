"""A label's cc.LabelOutline and cc.LabelShadow drawn as the engine draws them.

The engine strokes each glyph with a line of twice the outline's width centred
on the glyph's edge, fills the glyph over it, and draws the whole again as a
canvas shadow beneath: moved by the offset (y up in the prefab, so down on the
canvas is ``-y``) and blurred by a Gaussian of half the blur, as canvases do.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

from PIL import Image, ImageFilter


def _rgba(value, opacity: float) -> tuple:
    value = value if isinstance(value, dict) else {}
    r, g, b, a = (int(value.get(k, d)) for k, d in (("r", 0), ("g", 0), ("b", 0), ("a", 255)))
    return (r, g, b, int(round(a * opacity)))


@dataclass
class LabelEffects:
    """The outline and shadow of one label node, or their absence."""

    outline_width: int = 0
    outline_color: tuple = (0, 0, 0, 0)
    shadow: Optional[tuple] = None  #: (dx, dy) on the canvas, y down
    shadow_blur: float = 0.0
    shadow_color: tuple = (0, 0, 0, 0)

    @classmethod
    def of(cls, node) -> "LabelEffects":
        found = cls()
        parts = getattr(node, "parts", None) or {}
        outline = parts.get("cc.LabelOutline")
        if outline is not None:
            found.outline_width = max(0, int(round(float(outline.get("_width", 1) or 0))))
            found.outline_color = _rgba(outline.get("_color"), node.opacity)
        shadow = parts.get("cc.LabelShadow")
        if shadow is not None:
            offset = shadow.get("_offset") if isinstance(shadow.get("_offset"), dict) else {}
            found.shadow = (float(offset.get("x", 2)), -float(offset.get("y", 2)))
            found.shadow_blur = max(0.0, float(shadow.get("_blur", 2) or 0))
            found.shadow_color = _rgba(shadow.get("_color"), node.opacity)
        return found

    @property
    def margin(self) -> int:
        """Pixels the effects may reach beyond the label's box."""
        reach = self.outline_width
        if self.shadow is not None:
            reach += int(max(abs(self.shadow[0]), abs(self.shadow[1])) + 2 * self.shadow_blur + 1)
        return reach

    def text_options(self) -> dict:
        """Keyword arguments of ImageDraw.text that draw the outline."""
        if not self.outline_width:
            return {}
        return {"stroke_width": self.outline_width, "stroke_fill": self.outline_color}

    def under(self, drawn: Image.Image) -> Image.Image:
        """``drawn`` (the label's text with its outline, RGBA) with its shadow beneath."""
        if self.shadow is None:
            return drawn
        alpha = drawn.getchannel("A").point(lambda a: a * self.shadow_color[3] // 255)
        if self.shadow_blur:
            alpha = alpha.filter(ImageFilter.GaussianBlur(self.shadow_blur / 2))
        moved = Image.new("L", drawn.size, 0)
        moved.paste(alpha, (int(round(self.shadow[0])), int(round(self.shadow[1]))))
        shade = Image.new("RGBA", drawn.size, self.shadow_color[:3] + (0,))
        shade.putalpha(moved)
        return Image.alpha_composite(shade, drawn)
