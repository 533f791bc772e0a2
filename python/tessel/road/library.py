"""The images a game project already holds: folders of PNGs with their .png.meta files, indexed by their pixels.

Each PNG is decoded once and its pixel digest kept in a cache file in the
output folder (never in the library folder, which the export only reads), with
the PNG's size and modification time; a later run uses the digest while both
are unchanged, and likewise the sprite frame read from the meta file.  A PNG
that cannot be read, or whose meta file names no sprite frame, is one warning
line and is not used.
"""

import json
import os
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

from PIL import Image

from tessel import filemanager
from tessel.errors import DocumentError, describe
from tessel.road.digest import image_digest

#: the digest cache's name in the output folder; hidden, so the game editor does not import it
CACHE_FILE = ".tessel-library.json"
_FORMAT = 1
#: a sprite frame's scale-9 borders in the order layer names give them (top, right, bottom, left)
BORDER_KEYS = ("borderTop", "borderRight", "borderBottom", "borderLeft")


def pixels_digest(image):
    """The digest images are matched by: their pixels as RGBA, so a PNG's mode does not matter."""
    return image_digest(image if image.mode == "RGBA" else image.convert("RGBA"))


@dataclass(frozen=True)
class Found:
    """An image of a library folder: its PNG and the sprite frame its meta file names."""

    png: str  #: absolute path
    texture_uuid: str
    frame_uuid: str
    borders: Tuple[int, int, int, int]
    size: int  #: bytes of the PNG


@dataclass
class Index:
    """The usable images of some folders by pixel digest; a plain value (it crosses process boundaries)."""

    images: Dict[str, List[Found]] = field(default_factory=dict)
    warnings: List[str] = field(default_factory=list)

    def find(self, digest, borders=None) -> Optional[Found]:
        """The image of pixels ``digest`` that a sprite with scale-9 ``borders`` can show (None: a plain sprite).

        A sliced sprite needs a frame with its very borders; a plain sprite draws
        the whole frame whatever borders it carries, and takes one without any first.
        """
        candidates = self.images.get(digest, ())
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
    """Index the PNGs under ``folders`` (absolute), reusing and then updating the cache file in ``cache_dir``."""
    cache_path = os.path.join(cache_dir, CACHE_FILE)
    old = _read_cache(cache_path)
    # Entries of other folders stay: another export into this output folder may use them.
    entries = {path: entry for path, entry in old.items()
               if not any(filemanager._within(path, folder) for folder in folders)}
    index = Index()
    for folder in folders:
        for png, stat in _pngs(folder):
            entry = _entry(png, stat, old.get(png))
            entries[png] = entry
            problem = entry.get("problem")
            if problem:
                index.warnings.append(f"library image {png}: {problem}; not used")
                continue
            frame = entry["frame"]
            found = Found(png, frame["texture"], frame["uuid"], tuple(frame["borders"]), stat.st_size)
            index.images.setdefault(entry["digest"], []).append(found)
    if entries != old:
        try:
            content = {"format": _FORMAT, "images": entries}
            filemanager._replace_file(cache_path, json.dumps(content, separators=(",", ":")).encode("utf-8"))
        except OSError as e:
            index.warnings.append(f"cannot write the library cache {cache_path} ({describe(e)}); "
                                  "the next export reads the library images again")
    return index


def _pngs(folder):
    """(path, stat) of every PNG below ``folder`` in name order; hidden files and folders are left out."""
    try:
        with os.scandir(folder) as it:
            items = sorted(it, key=lambda item: item.name)
    except OSError:
        return
    for item in items:
        if item.name.startswith("."):
            continue
        if item.is_dir():
            yield from _pngs(item.path)
        elif item.name.lower().endswith(".png") and item.is_file():
            yield item.path, item.stat()


def _signature(stat):
    return [stat.st_size, stat.st_mtime_ns]


def _entry(png, stat, old):
    """The cache entry of ``png``: its digest and frame, from ``old`` where the files have not changed."""
    old = old if isinstance(old, dict) else {}
    entry = {"png": _signature(stat)}
    if old.get("png") == entry["png"] and (isinstance(old.get("digest"), str) or "unreadable" in old):
        entry.update({key: old[key] for key in ("digest", "unreadable") if key in old})
    else:
        entry.update(_digest(png))
    meta = png + ".meta"
    try:
        entry["meta"] = _signature(os.stat(meta))
    except OSError:
        entry["meta"] = None
    if old.get("meta") == entry["meta"] and (_is_frame(old.get("frame")) or "no_frame" in old):
        entry.update({key: old[key] for key in ("frame", "no_frame") if key in old})
    else:
        entry.update(_frame(png, meta) if entry["meta"] else {"no_frame": "it has no .meta file"})
    problem = entry.get("unreadable") or entry.get("no_frame")
    if problem:
        entry["problem"] = problem
    return entry


def _is_frame(frame):
    return (isinstance(frame, dict) and isinstance(frame.get("texture"), str) and isinstance(frame.get("uuid"), str)
            and isinstance(frame.get("borders"), list) and len(frame["borders"]) == 4)


def _digest(png):
    try:
        with Image.open(png) as image:
            image.load()
            return {"digest": pixels_digest(image)}
    except Exception as e:
        return {"unreadable": f"cannot read the PNG ({describe(e)})"}


def _frame(png, meta):
    """The sprite frame the meta file names: {"frame": ...}, or {"no_frame": why}."""
    try:
        with open(meta, encoding="utf-8") as f:
            data = json.load(f)
    except (OSError, ValueError) as e:
        return {"no_frame": f"its meta file cannot be read ({describe(e)})"}
    subs = data.get("subMetas") if isinstance(data, dict) else None
    texture = data.get("uuid") if isinstance(data, dict) else None
    if not isinstance(subs, dict) or not isinstance(texture, str):
        return {"no_frame": "its meta file names no sprite frame"}
    stem = os.path.basename(png)[: -len(".png")]
    frames = {name: sub for name, sub in subs.items() if isinstance(sub, dict) and isinstance(sub.get("uuid"), str)}
    sub = frames.get(stem) or (next(iter(frames.values())) if len(frames) == 1 else None)
    if sub is None:
        return {"no_frame": "its meta file names no sprite frame"}
    try:
        borders = [int(sub.get(key) or 0) for key in BORDER_KEYS]
    except (TypeError, ValueError):
        borders = [0, 0, 0, 0]
    return {"frame": {"texture": texture, "uuid": sub["uuid"], "borders": borders}}


def _read_cache(path):
    try:
        with open(path, "rb") as f:
            content = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError):
        return {}
    if not isinstance(content, dict) or content.get("format") != _FORMAT or not isinstance(content.get("images"), dict):
        return {}
    return content["images"]
