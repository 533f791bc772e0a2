"""Final image names: one file per distinct layer image, the same file on every export.

The modules name a layer's image after the cleaned, pinyin-spelled names of the
document, its groups and the layer, so layers with reused names ("bg",
"Layer 1") would all write one PNG and point their sprites at whichever was
saved last.  Before the object list is built, :func:`settle` gives each
distinct image its own name by setting the layer-info's cached ``_imageName``,
which the sprite and its meta file read from then on.
"""

import hashlib
import unicodedata
from dataclasses import dataclass, field
from typing import List

from tessel.road.digest import image_digest
from tessel.errors import DocumentError, describe

# The longest file an image name becomes part of is the staged PNG
# ".NAME.png.XXXXXXXX.tmp" (18 bytes besides the name); file systems take
# 255 bytes (UTF-8 on Linux and macOS; Windows counts UTF-16 units, never
# more than the UTF-8 bytes).
NAME_BYTES = 255 - len("..png.00000000.tmp")

# Hex digits of the digest that replaces the tail of a name too long for a file.
DIGEST_DIGITS = 16


@dataclass
class Naming:
    """What :func:`settle` decided for a document's pixel layers."""

    empty: list = field(default_factory=list)  #: layer-infos without pixels: no image, no sprite
    warnings: List[str] = field(default_factory=list)  #: one line per image name that layers with different images shared

    def drop_empty_sprites(self, psd):
        """Take the sprites of layers without pixels out of the object list, keeping their nodes.

        Must run after ``initPsdInfo`` and before ids are numbered: ids are list
        positions, so no reference can point at a removed object.
        """
        from tessel import nodeweave

        if not self.empty:
            return
        empty = {id(layer) for layer in self.empty}

        def kept(obj):
            return not (isinstance(obj, nodeweave.CCSprite) and id(obj.layer) in empty)

        for layer in self.empty:
            layer.infolist[:] = [obj for obj in layer.infolist if kept(obj)]
        psd.totalInfo[:] = [obj for obj in psd.totalInfo if kept(obj)]


def file_key(name):
    """What a file system that ignores case and normalisation (Windows, macOS) sees of ``name``."""
    return unicodedata.normalize("NFC", name).casefold()


def has_pixels(layer):
    """Whether the layer renders to an image.

    psd-tools promises an image when ``has_pixels()`` is true, which it tells
    without decoding; anything else is decoded to be sure.
    """
    probe = getattr(layer.layer, "has_pixels", None)
    if layer.width and layer.height and probe is not None and probe():
        return True
    return _image(layer) is not None


def shorten(name):
    """``name`` cut to fit a file name, its end replaced by a digest of the whole (stable, distinct)."""
    raw = name.encode("utf-8", "surrogatepass")
    if len(raw) <= NAME_BYTES:
        return name
    digest = hashlib.sha1(raw).hexdigest()[:DIGEST_DIGITS]
    head = raw[: NAME_BYTES - DIGEST_DIGITS - 1].decode("utf-8", "ignore")
    return f"{head}-{digest}"


def settle(layers):
    """Decide the image name of every pixel layer-info in ``layers`` (document order); returns a :class:`Naming`.

    Layers whose names coincide for a file system (also through letter case)
    share one file only when their images are the same: same pixels after the
    nine-slice crop, same size and borders in the document, as the sprite frame
    describes them.  Among differing images, the one of the oldest layer (the
    lowest layer id; Photoshop never reuses or renumbers ids) keeps the name and
    every other gets "-" and its oldest layer's id appended, so no layer's file
    moves when other layers come or go.  Layers without a usable id (files
    written by psd-tools say -1) come after those with one, in document order,
    and are numbered by it: "-2", "-3", ...  Names are compared as shortened to
    fit a file name, so a layer literally named like another's shortened name
    gets a file of its own too.
    """
    naming = Naming()
    by_key = {}
    rank = {}
    for index, layer in enumerate(layers):
        rank[id(layer)] = index
        if has_pixels(layer):
            by_key.setdefault(file_key(shorten(layer.imageName)), []).append(layer)
        else:
            naming.empty.append(layer)

    def age(layer):
        return (0, layer.id, 0) if usable_id(layer) else (1, 0, rank[id(layer)])

    def oldest_of(members):
        return min(members, key=age)

    chosen = []  # [name, layers sharing it, keeps the name of its group]
    collisions = []  # the entries of chosen that one coinciding name became
    for group in by_key.values():
        if len(group) == 1:
            chosen.append([shorten(group[0].imageName), group, True])
            continue
        variants = _variants(group, naming.empty)
        variants.sort(key=lambda members: age(oldest_of(members)))
        entries = []
        for number, members in enumerate(variants, 1):
            oldest = oldest_of(members)
            if not entries:
                entries.append([shorten(oldest.imageName), members, True])
                continue
            suffix = oldest.id if usable_id(oldest) else number
            entries.append([f"{oldest.imageName}-{suffix}", members, False])
        chosen += entries
        if len(entries) > 1:
            collisions.append((entries[0][0], entries))

    taken = {file_key(name) for name, _, keeps in chosen if keeps}
    for entry in chosen:
        name, members, keeps = entry
        if not keeps:
            # A layer literally named like a suffixed one ("bg-12") holds the
            # name already; count on until the name is free.
            unique, n = shorten(name), 2
            while file_key(unique) in taken:
                unique, n = shorten(f"{name}-{n}"), n + 1
            taken.add(file_key(unique))
            entry[0] = name = unique
        for layer in members:
            if layer.imageName != name:
                layer._imageName = name
    naming.warnings = [_warning(name, entries) for name, entries in collisions]
    return naming


def _variants(group, empty):
    """The layers of ``group`` split by their image, in document order; layers found without pixels go to ``empty``."""
    by_image = {}
    for layer in group:
        image = _image(layer)
        if image is None:
            empty.append(layer)
            continue
        identity = (image_digest(image), layer.width, layer.height, layer.scale9Params)
        # Saving renders it again; keeping every image of a document until then
        # would hold them all in memory at once.
        layer._image = None
        by_image.setdefault(identity, []).append(layer)
    return list(by_image.values())


def _image(layer):
    try:
        return layer.image
    except Exception as e:
        raise DocumentError(f"cannot read the layer's image: {describe(e)}", layer) from e


def usable_id(layer):
    """Whether the layer has an id of its own: Photoshop numbers layers from 1; other writers may leave -1."""
    return isinstance(layer.id, int) and layer.id > 0


def _warning(name, entries):
    listed = "; ".join(", ".join(f"{_path(layer)} (id {layer.id})" for layer in members) + f" -> {final}.png"
                       for final, members, _ in entries)
    return f"layers with different images share the image name {name!r}, each image gets its own file: {listed}"


def _path(layer):
    """The layer's names from below the document down to it, joined by "/", quoted."""
    names = []
    while layer.parent is not None:
        names.append(str(layer.name))
        layer = layer.parent
    return repr("/".join(reversed(names)))
