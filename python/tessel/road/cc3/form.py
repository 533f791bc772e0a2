"""The 3.x road's part of an export: read back the 3.x identities, translate, write the 3.x files."""

import json
import os

from tessel import _jsonwriter, filemanager, log
from tessel.errors import DocumentError
from tessel.road import fileids
from tessel.road.cc3 import metas, prefab
from tessel.road.engine import merge_refusal


class ThreeForm:
    """Writes a document's prefab and meta files in the 3.x form (see tessel.road.engineform)."""

    def __init__(self, psd, options):
        self.psd = psd
        self.options = options
        self.objects = None

    def reading_metas(self):
        return metas.without_earlier_metas()

    def plan_metas(self):
        """The meta files to write; the prefab's objects are translated here too, before anything is written."""
        from tessel import nodeweave

        total = self.psd.totalInfo
        sprites = [(index, obj) for index, obj in enumerate(total) if isinstance(obj, nodeweave.CCSprite)]
        files, uuids = metas.plan(self.psd, sprites, self.options.fresh_meta, self.options.engine)
        fileids.assign(self.psd)  # again, now that the prefab UUID of an earlier 3.x export is known
        old = json.loads(_jsonwriter.dumps(total, None, nodeweave.formatCocosData))
        self.objects = prefab.translate(old, self.psd.name, uuids)
        return files

    def plan_prefab(self, path):
        """Refuse to overwrite a prefab the game team may have edited: the 3.x form is not merged yet.

        A prefab holding exactly what this export writes loses nothing and is
        let through, so re-exporting an unchanged document needs no flag.
        """
        if self.options.fresh_prefab or not os.path.lexists(path):
            return []
        try:
            with open(path, "rb") as f:
                same = json.load(f) == json.loads(_jsonwriter.dumps(self.objects, None, None))
        except (OSError, ValueError):
            same = False
        if not same:
            raise DocumentError(f"{path}: {merge_refusal(self.options.engine, True)} "
                                "(--fresh-prefab overwrites it, dropping what the game team added)")
        return []

    def save_prefab(self, path):
        filemanager.writeJson(path, self.objects, 2, None)

    def save_metas(self, files):
        """Write the prefab's meta file, the document's folder, then each image's meta file."""
        (prefab_path, prefab_data), *images = files
        filemanager.writeJson(prefab_path, prefab_data, 2, None)
        filemanager.mkdir(self.psd.name)
        for path, data in images:
            log.i("保存meta文件" + path)
            filemanager.writeJson(path, data, 2, None)
