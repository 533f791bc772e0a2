"""Pixel comparison of a rendering with its reference: the differing share, a mask, a side-by-side sheet."""

from __future__ import annotations

from typing import Optional

from PIL import Image, ImageChops, ImageDraw

from tessel.see.labels import default_font


def _flatten(image: Image.Image, size: tuple) -> Image.Image:
    base = Image.new("RGBA", size, (255, 255, 255, 255))
    if image.size != size:
        padded = Image.new("RGBA", size, (0, 0, 0, 0))
        padded.paste(image, (0, 0))
        image = padded
    return Image.alpha_composite(base, image).convert("RGB")


def difference(expected: Image.Image, actual: Image.Image, tolerance: int) -> tuple:
    """Compare two RGBA images flattened on white.

    Returns the share of pixels whose largest channel difference exceeds
    ``tolerance`` and a mask (mode "L", 255 where they differ).
    """
    size = (max(expected.width, actual.width), max(expected.height, actual.height))
    a, b = _flatten(expected, size), _flatten(actual, size)
    channels = ImageChops.difference(a, b).split()
    largest = channels[0]
    for channel in channels[1:]:
        largest = ImageChops.lighter(largest, channel)
    mask = largest.point(lambda v: 255 if v > tolerance else 0)
    total = size[0] * size[1]
    differing = mask.histogram()[255]
    return (differing / total if total else 0.0), mask


def side_by_side(expected: Optional[Image.Image], actual: Image.Image, mask: Optional[Image.Image]) -> Image.Image:
    """The PSD, the preview and the difference view (the PSD faded, differing pixels red) in a row.

    Without a composite of the PSD its two panels stay grey.
    """
    w, h = actual.size
    # Tiny documents grow in whole steps so that the panels stay readable.
    scale = max(1, 256 // max(w, h, 1))
    if scale > 1:
        w, h = w * scale, h * scale
        expected, actual, mask = (None if image is None else image.resize((w, h), Image.Resampling.NEAREST)
                                  for image in (expected, actual, mask))
    caption = 16
    gap = 8
    sheet = Image.new("RGB", (3 * w + 2 * gap, h + caption), (64, 64, 64))
    panels = [("PSD", None), ("preview", _flatten(actual, (w, h))), ("difference", None)]
    if expected is not None:
        psd = _flatten(expected, (w, h))
        faded = Image.blend(psd, Image.new("RGB", (w, h), (255, 255, 255)), 0.75)
        faded.paste((230, 0, 0), (0, 0), mask)
        panels[0], panels[2] = ("PSD", psd), ("difference", faded)
    draw = ImageDraw.Draw(sheet)
    font = default_font(12)
    for i, (title, image) in enumerate(panels):
        x = i * (w + gap)
        if image is None:
            draw.rectangle((x, caption, x + w - 1, caption + h - 1), fill=(128, 128, 128))
            title += " (not composited)"
        else:
            sheet.paste(image, (x, caption))
        draw.text((x + 2, 1), title, font=font, fill=(255, 255, 255))
    return sheet
