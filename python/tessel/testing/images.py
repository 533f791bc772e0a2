"""Pixels for the builder's layers: flat colours, vertical gradients, a layer's own image."""

from __future__ import annotations

from typing import Sequence

from PIL import Image

from tessel.testing.layers import Pixel


def solid(size: Sequence[int], color: Sequence[int]) -> Image.Image:
    """An RGBA image of ``size`` filled with ``color`` (RGB or RGBA, 0..255)."""
    color = tuple(int(c) for c in color)
    if len(color) == 3:
        color += (255,)
    return Image.new("RGBA", (int(size[0]), int(size[1])), color)


def gradient(
    size: Sequence[int], top: Sequence[int], bottom: Sequence[int]
) -> Image.Image:
    """An RGBA image fading vertically from ``top`` to ``bottom``."""
    width, height = int(size[0]), int(size[1])
    top = tuple(top) + ((255,) if len(top) == 3 else ())
    bottom = tuple(bottom) + ((255,) if len(bottom) == 3 else ())
    column = Image.new("RGBA", (1, max(height, 1)))
    span = max(height - 1, 1)
    for y in range(height):
        t = y / span
        column.putpixel(
            (0, y), tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        )
    return column.resize((width, height)) if height else Image.new("RGBA", (width, 0))


def _pixel_image(layer: Pixel) -> Image.Image:
    if layer.image is not None:
        if layer.size is not None and tuple(layer.size) != layer.image.size:
            raise ValueError(
                f"layer {layer.name!r}: size {tuple(layer.size)} differs from "
                f"its image's {layer.image.size}"
            )
        return layer.image
    if layer.size is None:
        raise ValueError(f"layer {layer.name!r} needs an image or a size")
    return solid(layer.size, layer.color)
