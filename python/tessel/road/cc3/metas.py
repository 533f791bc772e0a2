"""The 3.x meta files: an image meta with its texture and sprite-frame sub-metas, and the prefab meta.

The frame's sizes, trims and borders are the 2.x frame meta's.  UUIDs are read
back from the 3.x meta files of an earlier export, so the references a game
project holds survive; a re-export merges each file as tessel.road.metamerge
does for 2.x: what derives from the PSD follows the PSD, every other key keeps
the file's value, at any level.
"""

import contextlib
import tempfile

from tessel import filemanager
from tessel.road.cc3.prefab import SPRITE_FRAME
from tessel.road.metaform import check_form
from tessel.road.metamerge import merge

TEXTURE = "6c48a"
#: Keys that always follow the PSD, per level of an image meta.
IMAGE_DERIVED = frozenset({"uuid", "subMetas", "userData", "displayName"})
IMAGE_USER_DERIVED = frozenset({"type", "redirect"})
SUB_DERIVED = frozenset({"uuid", "userData", "displayName", "id", "name", "subMetas"})
TEXTURE_USER_DERIVED = frozenset({"imageUuidOrDatabaseUri"})
FRAME_USER_DERIVED = frozenset({"imageUuidOrDatabaseUri", "offsetX", "offsetY", "trimX", "trimY", "width",
                                "height", "rawWidth", "rawHeight", "vertices"})
BORDERS = frozenset({"borderTop", "borderBottom", "borderLeft", "borderRight"})
PREFAB_DERIVED = frozenset({"uuid", "userData"})
PREFAB_USER_DERIVED = frozenset({"syncNodeName"})
#: Texture settings the editor copies into the sprite frame's user data.
SAMPLING = {"wrapModeS": "clamp-to-edge", "wrapModeT": "clamp-to-edge", "minfilter": "linear",
            "magfilter": "linear"}


def _sub(uuid, sub_id, importer, version, name, display, user):
    return {"ver": version, "importer": importer, "uuid": f"{uuid}@{sub_id}", "imported": True, "files": [".json"],
            "subMetas": {}, "userData": user, "displayName": display, "id": sub_id, "name": name}


def vertices(frame):
    """The frame's quad as the editor stores it: corners around the pivot, pixel and normalised UVs."""
    w, h = frame["width"], frame["height"]
    x0, y0 = frame["trimX"], frame["trimY"]
    raw_w, raw_h = frame["rawWidth"] or 1, frame["rawHeight"] or 1
    uv = [x0, y0 + h, x0 + w, y0 + h, x0, y0, x0 + w, y0]
    nuv = [value / raw_w if i % 2 == 0 else 1 - value / raw_h for i, value in enumerate(uv)]
    half_w, half_h = w / 2, h / 2
    half_w, half_h = (int(v) if float(v).is_integer() else v for v in (half_w, half_h))
    return {
        "rawPosition": [-half_w, -half_h, 0, half_w, -half_h, 0, -half_w, half_h, 0, half_w, half_h, 0],
        "indexes": [0, 1, 2, 2, 1, 3],
        "uv": uv,
        "nuv": [int(v) if float(v).is_integer() else v for v in nuv],
        "minPos": [-half_w, -half_h, 0],
        "maxPos": [half_w, half_h, 0],
    }


def image_meta(uuid, display, frame):
    """The image meta of the PNG ``display`` with UUID ``uuid``; ``frame`` is the 2.x frame meta's dictionary."""
    texture = _sub(uuid, TEXTURE, "texture", "1.0.22", "texture", display, {
        **SAMPLING, "mipfilter": "none", "premultiplyAlpha": False, "anisotropy": 0, "isUuid": True,
        "imageUuidOrDatabaseUri": uuid, "visible": False,
    })
    user = {**SAMPLING, "premultiplyAlpha": False, "generateMipmap": False, "anisotropy": 1,
            "trimType": frame.get("trimType", "auto"), "trimThreshold": frame.get("trimThreshold", 1),
            "rotated": frame.get("rotated", False)}
    for key in ("offsetX", "offsetY", "trimX", "trimY", "width", "height", "rawWidth", "rawHeight",
                "borderTop", "borderBottom", "borderLeft", "borderRight"):
        user[key] = frame.get(key, 0)
    user.update({"isUuid": True, "imageUuidOrDatabaseUri": f"{uuid}@{TEXTURE}", "atlasUuid": "",
                 "mipfilter": "none", "packable": True, "vertices": vertices(user), "pixelsToUnit": 100,
                 "pivotX": 0.5, "pivotY": 0.5, "meshType": 0})
    sprite_frame = _sub(uuid, SPRITE_FRAME, "sprite-frame", "1.0.12", "spriteFrame", display, user)
    return {"ver": "1.0.27", "importer": "image", "imported": True, "uuid": uuid, "files": [".json", ".png"],
            "subMetas": {TEXTURE: texture, SPRITE_FRAME: sprite_frame},
            "userData": {"type": "sprite-frame", "redirect": f"{uuid}@{TEXTURE}", "hasAlpha": True,
                         "fixAlphaTransparencyArtifacts": False}}


def prefab_meta(uuid, root_name):
    """The meta of a prefab with UUID ``uuid`` whose root node is ``root_name``."""
    return {"ver": "1.1.50", "importer": "prefab", "imported": True, "uuid": uuid, "files": [".json"],
            "subMetas": {}, "userData": {"syncNodeName": root_name}}


def _dict(value):
    return value if isinstance(value, dict) else {}


def merged_image_meta(model, existing, scale9):
    """The image meta ``model`` merged with the file's ``existing``; ``scale9``: the layer name gave borders."""
    subs = _dict(existing.get("subMetas"))
    data = merge(model, existing, IMAGE_DERIVED)
    data["userData"] = merge(model["userData"], _dict(existing.get("userData")), IMAGE_USER_DERIVED)
    frame_derived = FRAME_USER_DERIVED | BORDERS if scale9 else FRAME_USER_DERIVED
    merged = {}
    for sub_id, sub in model["subMetas"].items():
        old = _dict(subs.get(sub_id))
        entry = merge(sub, old, SUB_DERIVED)
        derived = frame_derived if sub_id == SPRITE_FRAME else TEXTURE_USER_DERIVED
        entry["userData"] = merge(sub["userData"], _dict(old.get("userData")), derived)
        merged[sub_id] = entry
    data["subMetas"] = merged
    return data


def merged_prefab_meta(model, existing):
    """The prefab meta ``model`` merged with the file's ``existing``."""
    data = merge(model, existing, PREFAB_DERIVED)
    data["userData"] = merge(model["userData"], _dict(existing.get("userData")), PREFAB_USER_DERIVED)
    return data


def earlier(path, engine):
    """The 3.x meta file at ``path`` (relative to the output folder) and its "uuid"; ({}, None) when there is none.

    A file that is no JSON object, has no UUID text or the 2.x form is refused, naming it.
    """
    if not filemanager.exists(path):
        return {}, None
    data = filemanager.loadJson(path)
    check_form(filemanager.resolve(path), data, engine)
    uuid = data.get("uuid") if isinstance(data, dict) else None
    if not isinstance(uuid, str) or not uuid:
        raise ValueError(f"{filemanager.resolve(path)}: the meta file has no \"uuid\" text")
    return data, uuid


@contextlib.contextmanager
def without_earlier_metas():
    """Meanwhile, the 2.x passes find no meta file of an earlier export.

    They read identities from 2.x meta files only; the 3.x files are read back by
    :func:`plan`, and the 2.x passes make fresh UUIDs that a first export keeps.
    """
    previous = filemanager.outputDir
    with tempfile.TemporaryDirectory(prefix="tessel-no-metas-") as empty:
        filemanager.setOutputDir(empty)
        try:
            yield
        finally:
            filemanager.outputDir = previous


def plan(psd, sprites, fresh, engine):
    """What each 3.x meta file of the export holds, and the image UUID of every sprite.

    ``sprites`` are the document's (index, CCSprite) pairs.  Returns the
    (path, dictionary) pairs in writing order (the prefab's first) and a map of
    sprite index to image UUID.  Sprites of one image name share one file and so
    one UUID: the earlier file's, else the first sprite's.  ``fresh``: write the
    models without merging them with the files on disk.  ``engine`` is the 3.x
    runtime written for: an earlier file of the 2.x form is refused.
    """
    prefab = psd.totalInfo[0]
    existing, uuid = earlier(prefab.metaPath, engine)
    if uuid:
        # The 2.x passes could not read it back; the file ids derive from it.
        prefab.meta.uuid = uuid
    model = prefab_meta(prefab.meta.uuid, psd.name)
    files = [(prefab.metaPath, model if fresh else merged_prefab_meta(model, existing))]
    uuids, images = {}, {}
    for index, sprite in sprites:
        path = sprite.metaPath
        if path not in images:
            existing, uuid = earlier(path, engine)
            uuid = uuid or sprite.meta.uuid
            model = image_meta(uuid, sprite.layer.imageName, sprite.metaSprite.export())
            images[path] = uuid
            files.append((path, model if fresh else
                          merged_image_meta(model, existing, bool(sprite.layer.scale9Params))))
        uuids[index] = images[path]
    return files, uuids
