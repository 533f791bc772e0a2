"""The widgets pass, in the three steps the export road runs around its own passes::

    widgets = Widgets(psd)           # before initPsdInfo: hidden state images and marks join the tree
    nodeweave.initPsdInfo(psd); nodeweave.fixPosition(psd)
    widgets.build()                  # reshape the node tree, add the components
    nodeweave.refleshIdAndCreateMeta(psd)
    widgets.link()                   # references, file ids, the state frames' metas
    ...                              # write the prefab and the meta files
    widgets.save_metas()             # the meta files of images that have no node

A document without type words is left exactly as the plain export makes it.
"""

from tessel import filemanager, infos, log, nodeweave
from tessel.road import metamerge
from tessel.widgets import buttons, progressbar, scrolling
from tessel.widgets.names import MARK, clean, state_of, widget_word
from tessel.widgets.tree import Tree

BUILDERS = {
    "Button": buttons.button,
    "Toggle": buttons.toggle,
    "ProgressBar": progressbar.progress_bar,
    "ScrollView": scrolling.scroll_view,
    "List": scrolling.scroll_view,
    "ScrollPage": scrolling.page_view,
}


class Widgets:
    """The widget pass over one document; see the module's account of its steps."""

    def __init__(self, psd):
        self.psd = psd
        self.tree = None
        self.warnings = []  #: one line per type word that could not be honoured
        self.frames = []  #: sprites of layers that are state frames only: image and meta, no node
        self.hidden = set()  #: layer-infos of state images and check marks that the document hides
        self.made = []  #: (entry, description) per widget made, for `tessel tree`
        self._refs = []
        self._metas = []
        _reveal(psd, self.hidden)

    # -- steps ---------------------------------------------------------------

    def build(self):
        """Turn the groups named with type words into widgets (after the position pass)."""
        tree = Tree(self.psd)
        jobs = [(entry, widget_word(entry.raw_name)) for entry in tree.root.walk() if entry.parent is not None]
        jobs = [(entry, word) for entry, word in jobs if word]
        if not jobs:
            return
        self.tree = tree
        for entry, word in jobs:
            if not entry.is_group:
                self.warn(entry, f"{word}_ names a layer that is not a group; exported as a plain layer")
                continue
            BUILDERS[word](self, entry, word)
        buttons.containers(self, tree)
        tree.place()
        self.psd.totalInfo[:] = tree.objects()

    def link(self, merge=True):
        """Write the references the id pass cannot know (after refleshIdAndCreateMeta).

        Also builds the state frames' meta files, merged with the files on disk
        as the export merges every other (``merge``), before anything is written.
        """
        if self.tree is None:
            return
        self.tree.link()
        for sprite in self.frames:
            sprite.createMeta()
        for obj, field, target, asset in self._refs:
            if target is None:
                value = None
            elif asset:
                value = {"__uuid__": target.metaSprite.uuid}
            else:
                value = {"__id__": target.id}
            setattr(obj, field, value)
        read = {}
        for sprite in self.frames:
            data = sprite.meta.export()
            if merge:
                existing = metamerge._on_disk(sprite.metaPath, read)
                data = metamerge.merged_texture_meta(data, existing, bool(sprite.layer.scale9Params))
            self._metas.append((sprite.metaPath, data))

    def save_metas(self):
        """Write the meta file of every state frame (after the images are in place)."""
        for path, data in self._metas:
            log.i("保存meta文件" + path)
            filemanager.writeJson(path, data, 4, nodeweave.formatCocosData)

    # -- for the builders ----------------------------------------------------

    def warn(self, entry, text):
        self.warnings.append(f"{entry.path()}: {text}")

    def refer(self, obj, field, target, asset=False):
        """Set ``obj.field`` to a reference to ``target`` once objects are numbered (asset: its sprite frame)."""
        self._refs.append((obj, field, target, asset))

    def make_frame(self, entry):
        """Take a pixel layer's node out of the tree; its image and meta file stay, for a reference by UUID."""
        entry.parent.children.remove(entry)
        self.frames.append(entry.sprite)

    def add_component(self, entry, component, description):
        entry.components.append(component)
        self.made.append((entry, description))


def survey(psd):
    """Run the pass without writing: ([(layer path, widget description)], warning lines), for `tessel tree`.

    ``psd`` must be a freshly opened document; it is converted on the way.
    """
    widgets = Widgets(psd)
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    widgets.build()
    return [(entry.path(), text) for entry, text in widgets.made], widgets.warnings


class NoWidgets:
    """The pass when the option is off: it changes nothing."""

    frames = warnings = ()

    def build(self, merge=True):
        pass

    link = save_metas = build


def _reveal(group, hidden):
    """Give Button_ and Toggle_ groups the layer-infos of the state images and check mark the document hides.

    Hidden layers never join the tree, but a designer keeps the other states'
    art hidden so that the document shows the normal one, and an unchecked
    toggle needs its mark: the mark's node is written inactive, and a click
    shows it.  The revealed layer-infos take their places in document order.
    """
    for child in group:
        if isinstance(child, infos.YGroup):
            _reveal(child, hidden)
    word = None if isinstance(group, infos.YPSD) else widget_word(group.name)
    if word not in ("Button", "Toggle"):
        return
    need_mark = word == "Toggle" and not any(isinstance(c, infos.YLayer) and clean(c.name) in MARK for c in group)
    known = {id(c.layer): c for c in group}
    kept = []
    for layer in group.layer:
        if id(layer) in known:
            kept.append(known[id(layer)])
            continue
        if layer.kind != "pixel" or layer.visible or str(layer.name).startswith("NotExport"):
            continue
        mark = need_mark and clean(layer.name) in MARK
        if mark or state_of(layer.name):
            need_mark = need_mark and not mark
            info = infos.YLayer(layer)
            info.parent = group
            kept.append(info)
            hidden.add(info)
    group._layers[:] = kept
