"""What an earlier export wrote into a document's image folder, so that a re-export skips unchanged images.

The cache is one small JSON file in the image folder.  Per image file it holds
the key of the pixels that were saved and the sha1 and size of the PNG bytes
that saving gave.  An image is skipped only when its pixels have that key now
AND the file on disk still holds exactly those bytes; so a changed layer, a
changed nine-slice name (the cropped pixels change), a deleted, edited or
replaced PNG, or an entry that belongs to other pixels or other bytes, all lead
to the image being written again.  A cache made by another Pillow or zlib (whose
PNG bytes may differ) or by another compression level is not used at all, so a
kept file is what a fresh export writes, up to the time stamp inside a colour
profile (see _timeless).
"""

import hashlib
import json
import os
import threading

import PIL
from PIL import features

from tessel import filemanager
from tessel.road.digest import image_digest

#: the cache file's name inside the image folder; hidden, so the game editor does not import it
FILENAME = ".tessel-images.json"
_FORMAT = 1


def encoder(compress_level=None):
    """What decides the bytes of a saved PNG beyond its pixels: the libraries' versions and the zlib level."""
    level = "" if compress_level is None else f", level {compress_level}"
    return f"Pillow {PIL.__version__}, zlib {features.version('zlib')}{level}"


def pixel_key(image):
    """The key of what saving ``image`` as PNG depends on: its pixels and the extras PNG carries over."""
    extras = [_timeless(image.info.get("icc_profile")), image.info.get("transparency")]
    if not any(extra is not None for extra in extras):
        return image_digest(image)
    return image_digest(image) + "+" + hashlib.sha1(repr(extras).encode("utf-8", "surrogatepass")).hexdigest()


def _timeless(profile):
    """An ICC profile without its creation time and its ID (a digest that covers the time).

    The reader converts a document with a colour profile to sRGB and attaches a
    profile it makes afresh for every rendering, stamped with the time: two
    exports of one layer differ in those bytes alone, and only a key without
    them lets a re-export find the image unchanged.
    """
    if not isinstance(profile, bytes) or len(profile) < 128:
        return profile
    return profile[:24] + bytes(12) + profile[36:84] + bytes(16) + profile[100:]


def png_record(data):
    """What the cache keeps of PNG bytes ``data``: their sha1 and length."""
    return {"sha1": hashlib.sha1(data).hexdigest(), "size": len(data)}


class ImageCache:
    """The cache of one image folder: read at the start of an export, written at its end.

    ``unchanged`` and ``record`` may be called from the image-saving threads.
    """

    def __init__(self, folder, compress_level=None):
        self.path = os.path.join(folder, FILENAME)
        self.encoder = encoder(compress_level)
        self._old = _read(self.path, self.encoder)
        self._new = {}
        self._lock = threading.Lock()

    def unchanged(self, target, key):
        """True when the file ``target`` already holds the PNG of pixels ``key`` (and then keeps its entry)."""
        name = os.path.basename(target)
        entry = self._old.get(name)
        if entry is None or entry.get("pixels") != key:
            return False
        png = entry.get("png")
        if not isinstance(png, dict):
            return False
        try:
            with open(target, "rb") as f:
                if os.fstat(f.fileno()).st_size != png.get("size"):
                    return False
                data = f.read()
        except OSError:
            return False
        if png_record(data) != png:
            return False
        with self._lock:
            self._new[name] = entry
        return True

    def record(self, target, key, data):
        """Note that ``target`` now holds ``data``, the PNG of pixels ``key``."""
        with self._lock:
            self._new[os.path.basename(target)] = {"pixels": key, "png": png_record(data)}

    def entries(self):
        """The entries of this export so far, by file name."""
        with self._lock:
            return dict(self._new)

    def save(self):
        """Write the entries of this export (only those: images no longer exported drop out).

        Returns False, writing nothing, when there is nothing to record; an
        earlier file may then stay, which is harmless: an entry is only ever
        used for a file that holds exactly the bytes it names.
        """
        if not self._new:
            return False
        content = {"format": _FORMAT, "encoder": self.encoder, "images": dict(sorted(self._new.items()))}
        filemanager._replace_file(self.path, json.dumps(content, indent=1).encode("utf-8"))
        return True


def _read(path, encoder):
    """The image entries of the cache file at ``path``; nothing when it is missing, damaged or of another encoder."""
    try:
        with open(path, "rb") as f:
            content = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError):
        return {}
    if not isinstance(content, dict) or content.get("format") != _FORMAT or content.get("encoder") != encoder:
        return {}
    images = content.get("images")
    if not isinstance(images, dict):
        return {}
    return {name: entry for name, entry in images.items() if isinstance(entry, dict)}
