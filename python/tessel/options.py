"""What an export is asked to do (ExportOptions) and what it did (ExportResult)."""

import os
from dataclasses import dataclass, field
from typing import Dict, List, Optional

from tessel.road.engine import DEFAULT_ENGINE, check_options
from tessel.road.parselimits import DEFAULT_MAX_OBJECTS, object_limit


@dataclass
class ExportOptions:
    """How a document is exported; the defaults give the standard export."""

    #: threads that save layer images (PNG encoding releases the GIL)
    jobs: int = field(default_factory=lambda: os.cpu_count() or 1, metadata={"output": False})
    #: write every meta file afresh from its model, dropping what the editor or
    #: the developers set in it (default: merge, see tessel.road.metamerge)
    fresh_meta: bool = False
    #: shape, smart-object and fill layers become sprites like pixel layers
    all_layers: bool = False
    #: each image is the layer as Photoshop shows it: effects, masks, clipped layers merged
    styles: bool = False
    #: the Creator runtime the prefab is for (tessel.road.engine.ENGINES): "2.4" adds the
    #: node fields that 2.2 and later read, "3.8" writes the prefab and metas in the 3.x form
    engine: str = DEFAULT_ENGINE
    #: make working engine widgets of groups named with type words (Button_, List_, ...)
    components: bool = False
    #: leave an image file alone when it already holds the layer's pixels (see tessel.road.imagecache)
    image_cache: bool = True
    #: zlib level of the PNG files, 0 to 9 (None: Pillow's default, 6); lower is faster and larger
    png_compression: Optional[int] = None
    #: the most objects the PSD reader parses from one document (None: no limit; see tessel.road.parselimits)
    max_objects: Optional[int] = field(default=DEFAULT_MAX_OBJECTS, metadata={"parse": object_limit})
    #: write the prefab from the export alone, dropping what the game team added to it in the
    #: editor (default: merge, see tessel.road.prefabmerge)
    fresh_prefab: bool = False
    #: folders of the game project whose images (PNG and .png.meta) sprites refer to instead of copies
    #: (see tessel.road.library); never written into
    library: List[str] = field(default_factory=list, metadata={"path": True})
    #: a folder, relative to the output folder, that images common to several documents go to once
    #: (see tessel.road.share)
    share: Optional[str] = None
    #: folders of the game project holding font assets; labels refer to the matching one (see tessel.road.fonts)
    fonts: List[str] = field(default_factory=list, metadata={"path": True})
    #: a JSON or TOML file mapping font names to font files relative to a fonts folder
    font_map: Optional[str] = field(default=None, metadata={"path": True})
    #: a text layer's stroke and drop shadow become cc.LabelOutline and cc.LabelShadow (see tessel.road.texteffects)
    text_effects: bool = False

    def __post_init__(self):
        check_options(self)
        if isinstance(self.jobs, bool) or not isinstance(self.jobs, int) or self.jobs < 1:
            raise ValueError(f"jobs must be a whole number of 1 or more, not {self.jobs!r}")
        if self.png_compression is not None and self.png_compression not in range(10):
            raise ValueError(f"png_compression must be 0 to 9, not {self.png_compression!r}")
        if self.max_objects is not None and not (isinstance(self.max_objects, int) and self.max_objects > 0):
            raise ValueError(f"max_objects must be a count above 0, or None for no limit, not {self.max_objects!r}")


@dataclass
class ExportResult:
    """What one export wrote."""

    psd: str  #: the document's path
    name: str  #: the name it exports under
    prefab: str  #: absolute path of the prefab file
    files: List[str]  #: absolute paths of every file the export owns: prefab, images, meta files
    nodes: int  #: cc.Node objects in the prefab
    images: int  #: PNG files of the export, written or left as they were
    collisions: int = 0  #: image names that layers with different images shared (one warning each)
    skipped: List[str] = field(default_factory=list)  #: one line per layer of a kind left out
    left_out: Dict[str, int] = field(default_factory=dict)  #: layers left out, counted by kind
    warnings: List[str] = field(default_factory=list)  #: one line per thing the user should know
    unchanged: int = 0  #: of the images, those whose file already held them and was left alone
    library: int = 0  #: images found in a library folder, not written
    shared: int = 0  #: images the sprites take from the share folder
    bytes_saved: int = 0  #: bytes of the images found elsewhere that this export did not write
    shared_files: List[str] = field(default_factory=list)  #: files this export wrote into the share folder
    #: "exported", or "unchanged": the document and every file were as the last export left them, nothing was parsed
    status: str = "exported"
    kept: List[str] = field(default_factory=list)  #: of ``files``, those left as they were
    seconds: float = 0.0  #: how long the export took

    @property
    def written(self):
        """Of ``files``, those this export wrote."""
        kept = set(self.kept)
        return [path for path in self.files if path not in kept]
