"""The builder's layer descriptions: a document, groups, pixel layers, text layers and their style runs."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Callable, Optional, Sequence, Union

from PIL import Image

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
    #: (horizontal, vertical) scale of the type tool transform, as Free Transform leaves it
    scale: tuple = (1.0, 1.0)
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
