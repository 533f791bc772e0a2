"""How one export puts its layer images on disk: staged or direct, and not at all when unchanged.

Into a folder that existed before the export, an image goes to a temporary
name beside its target and is renamed into place once every image succeeded,
so a failure leaves the earlier images whole.  Into a folder this export
created there is nothing to keep: the image is written at its own name, and a
failing export removes it with the folder; that saves a file creation and a
rename per image, which is most of what writing a small image costs.
"""

import contextlib
import logging
import os
import secrets
import threading

from tessel.imagecache import pixel_key

logger = logging.getLogger("tessel")


def temporary_beside(target):
    """Reserve a fresh hidden name in the folder of ``target`` (created with the usual permissions)."""
    folder, base = os.path.split(target)
    while True:
        tmp = os.path.join(folder, f".{base}.{secrets.token_hex(4)}.tmp")
        try:
            os.close(os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
            return tmp
        except FileExistsError:
            continue


def remove(path):
    with contextlib.suppress(OSError):
        os.unlink(path)


class ImageWriter:
    """Saves layer images for one export; ``render`` is safe to call from several threads.

    ``fresh``: the image folder was created by this export, so images are written
    at their own names.  ``cache``: an :class:`tessel.imagecache.ImageCache` that
    lets unchanged images be skipped (None: every image is saved).
    ``compress_level``: zlib level of the PNG files (None: Pillow's default).
    """

    def __init__(self, fresh=False, cache=None, compress_level=None):
        self.fresh = fresh
        self.cache = cache
        self.compress_level = compress_level
        self.kept = []  #: targets whose file already held the image and was left alone
        self._lock = threading.Lock()

    def render(self, layer, target):
        """Save the image of ``layer`` for ``target``; returns the path written, or None.

        None means nothing was written: the layer has no pixels, or ``target``
        already holds its image.  The path is ``target`` itself in a fresh
        folder, else a temporary file the caller renames to ``target``.  The
        rendered image is dropped from the layer's cache afterwards: nothing
        later reads it, and a few hundred layers of a large document would
        otherwise all stay in memory at once.
        """
        key = None
        image = layer.image
        if image is not None and self.compress_level is not None:
            # Pillow merges an image's own encoderinfo into what save() is given,
            # so the level reaches the file through YLayer.save unchanged.
            image.encoderinfo = {"compress_level": self.compress_level}
        if self.cache is not None:
            if image is not None:
                key = pixel_key(image)
                if self.cache.unchanged(target, key):
                    layer._image = None
                    logger.debug("%s: unchanged, left as it is", target)
                    with self._lock:
                        self.kept.append(target)
                    return None
        path = target if self.fresh else temporary_beside(target)
        try:
            layer.save(path)
            layer._image = None
            data = _written(path, key is not None)
            if not data:
                remove(path)
                return None
            if key is not None:
                self.cache.record(target, key, data)
            return path
        except BaseException:
            remove(path)
            raise


def _written(path, read):
    """The bytes at ``path`` when ``read``, else whether it holds any; empty when nothing was written."""
    try:
        if read:
            with open(path, "rb") as f:
                return f.read()
        return os.path.getsize(path) > 0
    except FileNotFoundError:
        return b""
