"""Meta files merged with the ones on disk, so a re-export keeps what the game project set in them.

Once an exported folder lives in a Creator project, the editor rewrites every
.meta file with keys of its own ("importer", "platformSettings", "packable", ...)
and the developers' settings ("filterMode", a frame's borders, "trimType", ...).
A re-export writes what it derives from the PSD and keeps everything else:

- derived, written from the model: the UUIDs (read back from these very files),
  the frame's sizes, trims and offsets and "rawTextureUuid", its borders when the
  layer name carries scale-9 numbers, the texture's "width" and "height" when the
  file has them, and which entries "subMetas" holds (one per image name);
- every other key keeps the file's value, at any level, also where the model
  writes a default of its own ("ver", "filterMode", "optimizationPolicy", ...).

Keys come in the model's order, then the file's other keys in the file's order,
so a merged file is the same from one export to the next.  Without an earlier
file a merged meta file is byte for byte the file the model gives.
"""

from tessel import filemanager, log

#: Keys of a sprite-frame sub-meta that always follow the PSD.
FRAME_DERIVED = frozenset({
    "uuid", "rawTextureUuid", "offsetX", "offsetY", "trimX", "trimY",
    "width", "height", "rawWidth", "rawHeight", "subMetas",
})
#: Borders of a sprite frame: derived only from a layer name with scale-9 numbers.
BORDERS = frozenset({"borderTop", "borderBottom", "borderLeft", "borderRight"})
#: Keys of a texture or prefab meta file that always follow the PSD.
ASSET_DERIVED = frozenset({"uuid", "subMetas"})
#: Texture-level sizes the editor adds, and the frame key that holds the same size.
TEXTURE_SIZE = {"width": "rawWidth", "height": "rawHeight"}


def merge(model, existing, derived):
    """``model`` with the values of ``existing`` for every key outside ``derived``.

    The model's keys first, in its order, then the keys only ``existing`` has, in
    its order.  Neither dictionary is changed.
    """
    data = {key: value if key in derived or key not in existing else existing[key]
            for key, value in model.items()}
    for key, value in existing.items():
        data.setdefault(key, value)
    return data


def merged_prefab_meta(model, existing):
    """The .prefab.meta dictionary: the model's ``export()`` merged with the file's."""
    return merge(model, existing, ASSET_DERIVED)


def merged_texture_meta(model, existing, scale9):
    """The .png.meta dictionary: the model's ``export()`` merged with the file's.

    ``scale9`` says whether the layer name gave the borders.  "subMetas" holds
    the model's frames, one per image name, each merged with the file's entry of
    that name; an entry the file holds under another name is dropped.
    """
    data = merge(model, existing, ASSET_DERIVED)
    old_frames = existing.get("subMetas")
    if not isinstance(old_frames, dict):
        old_frames = {}
    derived = FRAME_DERIVED | BORDERS if scale9 else FRAME_DERIVED
    frames = {}
    for name, frame in model["subMetas"].items():
        old = old_frames.get(name)
        frames[name] = merge(_exported(frame), old if isinstance(old, dict) else {}, derived)
    data["subMetas"] = frames
    # A texture holds one frame, whose raw size is the texture's size.
    if len(frames) == 1:
        (frame,) = frames.values()
        for key, size in TEXTURE_SIZE.items():
            if key in data and key not in model:
                data[key] = frame[size]
    return data


def _exported(meta):
    """A meta model's dictionary (a plain dictionary stays as it is)."""
    return meta if isinstance(meta, dict) else meta.export()


def _on_disk(path, read):
    """The dictionary of the meta file at ``path``, or an empty one when there is none.

    ``read`` remembers files across calls: sprites of one image name share a file.
    """
    if path not in read:
        read[path] = filemanager.loadJson(path) if filemanager.exists(path) else {}
    existing = read[path]
    # The id pass already refused a file that is no JSON object or lacks a UUID.
    return existing if isinstance(existing, dict) else {}


def plan(psd, fresh=False):
    """What each meta file of the export will hold, merged with the file on disk (``fresh``: with none).

    Returns a list of (path, dictionary) pairs in the order the files are written
    (the prefab's, then one per sprite in list order).  Call it after
    ``refleshIdAndCreateMeta`` and before anything is written.
    """
    from tessel import nodeweave

    read = {}

    def on_disk(path):
        # Merged with an empty dictionary, a file is its model.
        return {} if fresh else _on_disk(path, read)

    prefab = psd.totalInfo[0]
    files = [(prefab.metaPath, merged_prefab_meta(_exported(prefab.meta), on_disk(prefab.metaPath)))]
    for obj in psd.totalInfo:
        if isinstance(obj, nodeweave.CCSprite):
            existing = on_disk(obj.metaPath)
            scale9 = bool(obj.layer.scale9Params)
            files.append((obj.metaPath, merged_texture_meta(_exported(obj.meta), existing, scale9)))
    return files


def save(psd, files=None):
    """Write the meta files: the merged ``files`` of :func:`plan`, or the models as they are (None).

    The merged files go the way ``saveMetaFile`` writes the models: the prefab's,
    the document's folder, then each sprite's with its log line.
    """
    from tessel import nodeweave

    if files is None:
        prefab = psd.totalInfo[0]
        nodeweave.saveMetaFile(prefab.meta, prefab.metaPath, psd)
        return
    (prefab_path, prefab_data), *sprites = files
    filemanager.writeJson(prefab_path, prefab_data, 4, nodeweave.formatCocosData)
    filemanager.mkdir(psd.name)
    for path, data in sprites:
        log.i("保存meta文件" + path)
        filemanager.writeJson(path, data, 4, nodeweave.formatCocosData)
