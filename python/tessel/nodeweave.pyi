"""Prefab objects, meta models and the export passes that turn a layer-info tree into a prefab."""

import os as os
from typing import Any, ClassVar, Dict, List, Optional, Union

from tessel import filemanager as filemanager
from tessel import layerkit as _layerkit
from tessel import log as log
from tessel.infos import Group as Group
from tessel.infos import PixelLayer as PixelLayer
from tessel.infos import TypeLayer as TypeLayer
from tessel.infos import YGroup as YGroup
from tessel.infos import YLayer as YLayer
from tessel.infos import YPSD as YPSD
from tessel.infos import YRoot as YRoot
from tessel.infos import YText as YText
from tessel.infos import YTextLayer as YTextLayer
from tessel.infos import prefix as prefix

utils = _layerkit

#: An object reference {"__id__": index} or an asset reference {"__uuid__": uuid}.
_Ref = Dict[str, Any]
_Path = Union[str, "os.PathLike[str]"]

#: Image name to UUID, made on first use and kept for the life of the process.
uuidDict: Dict[Any, str]

class MetaFileError(KeyError, ValueError):
    """An existing .meta file lacks a key (or an object) that the export reads back."""

    def __str__(self) -> str: ...

# Prefab objects

class CCBase:
    """A prefab object: fields in __dict__, JSON form by export()."""

    cctype: ClassVar[str]
    #: Lets the JSON writer write objects of these classes without calling export().
    __jsonemit_members__: ClassVar[Any]
    #: The empty string until refleshIdAndCreateMeta numbers the object, then its index.
    id: Union[int, str]
    #: The layer-info object this object is made from (None for value types).
    layer: Optional[YRoot]
    def __init__(self) -> None: ...
    def read(self) -> None:
        """Copy values from `layer` (nothing at this level)."""
    def fixdata(self, data: Dict[str, Any]) -> None:
        """Insert this object's keys into `data`."""
    def export(self) -> Dict[str, Any]:
        """A new dictionary filled by fixdata."""

class CCName(CCBase):
    #: The cleaned layer name.
    name: str
    def __init__(self) -> None: ...
    def read(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCItem(CCName):
    _objFlags: int
    def __init__(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...
    def export(self) -> Dict[str, Any]: ...

class CCComponent(CCItem):
    #: Reference to the node that owns the component.
    node: Optional[_Ref]
    _enabled: bool
    def __init__(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

# Value types, written inline

class CCColor(CCBase):
    """RGBA, 0..255 each."""

    r: int
    g: int
    b: int
    a: int
    def __init__(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCSize(CCBase):
    """Width and height in pixels."""

    width: Any
    height: Any
    def __init__(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCVec2(CCBase):
    """A 2D vector."""

    x: Any
    y: Any
    def __init__(self, x: Any = 0, y: Any = 0) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCVec3(CCVec2):
    """A 3D vector."""

    z: Any
    def __init__(self, x: Any = 0, y: Any = 0, z: Any = 0) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCQuat(CCVec3):
    """A rotation quaternion; the default is the identity."""

    w: Any
    def __init__(self, x: Any = 0, y: Any = 0, z: Any = 0, w: Any = 1) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCTypedArray(CCBase):
    """A typed array: the name of its constructor and its numbers."""

    #: The JavaScript constructor, "Float64Array" for a node's "_trs".
    ctor: str
    array: List[Any]
    def __init__(self, ctor: str = "Float64Array", array: Optional[List[Any]] = None) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

# Nodes and components

class CCNode(CCItem):
    """The "cc.Node" of one layer-info object."""

    _parent: Optional[_Ref]
    _children: List[_Ref]
    _active: bool
    _level: int
    _components: List[_Ref]
    _prefab: Optional[_Ref]
    _opacity: int
    _color: CCColor
    _contentSize: CCSize
    _anchorPoint: CCVec2
    #: The document position read from the layer; fixPosition makes it absolute. Never written.
    _position: CCVec3
    _scale: CCVec3
    #: Position, rotation quaternion and scale as 2.2+ runtimes read them; only
    #: present (and written, after "_scale") once tessel.road.engine has set it.
    _trs: CCTypedArray
    #: Rotation in degrees, from which 2.2+ runtimes rebuild the quaternion; present with `_trs`.
    _eulerAngles: CCVec3
    _rotationX: int
    _rotationY: int
    _quat: CCQuat
    _skewX: int
    _skewY: int
    groupIndex: int
    #: Position relative to the parent, written under "_position".
    _localPosition: CCVec2
    def __init__(self) -> None: ...
    @property
    def level(self) -> int:
        """Depth of the layer in the tree, held in `_level`."""
    @level.setter
    def level(self, value: int) -> None: ...
    def read(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCLabel(CCComponent):
    """The "cc.Label" of one text layer."""

    _useOriginalSize: bool
    _string: Optional[str]
    #: "_N$string" in the prefab file, like every _N_ field.
    _N_string: Optional[str]
    _fontSize: int
    _lineHeight: int
    _enableWrapText: bool
    _N_file: Any
    _isSystemFontUsed: bool
    _spacingX: int
    _batchAsBitmap: bool
    _N_horizontalAlign: int
    _N_verticalAlign: int
    _N_fontFamily: str
    _N_overflow: int
    _N_cacheMode: int
    def __init__(self) -> None: ...
    def read(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCSprite(CCComponent):
    """The "cc.Sprite" of one pixel layer."""

    #: {"__uuid__": the sprite frame's UUID} once written.
    _spriteFrame: _Ref
    _type: int
    _sizeMode: int
    _fillType: int
    _fillCenter: CCVec2
    _fillStart: int
    _fillRange: int
    _isTrimmedMode: bool
    _state: int
    _atlas: Any
    _srcBlendFactor: int
    _dstBlendFactor: int
    meta: Optional[CCMetaSprite]
    metaSprite: Optional[CCMetaSpriteSub]
    width: int
    height: int
    def __init__(self) -> None: ...
    def read(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...
    def createMeta(self) -> None:
        """Build `meta` and `metaSprite`, reusing the UUIDs of an existing .png.meta."""
    @property
    def metaPath(self) -> str:
        """Path of the layer's .png.meta file, inside the folder named after the document."""

class CCPrefab(CCName):
    """The "cc.Prefab" asset object, element 0 of the file."""

    _objFlags: int
    _native: str
    #: Reference to the root node.
    data: _Ref
    optimizationPolicy: int
    asyncLoadAssets: bool
    meta: Optional[CCMetaPrefab]
    def __init__(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...
    @property
    def metaPath(self) -> str:
        """Path of the document's .prefab.meta file."""

class CCPrefabInfo(CCBase):
    """The "cc.PrefabInfo" of one layer-info object."""

    #: Reference to the root node.
    root: _Ref
    #: {"__id__": 0} or {"__uuid__": the prefab's UUID}.
    asset: _Ref
    fileId: Optional[str]
    sync: bool
    def __init__(self) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

# Meta files

class CCMetaBase:
    """Model of a .meta file; export() gives its JSON dictionary."""

    #: Lets the JSON writer write models of these classes without calling export().
    __jsonemit_members__: ClassVar[Any]
    ver: str
    uuid: Optional[str]
    #: Sub-asset name to its meta model.
    subMetas: Dict[str, CCMetaBase]
    def __init__(self, uuid: Optional[str] = None, version: str = "1.0.1") -> None: ...
    def export(self) -> Dict[str, Any]:
        """"ver", "uuid", the keys of fixdata, then the shared "subMetas"."""
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCMetaPrefab(CCMetaBase):
    """The document's .prefab.meta."""

    optimizationPolicy: str
    asyncLoadAssets: bool
    def __init__(self, uuid: Optional[str] = None, version: str = "1.0.1") -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCMetaSprite(CCMetaBase):
    """A texture's .png.meta."""

    type: str
    wrapMode: str
    filterMode: str
    premultiplyAlpha: bool
    def __init__(self, uuid: Optional[str] = None, version: str = "2.2.0") -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

class CCMetaSpriteSub(CCMetaBase):
    """The sprite-frame entry of a texture meta."""

    rawTextureUuid: Optional[str]
    trimType: str
    trimThreshold: int
    rotated: bool
    offsetX: int
    offsetY: int
    trimX: int
    trimY: int
    width: int
    height: int
    rawWidth: int
    rawHeight: int
    borderTop: int
    borderBottom: int
    borderLeft: int
    borderRight: int
    def __init__(
        self, uuid: Optional[str] = None, version: str = "1.0.3", parentUUID: Optional[str] = None
    ) -> None: ...
    def fixdata(self, data: Dict[str, Any]) -> None: ...

# Export passes

def initPsdInfo(group: YRoot, level: int = 2) -> None:
    """Append the prefab objects of `group` and its subtree to the document's object list."""

def fixPosition(psd: YGroup, localPosition: Optional[CCVec3] = None) -> None:
    """Set anchors and parent-relative positions of the nodes below `psd`."""

def refleshIdAndCreateMeta(psd: YPSD, /) -> None:
    """Number the objects, wire their references and create the prefab and sprite meta models."""

def saveToPrefab(psd: YPSD, path: _Path) -> None:
    """Write the document's object list as the prefab file."""

def saveMetaFile(meta: CCMetaBase, path: _Path, psd: YPSD) -> None:
    """Write the prefab meta file, the document's folder and one meta file per sprite."""

def formatCocosData(data: Any, /) -> Dict[str, Any]:
    """The JSON form of a prefab object or meta model: data.export()."""

def getUUID() -> str:
    """A fresh UUID (8-4-4-4-12) from the host's md5 digest."""

def getUUIDByName(imageName: Any, /) -> str:
    """The UUID of an image name, made on first use."""
