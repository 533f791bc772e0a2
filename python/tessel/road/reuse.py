"""The export step that points sprites at images a library or the share folder holds, instead of writing copies.

Per image name of the document it looks the image up in the run's
:class:`tessel.road.share.Plan`: found, the image is not written into the
document's folder, no meta file is written for it there, and its sprites refer
to the sprite frame by the UUID the other meta file holds.  A shared image not
in the share folder yet is written there by this export, with its meta file
(merged with one on disk, so its UUIDs stay).
"""

import os
from dataclasses import dataclass
from typing import Optional

from tessel import filemanager
from tessel.errors import DocumentError
from tessel.road import library, metamerge, share, surveys
from tessel.road.imagefiles import ImageWriter


@dataclass(frozen=True)
class Source:
    """Where one image of the document comes from."""

    kind: str  #: "library" or "shared"
    texture_uuid: str
    frame_uuid: str
    png: str  #: absolute path of the PNG the sprite shows
    write: Optional[share.Shared] = None  #: a shared image this export writes


class Reuse:
    """The step for the document at ``path``, exported into ``outdir`` with ``options``; with ``plan`` None it changes nothing.

    ``layers`` are the document's pixel layer-infos after imagenames.settle
    (``naming``); ``keep`` layer-infos whose images stay the document's own (the
    state frames of widgets, whose meta files the widget pass writes itself).
    """

    def __init__(self, plan, psd, path, outdir, options, layers, naming, keep=()):
        self.plan = plan
        self.fresh_meta = options.fresh_meta
        self.sources = {}  #: image name to its Source
        self.bytes_saved = 0
        self.written = []  #: files this export wrote into the share folder
        self.warnings = []  #: one line per image of a library or share folder that could not be used
        self._writer = ImageWriter(cache=None, compress_level=options.png_compression)
        self._targets = {}  # share folder target: the Shared it writes
        if plan is None:
            return
        folder = os.path.join(outdir, psd.name)
        inside = library.holding(folder, plan.libraries)
        if inside is not None:
            raise DocumentError(f"its image folder {folder} lies in the library folder {inside}: "
                                "nothing is written into a library folder")
        if plan.share_folder and os.path.normpath(folder) == plan.share_folder:
            raise DocumentError(f"its image folder {folder} is the share folder; name the share folder otherwise")
        known = surveys.Surveys(outdir, options)
        signature = known.signature(path)
        images = known.get(path, signature)
        names = {layer.imageName for layer in layers if layer not in naming.empty}
        if images is None or {image.name for image in images} != names:
            images = surveys.survey(psd, layers, naming.empty, known.digests)
            known.put(path, signature, images)
            known.save()
        kept = {layer.imageName for layer in keep}
        for image in images:
            source = None if image.name in kept else self._lookup(image)
            if source is not None:
                self.sources[image.name] = source
                if source.write is None:
                    self.bytes_saved += _size(source.png)

    def _lookup(self, image):
        plan = self.plan
        found = plan.library.find(image.digest, image.borders, self.warnings.append) if plan.library else None
        if found:
            return Source("library", found.texture_uuid, found.frame_uuid, found.png)
        found = plan.in_share.find(image.digest, image.borders, self.warnings.append) if plan.in_share else None
        if found:
            return Source("shared", found.texture_uuid, found.frame_uuid, found.png)
        shared = plan.shared.get(image.key)
        if shared is None:
            return None
        png = os.path.join(plan.share_folder, shared.name + ".png")
        # Written by an earlier export of the run (or one running beside this one): its bytes are the same.
        write = None if os.path.isfile(png) else shared
        return Source("shared", shared.texture_uuid, shared.frame_uuid, png, write)

    def own(self, layer):
        """Whether the layer's image is the document's own, written into its folder."""
        return layer.imageName not in self.sources

    def count(self, kind):
        return sum(source.kind == kind for source in self.sources.values())

    def redirect(self, psd):
        """Point the sprites of found images at the other sprite frame (after refleshIdAndCreateMeta)."""
        if not self.sources:
            return
        from tessel import nodeweave

        for obj in psd.totalInfo:
            if isinstance(obj, nodeweave.CCSprite):
                source = self.sources.get(obj.layer.imageName)
                if source is not None:
                    obj.metaSprite = nodeweave.CCMetaSpriteSub(source.frame_uuid, "1.0.3", source.texture_uuid)

    def own_metas(self, psd, metas):
        """The meta files of the document's own images: ``metas`` (metamerge.plan, None when fresh) without the others."""
        if not self.sources:
            return metas
        if metas is None:
            # Each file its model alone, as saveMetaFile writes it.
            metas = metamerge.plan(psd, fresh=True)
        return [metas[0]] + [(path, data) for path, data in metas[1:] if not self._elsewhere(path)]

    def _elsewhere(self, meta_path):
        name = os.path.basename(os.fspath(meta_path))[: -len(".png.meta")]
        return name in self.sources

    def work(self, layers, inside):
        """(layer, target) for every shared image this export writes into the share folder.

        ``inside`` checks the targets (an Inside of the share folder).
        """
        result = []
        for layer in layers:
            source = self.sources.get(layer.imageName)
            if source is not None and source.write is not None and source.write not in self._targets.values():
                target = inside.check(source.png, layer)
                self._targets[target] = source.write
                result.append((layer, target))
        return result

    def writes_shared(self):
        """Whether this export writes images into the share folder."""
        return bool(self._targets)

    def own_target(self, target):
        """Whether a written ``target`` is one of the document's own images (not a shared one)."""
        return target not in self._targets

    def render(self, own):
        """A render function for save_images: shared images to a staged file, the others by ``own``."""
        if not self._targets:
            return own
        return lambda layer, target: self._writer.render(layer, target) if target in self._targets else own(layer, target)

    def save_metas(self, written):
        """Write the meta files of the shared images of ``written`` (targets now in place)."""
        from tessel import nodeweave

        for target in written:
            shared = self._targets.get(target)
            if shared is None:
                continue
            path = target + ".meta"
            data = shared.meta
            if not self.fresh_meta and os.path.isfile(path):
                existing = filemanager.loadJson(path)
                data = metamerge.merged_texture_meta(data, existing if isinstance(existing, dict) else {}, shared.sliced)
            filemanager.writeJson(path, data, 4, nodeweave.formatCocosData)
            self.written += [target, path]


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0
