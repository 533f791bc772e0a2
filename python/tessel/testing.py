"""Build real layered PSD files from a small declarative description.

Tests, benchmarks and the bundled example need PSD documents with known
content.  This module describes a document as a tree of plain objects and
writes it through psd-tools' own writer, so what comes back is exactly what
any psd-tools reader sees::

    from tessel.testing import Doc, Group, Pixel, Text, Run, build_psd, write_psd

    doc = Doc(750, 1334, [
        Pixel("bg", size=(750, 1334), color=(30, 30, 60, 255)),
        Group("Button_ok", [
            Pixel("btn_12,8,12,8", image=some_rgba_image, left=100, top=500),
            Text("Label_caption", "开始\\r", left=120, top=510, box=(80, 30),
                 font="ArialMT", size=24.0, color=(1.0, 1.0, 0.5, 0.0),
                 justification=2,
                 runs=[Run(1, font="ArialMT"), Run(2, size=20.0)]),
        ]),
        Pixel("hidden", size=(10, 10), visible=False),
        Pixel("empty", size=(0, 0)),
    ])
    psd = build_psd(doc)          # psd_tools.PSDImage, saved and re-opened
    write_psd(doc, "screen.psd")  # the same bytes, written to a file

Layers
    ``Doc(width, height, layers, compression="rle")``
        The canvas.  ``layers`` is the top level of the layer tree.  Layer
        channels are stored RLE-compressed as editors store 8-bit layers,
        or zlib-compressed with ``compression="zip"`` (much smaller for
        large flat or gradient layers); the merged image is always RLE.
    ``Group(name, layers, visible=True, opacity=255, open=True)``
        A layer group; groups nest to any depth.
    ``Pixel(name, image=None, size=None, color=(128, 128, 128, 255),
    left=0, top=0, visible=True, opacity=255)``
        A pixel layer from a Pillow image (any mode Pillow can convert to
        RGBA), or a block of ``size`` filled with ``color`` (RGBA or RGB,
        0..255).  ``size=(0, 0)`` gives a layer without pixels, whose
        ``topil()`` is ``None``.
    ``Text(name, text, left=0, top=0, box=None, font="ArialMT", size=12.0,
    color=(1.0, 0.0, 0.0, 0.0), normal_font="MyriadPro-Regular",
    justification=0, runs=None, anti_alias=1, origin=None, area=False,
    style=None, omit=(), image=None, edit=None, visible=True, opacity=255)``
        A type layer carrying real text engine data (see below).

Order: the first layer listed in a group is the first one psd-tools yields
when iterating that group, which is the bottom of the stack in an editor.
Names may hold any Unicode (CJK, emoji, "bg copy 2", "_12,8,12,8"); the
legacy Pascal name holds "?" when the name does not fit Mac Roman, and the
Unicode name block holds the real one, which is what ``layer.name`` reads.
Every layer gets a layer id (``layer.layer_id``), counted from 2 upwards in
the order the layers are written.

Text layers
    ``text`` is the text as the engine stores it: paragraphs end with
    ``"\\r"``, and one is appended when the text does not already end with
    it.  ``layer.text`` reads the same text without that final ``"\\r"``
    (the "Txt " descriptor holds it null-terminated, as editors write it).

    The engine data holds ``EngineDict`` (Editor/Text, ParagraphRun,
    StyleRun, AntiAlias, GridInfo, Rendered), ``ResourceDict`` and
    ``DocumentResources`` (FontSet, StyleSheetSet, ParagraphSheetSet,
    TheNormalStyleSheet, TheNormalParagraphSheet).

    * ``font``, ``size`` and ``color`` make the single style run that
      covers the whole text when ``runs`` is not given.
    * The normal style sheet (``ResourceDict/StyleSheetSet[0]``, the one
      ``TheNormalStyleSheet`` names) holds the editor's defaults, as in
      files an editor writes: ``normal_font``, size 12.0, opaque black,
      no faux styles, auto leading, and the other usual members.
    * ``color`` and every run colour are fractions (alpha, red, green, blue)
      in 0..1, as the engine stores ``FillColor/Values``.
    * ``runs``: a list of :class:`Run`.  A run member left at ``None`` is
      not written into that run's ``StyleSheetData``, so readers must fall
      back to the normal style sheet.  Run lengths are written as given;
      they should add up to the length of the engine text (final ``"\\r"``
      included).  Lengths count UTF-16 code units, as an editor writes them:
      a character outside the Basic Multilingual Plane (most emoji) counts
      2, so Python string lengths differ; :func:`utf16_length` helps.
    * ``FontSet`` lists every run font in order of first use, then
      ``normal_font`` and ``AdobeInvisFont`` (an editor always lists it);
      ``Font`` members are indices into that list.
    * ``anti_alias`` is the engine's AntiAlias number (0 none, 1 crisp,
      2 strong, 3 smooth, 4 sharp); the "AntA" descriptor gets the match.
    * ``justification`` (0 left, 1 right, 2 center, 3.. justified) goes into
      every paragraph run; ``DefaultStyleSheet`` is 0.
    * ``style`` overrides or adds members of the normal style sheet data
      (e.g. ``{"FauxBold": True, "Tracking": 50}``); ``omit`` names members
      to leave out of it (e.g. ``("CharacterDirection",)``).  ``Run.style``
      adds members to one run the same way.  Values are plain Python: a
      float is written as an engine real, an int as an engine integer, so
      write ``30.0`` for a size.
    * ``edit`` is called with the whole engine data as plain Python values
      (dict, list, str, int, float, bool) just before it is encoded, to
      build documents no option above describes.
    * ``box=(width, height)`` is the layer's bounding box at ``left``/``top``
      (estimated from the text and font size when not given).  The layer
      carries a transparent pixel block of that size, or ``image``.
    * ``origin=(tx, ty)`` is the text origin stored in the type tool
      transform ``(1, 0, 0, 1, tx, ty)``; floats are kept.  By default, for
      point text, tx is the box's left edge, centre or right edge following
      the justification (the justified codes 3 to 6 by their last line: 3 and
      6 left, 4 right, 5 centre) and ty is ``top + size``; for box text it is
      the box's top-left corner, as an editor writes it.
    * ``area=True`` marks paragraph (box) text instead of point text: the
      text box is ``box`` at ``left``/``top`` (``BoxBounds`` 0, 0, width,
      height from the origin).

Only psd-tools, Pillow and the standard library are used.  Writing needs a
psd-tools with ``PixelLayer.frompil`` and ``Group.new``; the files read back
with any psd-tools 1.9 or newer.
"""

from __future__ import annotations

import io
import os
from dataclasses import dataclass, field
from typing import Any, Callable, Optional, Sequence, Union

from PIL import Image
from psd_tools import PSDImage
from psd_tools.api.layers import Group as _PsdGroup
from psd_tools.api.layers import PixelLayer as _PsdPixelLayer
from psd_tools.constants import Compression, Tag
from psd_tools.psd.tagged_blocks import TaggedBlock

from tessel.textenginedata import _box, _type_tool_block, engine_data, utf16_length

__all__ = [
    "Doc",
    "Group",
    "Pixel",
    "Text",
    "Run",
    "build_psd",
    "write_psd",
    "psd_bytes",
    "engine_data",
    "solid",
    "gradient",
    "utf16_length",
]

Layer = Union["Group", "Pixel", "Text"]
ArgbFraction = Sequence[float]


@dataclass
class Run:
    """One style run of a text layer; ``None`` members are left unwritten."""

    length: int
    size: Optional[float] = None
    font: Optional[str] = None
    color: Optional[ArgbFraction] = None
    style: dict = field(default_factory=dict)


@dataclass
class Pixel:
    """A pixel layer: ``image``, or ``size`` filled with ``color`` (0..255)."""

    name: str
    image: Optional[Image.Image] = None
    size: Optional[tuple] = None
    color: Sequence[int] = (128, 128, 128, 255)
    left: int = 0
    top: int = 0
    visible: bool = True
    opacity: int = 255
    #: clipped to the nearest unclipped layer below it
    clipping: bool = False
    #: a layer mask ("L", white shows), placed at the layer's left and top
    mask: Optional[Image.Image] = None


@dataclass
class Text:
    """A type layer with text engine data; see the module notes on text."""

    name: str
    text: str
    left: int = 0
    top: int = 0
    box: Optional[tuple] = None
    font: str = "ArialMT"
    size: float = 12.0
    color: ArgbFraction = (1.0, 0.0, 0.0, 0.0)
    normal_font: str = "MyriadPro-Regular"
    justification: int = 0
    runs: Optional[list] = None
    anti_alias: int = 1
    origin: Optional[tuple] = None
    area: bool = False
    style: Optional[dict] = None
    omit: Sequence[str] = ()
    image: Optional[Image.Image] = None
    edit: Optional[Callable[[dict], Any]] = None
    visible: bool = True
    opacity: int = 255


@dataclass
class Group:
    """A layer group holding ``layers``, bottom of the stack first."""

    name: str
    layers: list = field(default_factory=list)
    visible: bool = True
    opacity: int = 255
    open: bool = True


@dataclass
class Doc:
    """An 8-bit RGB document (with transparency) holding a layer tree."""

    width: int
    height: int
    layers: list = field(default_factory=list)
    compression: str = "rle"


# ---------------------------------------------------------------------------
# Images


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


# ---------------------------------------------------------------------------
# Document


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
