"""The plan of a run: which images come from a library folder, and which the run's documents share.

A first pass surveys every document of the run (see tessel.road.surveys);
:func:`plan_run` then decides, and every export consults the :class:`Plan`.
The plan is a plain value, so exports running in other processes can use it.
An image is taken from a library folder when one holds it, else from the share
folder when an earlier run left it there; an image that two or more documents
of the run have in common gets a name in the share folder (the first layer's
image name without the document prefix), its UUIDs and its meta file's model,
and whichever export uses it first writes it.
"""

import os
from dataclasses import dataclass, field
from typing import Dict, List, Optional

from tessel import filemanager
from tessel.errors import DocumentError, describe
from tessel.road import library, metamerge
from tessel.road.imagenames import file_key, shorten
from tessel.road.library import Index


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


def share_folder(outdir, share):
    """The absolute share folder: ``share`` relative to the output folder."""
    return os.path.normpath(os.path.join(os.path.abspath(os.fspath(outdir)), os.fspath(share)))


def plan_run(outdir, options, surveys=(), folders=()):
    """Decide the run's reuse of images; ``surveys`` holds one tessel.road.surveys.survey per document, in run order.

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
            uuids = _earlier_uuids(filemanager.json_or_none(os.path.join(folder, item)), name)
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
