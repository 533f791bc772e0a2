"""Whether every sprite of an export shows its own layer's pixels, not another layer's."""

from __future__ import annotations

from PIL import Image


def expected_image(layer):
    """The image the export must write for a psd-tools pixel layer: its pixels, nine-slice cropped
    when its name carries borders; None for a layer without pixels."""
    from tessel import layerkit

    image = layer.topil()
    if image is None:
        return None
    params = layerkit.getScale9Params(str(layer.name))
    if params:
        image = layerkit.crop2Scale9Image(image, params)
    return image


def same_pixels(a: Image.Image, b: Image.Image) -> bool:
    """Equal size and equal RGBA values (the export writes modes PNG cannot hold as RGBA)."""
    return a.size == b.size and a.convert("RGBA").tobytes() == b.convert("RGBA").tobytes()


def wrong_sprites(placements, frames: dict, unreadable: bool = True):
    """Yield (placement, reason) for every pixel layer whose node shows other pixels than the layer's own.

    ``placements`` pair each exported layer with its node (see tessel.see.check);
    ``frames`` map sprite-frame UUIDs to the export's PNGs.  ``unreadable``:
    also yield sprites whose frame or PNG cannot be found or read.
    """
    for p in placements:
        if p.kind != "pixel" or p.node is None:
            continue
        expected = expected_image(p.layer)
        sprite = p.node.sprite
        if sprite is None:
            if expected is not None:
                yield p, "the layer has pixels but its node no sprite"
            continue
        if expected is None:
            yield p, "a sprite for a layer without pixels"
            continue
        ref = sprite.get("_spriteFrame") or {}
        uuid = ref.get("__uuid__") if isinstance(ref, dict) else None
        frame = frames.get(uuid)
        if frame is None:
            if unreadable:
                yield p, f"no meta file holds the sprite frame {uuid}"
            continue
        try:
            with Image.open(frame.png) as png:
                if same_pixels(png, expected):
                    continue
        except OSError as e:
            if unreadable:
                yield p, f"cannot read {frame.png} ({e})"
            continue
        yield p, f"its sprite shows {frame.png.name}, which is not this layer's image"


def sprite_problems(placements, frames: dict) -> list:
    """One line per sprite that shows other pixels than its layer's (frames that cannot be found or
    read are left out: the renderer reports those)."""
    return [f"{p.path}: {reason}" for p, reason in wrong_sprites(placements, frames, unreadable=False)]
