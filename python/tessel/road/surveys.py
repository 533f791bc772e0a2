"""What a document's images are: the pixel digest and scale-9 borders of each distinct image, cached.

An export that looks images up (tessel.road.reuse) and the first pass of a run
(tessel.road.share) both need these.  The cache file in the output folder keeps
each document's survey while the document's size and modification time stay
the same, and the digest of each pixel layer by what its image is decoded
from, so an edited document decodes only the layers that changed.
"""

import contextlib
import functools
import hashlib
import json
import os
from dataclasses import astuple, dataclass
from typing import Optional, Tuple

import PIL

import tessel
from tessel import filemanager, layerkit
from tessel.road import library

#: the cache file in the output folder; hidden, so the game editor does not import it
SURVEYS_FILE = ".tessel-documents.json"
_FORMAT = 1


@dataclass(frozen=True)
class DocImage:
    """One distinct image of a document, as the survey saw it."""

    name: str  #: its image name in the document
    base: str  #: the name without the document prefix
    digest: str  #: see tessel.road.library.pixels_digest
    borders: Optional[Tuple[int, int, int, int]]  #: scale-9 borders (top, right, bottom, left), None when plain
    width: int  #: the layer's size in the document
    height: int
    layer_id: int
    stored: Optional[str] = None  #: digest of what the image is decoded from (see _stored_key), None when unknown

    @property
    def key(self):
        return (self.digest, self.borders)


def survey(psd, layers, empty=(), known=None):
    """The distinct images of the pixel layer-infos ``layers`` (after imagenames.settle), in document order.

    ``known`` maps stored keys (see :func:`_stored_key`) to pixel digests found
    before: a layer whose stored data has not changed is not decoded.  Any
    other image is decoded once and dropped again: the export renders it anew
    when it writes it, and a large document's images all held at once would
    fill the memory.
    """
    prefix = filemanager.pinyin(layerkit.cleanLayerName(psd.name)) + "_"
    document = _document_key(psd)
    known = known or {}
    images, seen = [], set()
    empty = {id(layer) for layer in empty}
    for layer in layers:
        name = layer.imageName
        if id(layer) in empty or name in seen:
            continue
        seen.add(name)
        stored = _stored_key(document, layer)
        digest = known.get(stored)
        if digest is None:
            image = layer.image
            if image is None:
                continue
            digest = library.pixels_digest(image)
            layer._image = None
        params = layer.scale9Params
        base = name[len(prefix):] if name.startswith(prefix) and len(name) > len(prefix) else name
        images.append(DocImage(name, base, digest, tuple(int(v) for v in params) if params else None,
                               int(layer.width), int(layer.height), int(layer.id), stored))
    return images


def _document_key(psd):
    """What decoding any layer of the document depends on besides the layer: depth, colour mode, profile.

    None when the layers are views of the document (--all-layers, --styles),
    whose images are renderings, not stored pixels.
    """
    from psd_tools.constants import Resource

    document = psd.layer
    try:
        if type(document).__name__ != "PSDImage":
            return None
        header = document._record.header
        profile = document.image_resources.get_data(Resource.ICC_PROFILE) or b""
        return repr((header.channels, header.depth, int(header.color_mode))).encode() + b"\0" + bytes(profile)
    except Exception:
        return None


def _stored_key(document, layer):
    """A digest of what a pixel layer's image is decoded from: its channels as stored, its box, its scale-9
    borders and ``document`` (:func:`_document_key`); None when that cannot be told."""
    raw = layer.layer
    if document is None or type(raw).__name__ != "PixelLayer":
        return None
    try:
        record, channels = raw._record, raw._channels
        h = hashlib.sha1(document)
        h.update(repr((record.top, record.left, record.bottom, record.right, layer.scale9Params,
                       [(int(info.id), int(channel.compression)) for info, channel in zip(record.channel_info, channels)]
                       )).encode())
        for channel in channels:
            h.update(len(channel.data).to_bytes(8, "little"))
            h.update(channel.data)
    except Exception:
        return None
    return h.hexdigest()


class Surveys:
    """The surveys of documents exported into one output folder, kept in a cache file there.

    A document's survey is used again while the document's size and modification
    time are unchanged and it is read with the same options: the first pass of a
    run then does not open unchanged documents, and an export does not decode
    their images to look them up.
    """

    def __init__(self, outdir, options):
        self.path = os.path.join(os.fspath(outdir), SURVEYS_FILE)
        self.flavour = " ".join(map(str, (_FORMAT, tessel.__version__, _reader_version(), PIL.__version__,
                                          options.all_layers, options.styles, options.components)))
        content = filemanager.json_or_none(self.path)
        entries = content.get("documents") if isinstance(content, dict) else None
        self.entries = entries if isinstance(entries, dict) else {}
        self.changed = False
        #: stored key to pixel digest, from every document surveyed before with these options
        self.digests = {}
        for entry in self.entries.values():
            if isinstance(entry, dict) and entry.get("flavour") == self.flavour and isinstance(entry.get("images"), list):
                for row in entry["images"]:
                    if isinstance(row, list) and len(row) == 8 and isinstance(row[7], str) and isinstance(row[2], str):
                        self.digests[row[7]] = row[2]

    @staticmethod
    def signature(path):
        """What tells that a document has not changed: its size and modification time (None when missing)."""
        try:
            stat = os.stat(path)
        except OSError:
            return None
        return [stat.st_size, stat.st_mtime_ns]

    def get(self, path, signature):
        """The survey of the document at ``path`` when it was taken from a file of ``signature``, else None."""
        entry = self.entries.get(os.path.abspath(path))
        if signature is None or not isinstance(entry, dict) or entry.get("file") != signature \
                or entry.get("flavour") != self.flavour or not isinstance(entry.get("images"), list):
            return None
        try:
            return [DocImage(name, base, digest, tuple(int(v) for v in borders) if borders else None,
                             int(width), int(height), int(layer_id), stored)
                    for name, base, digest, borders, width, height, layer_id, stored in entry["images"]]
        except (TypeError, ValueError):
            return None

    def put(self, path, signature, images):
        if signature is not None:
            self.entries[os.path.abspath(path)] = {"file": signature, "flavour": self.flavour,
                                                   "images": [list(astuple(image)) for image in images]}
            self.changed = True

    def save(self):
        """Write the cache file when it changed; a cache that cannot be written only costs the next run time."""
        if self.changed:
            content = json.dumps({"documents": self.entries}, separators=(",", ":")).encode("utf-8")
            with contextlib.suppress(OSError):
                filemanager._replace_file(self.path, content)
            self.changed = False


@functools.lru_cache(maxsize=None)
def _reader_version():
    from importlib import metadata

    try:
        return metadata.version("psd-tools")
    except metadata.PackageNotFoundError:
        return "?"

