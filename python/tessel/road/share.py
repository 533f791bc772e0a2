"""The plan of a run: which images come from a library folder, and which the run's documents share.

A first pass surveys every document of the run (each distinct image's pixel
digest and scale-9 borders); :func:`plan_run` then decides, and every export
consults the :class:`Plan`.  The plan is a plain value, so exports running in
other processes can use it.  An image is taken from a library folder when one
holds it, else from the share folder when an earlier run left it there; an
image that two or more documents of the run have in common gets a name in the
share folder (the first layer's image name without the document prefix), its
UUIDs and its meta file's model, and whichever export uses it first writes it.
"""

import contextlib
import functools
import hashlib
import json
import os
from dataclasses import astuple, dataclass, field
from typing import Dict, List, Optional, Tuple

import PIL

import tessel
from tessel import filemanager, layerkit
from tessel.errors import DocumentError, describe
from tessel.road import library, metamerge
from tessel.road.library import Index
from tessel.road.imagenames import file_key, shorten

#: the cache file of document surveys in the output folder; hidden, so the game editor does not import it
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


@dataclass(frozen=True)
class Shared:
    """An image the run's documents have in common, to be written into the share folder."""

    name: str
    texture_uuid: str
    frame_uuid: str
    meta: dict  #: the model of its meta file, merged with the file on disk when written
    sliced: bool  #: whether its borders come from a scale-9 layer name


@dataclass
class Plan:
    """What the exports of one run take from elsewhere: a plain, picklable value."""

    library: Optional[Index] = None  #: the library folders' images
    share_folder: Optional[str] = None  #: absolute
    in_share: Optional[Index] = None  #: what the share folder held before the run
    shared: Dict[tuple, Shared] = field(default_factory=dict)  #: new shared images by DocImage.key
    libraries: List[str] = field(default_factory=list)  #: the library folders, absolute
    warnings: List[str] = field(default_factory=list)


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
        content = _read_json(self.path)
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


def share_folder(outdir, share):
    """The absolute share folder: ``share`` relative to the output folder."""
    return os.path.normpath(os.path.join(os.path.abspath(os.fspath(outdir)), os.fspath(share)))


def plan_run(outdir, options, surveys=(), folders=()):
    """Decide the run's reuse of images; ``surveys`` holds one :func:`survey` per document, in run order.

    The library and share folders are indexed (see tessel.road.library); a
    DocumentError says why they cannot be used, also when the output folder,
    the share folder or one of ``folders`` lies in a library folder.
    """
    outdir = os.path.abspath(os.fspath(outdir))
    libraries = library.check_folders(options.library or ())
    plan = Plan(libraries=libraries)
    shares = share_folder(outdir, options.share) if options.share else None
    for written in [outdir, shares, *folders]:
        inside = library.holding(written, libraries) if written else None
        if inside is not None:
            raise DocumentError(f"{written} lies in the library folder {inside}: nothing is written into a library folder")
    try:
        os.makedirs(outdir, exist_ok=True)
    except OSError as e:
        raise DocumentError(f"cannot create the output folder: {describe(e)}") from e
    if libraries:
        plan.library = library.load(libraries, outdir)
        plan.warnings += plan.library.warnings
    if not options.share:
        return plan
    plan.share_folder = folder = shares
    if folder == outdir:
        raise DocumentError("the share folder is the output folder itself; name a folder inside it, e.g. --share common")
    plan.in_share = library.load([folder], outdir) if os.path.isdir(folder) else library.Index()
    plan.warnings += plan.in_share.warnings

    users = {}
    for number, images in enumerate(surveys):
        for image in images:
            if plan.library and plan.library.find(image.digest, image.borders):
                continue
            if plan.in_share.find(image.digest, image.borders):
                continue
            users.setdefault(image.key, {}).setdefault(number, image)
    taken, old_uuids = _names_in(folder)
    for key, by_document in users.items():
        if len(by_document) < 2:
            continue
        first = next(iter(by_document.values()))
        name = _free_name(first, taken)
        texture_uuid, frame_uuid = old_uuids.get(name) or _fresh_uuids()
        meta = _meta_model(name, texture_uuid, frame_uuid, first)
        plan.shared[key] = Shared(name, texture_uuid, frame_uuid, meta, first.borders is not None)
    return plan


def _names_in(folder):
    """The file keys of the names the share folder's files hold, and the UUIDs of its meta files without a PNG."""
    taken, metas = set(), {}
    try:
        files = os.listdir(folder)
    except OSError:
        return taken, metas
    present = set(files)
    for item in files:
        if item.lower().endswith(".png"):
            taken.add(file_key(item[: -len(".png")]))
        elif item.lower().endswith(".png.meta") and item[: -len(".meta")] not in present:
            # A meta file whose PNG is gone: the image may come back under its UUIDs.
            name = item[: -len(".png.meta")]
            uuids = _earlier_uuids(_read_json(os.path.join(folder, item)), name)
            if uuids is None:
                taken.add(file_key(name))
            else:
                metas[name] = uuids
    return taken, metas


def _free_name(image, taken):
    """The share folder name of ``image``: its base name, else with its layer's id and a count appended."""
    name = shorten(image.base)
    if file_key(name) in taken:
        stem, n = f"{image.base}-{image.layer_id}", 2
        name = stem
        while file_key(shorten(name)) in taken:
            name, n = f"{stem}-{n}", n + 1
        name = shorten(name)
    taken.add(file_key(name))
    return name


def _fresh_uuids():
    from tessel import nodeweave

    return nodeweave.getUUID(), nodeweave.getUUID()


def _read_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def _earlier_uuids(data, name):
    """(texture, frame) UUIDs that an earlier meta file of the image ``name`` holds, None when it holds none."""
    subs = data.get("subMetas") if isinstance(data, dict) else None
    sub = subs.get(name) if isinstance(subs, dict) else None
    if not isinstance(sub, dict) or not isinstance(sub.get("uuid"), str) or not isinstance(data.get("uuid"), str):
        return None
    return data["uuid"], sub["uuid"]


def _meta_model(name, texture_uuid, frame_uuid, image):
    """The meta file of a shared image as an export writes it for the layer ``image`` came from."""
    from tessel import nodeweave

    meta = nodeweave.CCMetaSprite(texture_uuid, "2.2.0")
    sub = nodeweave.CCMetaSpriteSub(frame_uuid, "1.0.3", texture_uuid)
    sub.rawTextureUuid = texture_uuid
    sub.width = sub.rawWidth = image.width
    sub.height = sub.rawHeight = image.height
    if image.borders:
        sub.borderTop, sub.borderRight, sub.borderBottom, sub.borderLeft = image.borders
    meta.subMetas[name] = sub
    return metamerge.merged_texture_meta(meta.export(), {}, bool(image.borders))
