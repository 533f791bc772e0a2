"""How an export writes its prefab and meta files for the chosen engine: the 2.x passes' own form or the 3.x one."""

import contextlib

from tessel.road import metamerge, prefabmerge
from tessel.road.cc3.form import ThreeForm
from tessel.road.engine import is_3x


class TwoForm:
    """The 2.x form: the modules' own prefab, meta files merged by tessel.road.metamerge."""

    def __init__(self, psd, options):
        self.psd = psd
        self.options = options
        self.merged = None

    def reading_metas(self):
        """Meanwhile the 2.x passes read the identities of an earlier export."""
        return contextlib.nullcontext()

    def plan_metas(self):
        """What the meta files will hold (None: the models as they are); run before anything is written."""
        return None if self.options.fresh_meta else metamerge.plan(self.psd)

    def plan_prefab(self, path):
        """Merge with the prefab at ``path`` unless written fresh (see tessel.road.prefabmerge); the warnings."""
        self.merged, warnings = (None, []) if self.options.fresh_prefab else prefabmerge.plan(self.psd, path)
        return warnings

    def save_prefab(self, path):
        prefabmerge.save(self.psd, path, self.merged)

    def save_metas(self, files):
        metamerge.save(self.psd, files)


def form_for(psd, options):
    """The form ``options.engine`` writes ``psd`` in."""
    if is_3x(options.engine):
        return ThreeForm(psd, options)
    return TwoForm(psd, options)
