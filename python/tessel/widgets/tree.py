"""The prefab's node tree as the widget pass reshapes it: nodes, their components and prefab infos.

The pass works on absolute geometry: every entry keeps its anchor point in
document coordinates (origin at the document's centre, y up, as the root node's
anchor point lies), so that moving a node to another parent, or giving it
another anchor, never moves what it draws.  Parent-relative positions, levels,
the object list's order and every reference are written back from the tree at
the end, once for all.
"""

from tessel import nodeweave
from tessel.road import fileids
from tessel.widgets.objects import Detached


def _ref(obj):
    return {"__id__": obj.id}


def _number(value):
    # Half pixels stay; whole numbers are written as integers, as fixPosition writes them.
    return int(value) if float(value).is_integer() else value


class Entry:
    """One node of the tree with its components, its prefab info and its place."""

    def __init__(self, node, info, components, layer, parent, world):
        self.node = node
        self.info = info
        self.components = components
        self.layer = layer  #: the layer-info object, None for a node the pass adds
        self.parent = parent
        self.children = []
        self.world = world  #: the anchor point, document coordinates, y up
        self.role = None  #: "view" or "content" for a node the pass adds

    @property
    def size(self):
        return (self.node._contentSize.width, self.node._contentSize.height)

    @property
    def anchor(self):
        return (self.node._anchorPoint.x, self.node._anchorPoint.y)

    @property
    def box(self):
        """(left, bottom, width, height), y up."""
        (w, h), (ax, ay) = self.size, self.anchor
        return (self.world[0] - ax * w, self.world[1] - ay * h, w, h)

    @property
    def page_box(self):
        """(left, top, width, height), y down, for the arrangement rules."""
        left, bottom, w, h = self.box
        return (left, -(bottom + h), w, h)

    @property
    def is_group(self):
        return self.layer is not None and isinstance(self.layer, nodeweave.YGroup)

    @property
    def is_pixel(self):
        """A pixel layer with an image: a layer without pixels has no sprite to show or refer to."""
        return self.layer is not None and isinstance(self.layer, nodeweave.YLayer) and self.sprite is not None

    @property
    def sprite(self):
        return next((c for c in self.components if isinstance(c, nodeweave.CCSprite)), None)

    @property
    def raw_name(self):
        return self.layer.name if self.layer is not None else self.node.name

    def path(self):
        """The layer's path in the document (names joined by "/"); an added node's under its widget."""
        if self.layer is None:
            return f"{self.parent.path()}/{self.node.name}"
        names = []
        layer = self.layer
        while layer.parent is not None:
            names.append(str(layer.name))
            layer = layer.parent
        return "/".join(reversed(names))

    def set_anchor(self, ax, ay):
        """Anchor the node at (ax, ay) of its box, the box staying where it is."""
        (w, h), (ox, oy) = self.size, self.anchor
        self.world = (self.world[0] + (ax - ox) * w, self.world[1] + (ay - oy) * h)
        self.node._anchorPoint.x, self.node._anchorPoint.y = ax, ay

    def set_box(self, left, bottom, width, height):
        """Give the node this box (y up) with its anchor kept; the children stay where they are."""
        ax, ay = self.anchor
        self.node._contentSize.width, self.node._contentSize.height = width, height
        self.world = (left + ax * width, bottom + ay * height)

    def move(self, dx, dy):
        """Move the node and everything below it."""
        self.world = (self.world[0] + dx, self.world[1] + dy)
        for child in self.children:
            child.move(dx, dy)

    def walk(self):
        yield self
        for child in self.children:
            yield from child.walk()


class Tree:
    """The whole node tree of one document, built from its layer-info tree after the position pass."""

    def __init__(self, psd):
        self.psd = psd
        self.prefab = psd.totalInfo[0]
        self.root = self._entry(psd, None, (0, 0))
        self.added = []

    def _entry(self, layer, parent, world):
        objects = list(layer.infolist)
        node = next(o for o in objects if isinstance(o, nodeweave.CCNode))
        info = next(o for o in objects if isinstance(o, nodeweave.CCPrefabInfo))
        components = [o for o in objects if isinstance(o, nodeweave.CCComponent)]
        entry = Entry(node, info, components, layer, parent, world)
        if isinstance(layer, nodeweave.YGroup):
            for child in layer:
                local = child.info._localPosition
                entry.children.append(self._entry(child, entry, (world[0] + local.x, world[1] + local.y)))
        return entry

    def add(self, parent, name, role, index=None):
        """A new node under ``parent`` (at ``index``, default last), with its prefab info."""
        node = nodeweave.CCNode()
        node.name = name
        node.layer = Detached(name)
        node._anchorPoint.x, node._anchorPoint.y = 0.5, 0.5
        info = nodeweave.CCPrefabInfo()
        info.layer = node.layer
        entry = Entry(node, info, [], None, parent, parent.world)
        entry.role = role
        parent.children.insert(len(parent.children) if index is None else index, entry)
        self.added.append(entry)
        return entry

    def objects(self):
        """The object list in the engine serializer's order: a node, its subtree, its components, its prefab info."""
        out = [self.prefab]

        def visit(entry):
            out.append(entry.node)
            for child in entry.children:
                visit(child)
            out.extend(entry.components)
            out.append(entry.info)

        visit(self.root)
        return out

    def place(self):
        """Write every node's parent-relative position and level from the tree."""
        for entry in self.root.walk():
            for child in entry.children:
                child.node._localPosition.x = _number(child.world[0] - entry.world[0])
                child.node._localPosition.y = _number(child.world[1] - entry.world[1])
                child.node.level = entry.node.level + 1

    def link(self):
        """Write every reference between nodes, components and prefab infos from the tree (objects numbered)."""
        for entry in self.root.walk():
            node = entry.node
            node._children = [_ref(child.node) for child in entry.children]
            if entry.parent is not None:
                node._parent = _ref(entry.parent.node)
            node._components = [_ref(c) for c in entry.components]
            node._prefab = _ref(entry.info)
            for component in entry.components:
                component.node = _ref(node)
        asset = self.root.info.asset.get("__uuid__", "")
        for entry in self.added:
            # The id pass draws every file id at random; a node the document does
            # not hold is named after its widget's layer id and its role instead,
            # so that a re-export keeps it.
            owner = entry.parent
            while owner.layer is None:
                owner = owner.parent
            entry.info.fileId = fileids.added_node_id(asset, owner.layer.id, entry.role)
