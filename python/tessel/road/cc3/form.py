"""The 3.x road's part of an export: read back the 3.x identities, translate, write the 3.x files."""

import json

from tessel import _jsonwriter, filemanager, log
from tessel.road.cc3 import metas, prefab


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
        old = json.loads(_jsonwriter.dumps(total, None, nodeweave.formatCocosData))
        self.objects = prefab.translate(old, self.psd.name, uuids)
        return files

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
