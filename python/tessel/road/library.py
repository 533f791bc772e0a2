"""The images a game project already holds: folders of PNGs with their .png.meta files, indexed by their pixels.

Each PNG is decoded once and its pixel digest kept in a cache file in the
output folder (never in the library folder, which the export only reads), with
the PNG's size and modification time; a later run uses the digest while both
are unchanged.  A PNG that cannot be read, or whose meta file names no sprite
frame, is one warning line and is not used.
"""

import json
import os
from dataclasses import dataclass, field
from typing import Dict, List, NamedTuple, Optional, Tuple

from PIL import Image

from tessel import filemanager
from tessel.errors import DocumentError, describe
from tessel.road.digest import image_digest

#: the digest cache's name in the output folder; hidden, so the game editor does not import it
CACHE_FILE = ".tessel-library.json"
_FORMAT = 2
#: a sprite frame's scale-9 borders in the order layer names give them (top, right, bottom, left)
BORDER_KEYS = ("borderTop", "borderRight", "borderBottom", "borderLeft")


def pixels_digest(image):
    """The digest images are matched by: their pixels as RGBA, so a PNG's mode does not matter."""
    return image_digest(image if image.mode == "RGBA" else image.convert("RGBA"))


class Found(NamedTuple):
    """An image of a library folder: its PNG and the sprite frame its meta file names."""

    png: str  #: absolute path
    texture_uuid: str
    frame_uuid: str
    borders: Tuple[int, int, int, int]
    size: int  #: bytes of the PNG


@dataclass
class Index:
    """The readable PNGs of some folders by pixel digest; a plain value (it crosses process boundaries).

    Meta files are read only for the images a document has: a library of
    thousands costs one stat per PNG, not two, and the warning about a meta
    file without a frame comes where that image would have been used.
    """

    images: Dict[str, List[Tuple[str, int]]] = field(default_factory=dict)  #: digest: [(png, bytes)]
    warnings: List[str] = field(default_factory=list)
    _frames: dict = field(default_factory=dict, repr=False, compare=False)

    def find(self, digest, borders=None, warn=None) -> Optional[Found]:
        """The image of pixels ``digest`` that a sprite with scale-9 ``borders`` can show (None: a plain sprite).

        A sliced sprite needs a frame with its very borders; a plain sprite draws
        the whole frame whatever borders it carries, and takes one without any
        first.  ``warn(line)`` hears of every candidate whose meta file names no frame.
        """
        candidates = []
        for png, size in self.images.get(digest, ()):
            frame = self._frames.get(png)
            if frame is None:
                frame = self._frames[png] = _frame(png, png + ".meta")
            if isinstance(frame, str):
                if warn is not None:
                    warn(f"library image {png}: {frame}; not used")
                continue
            candidates.append(Found(png, frame[0], frame[1], tuple(frame[2:]), size))
        if borders:
            return next((found for found in candidates if found.borders == tuple(borders)), None)
        return next((found for found in candidates if not any(found.borders)), next(iter(candidates), None))


def check_folders(folders):
    """The absolute paths of the library ``folders``; a DocumentError names one that is not a folder."""
    result = []
    for folder in folders:
        full = os.path.abspath(os.fspath(folder))
        if not os.path.isdir(full):
            raise DocumentError(f"the library folder {os.fspath(folder)!r} is not a folder")
        result.append(full)
    return result


def holding(folder, libraries):
    """The library folder among ``libraries`` that ``folder`` is or lies inside of, else None."""
    for library in libraries:
        if filemanager._within(os.path.realpath(folder), os.path.realpath(library)):
            return library
    return None


def load(folders, cache_dir):
    """Index the PNGs under ``folders`` (absolute), reusing and then updating the cache file in ``cache_dir``.

    The cache holds per folder one row per PNG: its size, modification time and
    digest (or why it cannot be read).  Rows are lists, not objects: a warm run
    reads thousands of them, and that is most of what it costs besides a stat per PNG.
    """
    cache_path = os.path.join(cache_dir, CACHE_FILE)
    cached = _read_cache(cache_path)
    index = Index()
    changed = False
    for folder in folders:
        old = cached.get(folder)
        old = old if isinstance(old, dict) else {}
        rows = {}
        for png, stat in _pngs(folder):
            rel = png[len(folder) + 1:]
            row = old.get(rel)
            if not (type(row) is list and len(row) == 4 and row[0] == stat.st_size and row[1] == stat.st_mtime_ns
                    and (type(row[2]) is str or type(row[3]) is str)):
                row = [stat.st_size, stat.st_mtime_ns, *_digest(png)]
                changed = True
            rows[rel] = row
            if row[3]:
                index.warnings.append(f"library image {png}: {row[3]}; not used")
            else:
                index.images.setdefault(row[2], []).append((png, stat.st_size))
        changed = changed or len(rows) != len(old)
        cached[folder] = rows
    if changed:
        try:
            content = {"format": _FORMAT, "folders": cached}
            filemanager._replace_file(cache_path, json.dumps(content, separators=(",", ":")).encode("utf-8"))
        except OSError as e:
            index.warnings.append(f"cannot write the library cache {cache_path} ({describe(e)}); "
                                  "the next export reads the library images again")
    return index


def _pngs(folder):
    """(path, stat) of every PNG below ``folder`` in name order; hidden files and folders are left out."""
    try:
        with os.scandir(folder) as it:
            items = {item.name: item for item in it if item.name[:1] != "." and item.name[-5:] != ".meta"}
    except OSError:
        return
    for name in sorted(items):
        item = items[name]
        if name[-4:].lower() == ".png" and item.is_file():
            yield item.path, item.stat()
        elif item.is_dir():
            yield from _pngs(item.path)


def _digest(png):
    """[digest, None], or [None, why the PNG cannot be read]."""
    try:
        with Image.open(png) as image:
            image.load()
            return [pixels_digest(image), None]
    except Exception as e:
        return [None, f"cannot read the PNG ({describe(e)})"]


def _frame(png, meta):
    """[texture, frame, borders...] for the sprite frame the meta file names, else why it names none."""
    try:
        with open(meta, encoding="utf-8") as f:
            data = json.load(f)
    except FileNotFoundError:
        return "it has no .meta file"
    except (OSError, ValueError) as e:
        return f"its meta file cannot be read ({describe(e)})"
    subs = data.get("subMetas") if isinstance(data, dict) else None
    texture = data.get("uuid") if isinstance(data, dict) else None
    if not isinstance(subs, dict) or not isinstance(texture, str):
        return "its meta file names no sprite frame"
    stem = os.path.basename(png)[: -len(".png")]
    frames = {name: sub for name, sub in subs.items() if isinstance(sub, dict) and isinstance(sub.get("uuid"), str)}
    sub = frames.get(stem) or (next(iter(frames.values())) if len(frames) == 1 else None)
    if sub is None:
        return "its meta file names no sprite frame"
    try:
        borders = [int(sub.get(key) or 0) for key in BORDER_KEYS]
    except (TypeError, ValueError):
        borders = [0, 0, 0, 0]
    return [texture, sub["uuid"], *borders]


def _read_cache(path):
    """The cached rows by folder; nothing when the file is missing, damaged or of another format."""
    try:
        with open(path, "rb") as f:
            content = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError):
        return {}
    if not isinstance(content, dict) or content.get("format") != _FORMAT or not isinstance(content.get("folders"), dict):
        return {}
    return content["folders"]
