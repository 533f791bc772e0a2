"""Writes a described document through psd-tools' own writer."""

from __future__ import annotations

import io
import os
from typing import Any, Sequence, Union

from PIL import Image
from psd_tools import PSDImage
from psd_tools.api.layers import Group as _PsdGroup
from psd_tools.api.layers import PixelLayer as _PsdPixelLayer
from psd_tools.constants import Compression, Tag
from psd_tools.psd.tagged_blocks import TaggedBlock

from tessel.testing.images import _pixel_image
from tessel.testing.layers import Doc, Group, Layer, Pixel, Text
from tessel.testing.textenginedata import _box, _type_tool_block


_COMPRESSION = {"rle": Compression.RLE, "zip": Compression.ZIP}


class _Writer:
    def __init__(self, doc: Doc) -> None:
        self.psd = PSDImage.new(
            "RGBA", (int(doc.width), int(doc.height)), compression=Compression.RLE
        )
        self.next_id = 2
        if doc.compression not in _COMPRESSION:
            raise ValueError(f"compression is 'rle' or 'zip', not {doc.compression!r}")
        self.compression = _COMPRESSION[doc.compression]
        self.add_all(self.psd, doc.layers)

    def add_all(self, parent: Any, layers: Sequence[Layer]) -> None:
        for layer in layers:
            if isinstance(layer, Group):
                self.add_group(parent, layer)
            elif isinstance(layer, Pixel):
                made = self.add_pixels(parent, layer, _pixel_image(layer), layer.left, layer.top)
                made.clipping = layer.clipping
                if layer.mask is not None:
                    made.create_mask(layer.mask)
            elif isinstance(layer, Text):
                self.add_text(parent, layer)
            else:
                raise TypeError(f"not a layer description: {layer!r}")

    def finish(self, made: Any, layer: Layer) -> None:
        made.name = layer.name
        made.visible = layer.visible
        made.opacity = int(layer.opacity)
        made._record.tagged_blocks.set_data(Tag.LAYER_ID, self.next_id)
        self.next_id += 1

    def add_group(self, parent: Any, layer: Group) -> None:
        made = _PsdGroup.new(parent, name="Group", open_folder=layer.open)
        self.finish(made, layer)
        self.add_all(made, layer.layers)

    def add_pixels(self, parent: Any, layer: Layer, image: Image.Image, left: int, top: int) -> Any:
        made = _PsdPixelLayer.frompil(
            image, parent, name="Layer", top=int(top), left=int(left),
            compression=self.compression,
        )
        self.finish(made, layer)
        return made

    def add_text(self, parent: Any, layer: Text) -> None:
        width, height = _box(layer)
        image = layer.image
        if image is None:
            image = Image.new("RGBA", (width, height), (0, 0, 0, 0))
        elif image.size != (width, height):
            raise ValueError(
                f"text layer {layer.name!r}: image size {image.size} differs "
                f"from its box {(width, height)}"
            )
        made = self.add_pixels(parent, layer, image, layer.left, layer.top)
        # A layer record carrying this block is what readers take for a
        # type layer; the pixels stay as the rendered preview.
        made._record.tagged_blocks[Tag.TYPE_TOOL_OBJECT_SETTING] = TaggedBlock(
            key=Tag.TYPE_TOOL_OBJECT_SETTING, data=_type_tool_block(layer)
        )


def psd_bytes(doc: Doc) -> bytes:
    """The PSD file for ``doc``, as bytes."""
    stream = io.BytesIO()
    _Writer(doc).psd.save(stream)
    return stream.getvalue()


def build_psd(doc: Doc) -> PSDImage:
    """Write ``doc`` and open the result with psd-tools."""
    return PSDImage.open(io.BytesIO(psd_bytes(doc)))


def write_psd(doc: Doc, path: Union[str, os.PathLike]) -> None:
    """Write ``doc`` as a PSD file at ``path``."""
    data = psd_bytes(doc)
    with open(path, "wb") as out:
        out.write(data)
