"""How one export puts its layer images on disk: staged or direct, and not at all when unchanged.

Into a folder that existed before the export, an image goes to a temporary
name beside its target and is renamed into place once every image succeeded,
so a failure leaves the earlier images whole.  Into a folder this export
created there is nothing to keep: the image is written at its own name, and a
failing export removes it with the folder; that saves a file creation and a
rename per image, which is most of what writing a small image costs.
:func:`save_images` runs the saving on threads and cleans up after a failure.
"""

import contextlib
import logging
import os
import secrets
import threading
from concurrent.futures import FIRST_EXCEPTION, ThreadPoolExecutor, wait

from tessel.errors import DocumentError, describe
from tessel.road.imagecache import pixel_key

logger = logging.getLogger("tessel")

#: the image modes YLayer.save writes as they are; it converts any other to RGBA first
PNG_MODES = ("1", "L", "LA", "P", "RGB", "RGBA")


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
    at their own names.  ``cache``: an :class:`tessel.road.imagecache.ImageCache` that
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
            if image.mode not in PNG_MODES:
                # YLayer.save would convert it to a new image, without the level set below.
                image = layer._image = image.convert("RGBA")
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


def _render(layer, target):
    """Save one layer's image to a temporary file beside ``target``; returns its path, or None."""
    return ImageWriter().render(layer, target)


def save_images(work, jobs, step=lambda: None, render=_render):
    """Save the images of ``work`` (pairs of layer and target path) with ``render(layer, target)``.

    ``render`` returns the path it wrote (a temporary file beside the target, or
    the target itself in a folder the export made) or None.  Returns the list of
    (written, target) pairs.  On any failure every written file is removed and
    the error, naming its layer, is raised: the targets are untouched until the
    caller commits them.

    With ``jobs`` > 1 the layers are saved on that many threads.  Decoding the
    layer (psd-tools) holds the GIL, but PNG encoding in Pillow releases it, and
    encoding is most of the time.  Largest layers go first so that no thread is
    left with a big one at the end.
    """
    done = []
    lock = threading.Lock()

    def one(layer, target):
        try:
            tmp = render(layer, target)
        except Exception as e:
            raise DocumentError(f"cannot save the image {target}: {describe(e)}", layer) from e
        if tmp is not None:
            with lock:
                done.append((tmp, target))
        step()

    try:
        if jobs <= 1 or len(work) < 2:
            for layer, target in work:
                one(layer, target)
        else:
            order = sorted(work, key=lambda item: _area(item[0]), reverse=True)
            pool = ThreadPoolExecutor(max_workers=min(jobs, len(work)), thread_name_prefix="tessel-image")
            try:
                futures = [pool.submit(one, layer, target) for layer, target in order]
                wait(futures, return_when=FIRST_EXCEPTION)
            finally:
                # Whatever ended the wait (a failed image, Ctrl-C), no queued image
                # starts any more, and the running ones finish before the staged
                # files are cleaned up.
                pool.shutdown(wait=True, cancel_futures=True)
            for future in futures:
                if not future.cancelled() and future.exception() is not None:
                    raise future.exception()
    except BaseException:
        for tmp, _ in done:
            remove(tmp)
        raise
    return done


def _area(layer):
    try:
        return int(layer.width) * int(layer.height)
    except Exception:
        return 0
