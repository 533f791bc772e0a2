"""The layer-info tree of an opened PSD document."""

from typing import Any, ClassVar, Dict, Iterator, List, Optional, Tuple

from PIL.Image import Image
from psd_tools.api.layers import Group as Group
from psd_tools.api.layers import PixelLayer as PixelLayer
from psd_tools.api.layers import TypeLayer as TypeLayer

from tessel import filemanager as filemanager
from tessel import layerkit as _layerkit
from tessel import log as log
from tessel.nodeweave import CCBase, CCNode

#: The module tessel.layerkit, under the name the layer classes call it by.
utils = _layerkit
#: The indent unit of dump(): four blanks.
prefix: str

class YRoot:
    """A layer-info object: one reader layer with a cleanable name, geometry and a dump."""

    layerType: ClassVar[str]
    #: The reader's layer object (the opened document for a YPSD).
    layer: Any
    #: The reader layer's name at construction, or the one assigned to `name`.
    _name: Any
    parent: Optional[YGroup]
    #: The prefab objects made for this layer by initPsdInfo.
    infolist: List[CCBase]
    #: This layer's prefab node, set by initPsdInfo.
    info: Optional[CCNode]
    def __init__(self, layer: Any) -> None: ...
    @property
    def root(self) -> YRoot:
        """The topmost ancestor; itself without a parent."""
    @property
    def name(self) -> str:
        """`_name` when it is non-empty text, else the reader layer's current name."""
    @name.setter
    def name(self, value: str) -> None: ...
    @property
    def id(self) -> int:
        """0 for the document, else the reader's layer_id."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def opacity(self) -> int: ...
    @property
    def x(self) -> int: ...
    @property
    def y(self) -> int: ...
    def __repr__(self) -> str: ...
    def dump(self, layer: int = 0) -> None:
        """Prints the name, size and position line at depth `layer`."""
    def exportdata(self) -> Dict[str, Any]:
        """The ordered export dictionary of this layer."""
    def fixdata(self, data: Dict[str, Any]) -> None:
        """Hook for the class's own keys; adds nothing here."""

class YGroup(YRoot):
    """A layer group; its constructor builds the subtree of exportable layers."""

    #: The child layer-info objects in document order.
    _layers: List[YRoot]
    def __init__(self, group: Any) -> None: ...
    def isExportable(self, layer: Any) -> bool:
        """True for a visible reader layer whose name does not start with NotExport."""
    def dump(self, layer: int = 0) -> None:
        """The group's dump line, then every child one level deeper."""
    def fixdata(self, data: Dict[str, Any]) -> None:
        """Adds "children" with the children's export dictionaries."""
    def __iter__(self) -> Iterator[YRoot]: ...
    def __len__(self) -> int: ...

class YPSD(YGroup):
    """The document root: the whole layer-info tree and the export's object list."""

    #: The document's file path as the host passed it.
    path: Any
    #: The prefab objects of the export, in file order.
    totalInfo: List[CCBase]
    def __init__(self, psdimage: Any, path: Any) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None:
        """The group's "children", then "file": the document's file name."""

class YLayer(YRoot):
    """A pixel layer: scale-9 borders from its name, image name, image and save."""

    _imageName: Optional[str]
    _image: Optional[Image]
    #: (top, right, bottom, left) from the layer's raw name, or None.
    scale9Params: Optional[Tuple[int, int, int, int]]
    def __init__(self, layer: Any) -> None: ...
    @property
    def imageName(self) -> str:
        """The image's file name without extension, cached once read."""
    @property
    def image(self) -> Optional[Image]:
        """The layer's image (nine-slice cropped for a scale-9 name), or None."""
    def save(self, path: Optional[str] = None) -> None:
        """Writes the image as PNG at `path`, or under the bare imageName when empty."""
    def fixdata(self, data: Dict[str, Any]) -> None:
        """Adds "imageName"."""

class YText:
    """One styled run of text; every style-sheet entry becomes a member of its own."""

    #: The text as stored, paragraphs ended by "\\r".
    text: str
    #: The run's font entry of the document's font list.
    fontset: Any
    start: int
    end: int
    fontName: str
    # Style-sheet members that the export reads; the others are there too, under
    # their engine names (Tracking, Kerning, ...), which __getattr__ stands for.
    FontSize: float
    FillColor: Any
    Underline: bool
    FauxBold: bool
    FauxItalic: bool
    AutoLeading: bool
    Leading: float
    OutlineWidth: float
    CharacterDirection: int
    def __init__(self) -> None: ...
    def initText(
        self,
        text: str,
        fontset: Any,
        style: Any,
        metaStyle: Any = None,
        startIdx: int = 0,
        endIdx: int = 0,
    ) -> None:
        """Stores the text run and sets one member per style entry (style wins over metaStyle)."""
    @property
    def span(self) -> Tuple[int, int]:
        """(start, end) of the run in the text."""
    def __getattr__(self, name: str) -> Any: ...

class YTextLayer(YRoot, YText):
    """A text layer: text, font, size, colour and alignment from the text engine data."""

    #: Created empty; nothing fills it.
    spans: List[Any]
    AntiAlias: int
    #: 0 left, 1 right, 2 center, other values as the document has them.
    Justification: int
    #: 0 point text, 1 box text (the text lives in a box the designer drew); 0 when the document does not say.
    ShapeType: int
    #: The box of box text (left, top, right, bottom) in text space, or None.
    BoxBounds: Optional[List[float]]
    #: 0 horizontal, 2 vertical text; 0 when the document does not say.
    WritingDirection: int
    def __init__(self, layer: Any) -> None: ...
    @property
    def x(self) -> int:
        """The text's horizontal offset from its transform, truncated toward zero."""
    @property
    def textBox(self) -> Optional[Tuple[int, int, int, int]]:
        """(left, top, width, height) of a box text's box in document pixels, None for point text."""
    def fixdata(self, data: Dict[str, Any]) -> None:
        """Adds the text, font, style, alignment and colour keys."""
