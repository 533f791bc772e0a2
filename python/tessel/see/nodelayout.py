"""The node tree of a prefab file, every node placed as the engine lays it out.

Every node sits at its parent's anchor point plus its own position (y up), its
box spans ``position - anchor * size`` to ``position + (1 - anchor) * size``,
and the root node sits at the canvas centre with the document's size.  A node's
position is read as the runtime of ``engine`` reads it: "_position" for 2.1,
"_trs" for 2.4 (a node without it sits at its parent's anchor point, as in that
runtime), "_lpos" for 3.8; without an engine, whichever of them the node has.
A 3.x node keeps its size and anchor in its cc.UITransform, its colour in its
renderer and an opacity below 255 in a cc.UIOpacity.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Optional

from tessel.see import widgetview
from tessel.road.engine import check_engine, is_3x, reads_trs


class PreviewError(Exception):
    """A prefab, meta file or image that cannot be rendered; the message says which and why."""


@dataclass(eq=False)
class Node:
    """One cc.Node of the prefab, laid out on the document canvas."""

    index: int
    name: str
    parent: Optional["Node"]
    size: tuple
    anchor: tuple
    world: tuple
    opacity: float
    color: tuple
    active: bool
    sprite: Optional[dict] = None
    label: Optional[dict] = None
    children: list = field(default_factory=list)
    parts: dict = field(default_factory=dict)  #: every enabled component by its "__type__"
    clip: Optional[tuple] = None  #: the pixel box a cc.Mask above (or on) the node clips it to
    dots: int = 0  #: pages of the cc.PageView whose indicator this node is
    #: the node's own (x, y) scale; the export scales only labels, which have no children
    scale: tuple = (1.0, 1.0)
    file_id: Optional[str] = None  #: the fileId of its cc.PrefabInfo
    asset: Optional[str] = None  #: the prefab UUID its cc.PrefabInfo names

    @property
    def box(self) -> tuple:
        """(left, bottom, right, top) in canvas units, y up, origin at the canvas's lower-left corner."""
        w, h = self.size[0] * self.scale[0], self.size[1] * self.scale[1]
        x0 = self.world[0] - self.anchor[0] * w
        y0 = self.world[1] - self.anchor[1] * h
        return (x0, y0, x0 + w, y0 + h)

    @property
    def path(self) -> str:
        """The names from below the root down to this node, joined by "/"."""
        names = []
        node = self
        while node.parent is not None:
            names.append(node.name)
            node = node.parent
        return "/".join(reversed(names))


@dataclass
class Layout:
    """The node tree of one prefab with every node placed."""

    width: float
    height: float
    root: Node
    nodes: list

    def pixel_box(self, node: Node) -> tuple:
        """A node's box as document pixels (left, top, right, bottom), y down."""
        x0, y0, x1, y1 = node.box
        return (x0, self.height - y1, x1, self.height - y0)


def _ref(value, what: str, count: int) -> int:
    if not isinstance(value, dict) or not isinstance(value.get("__id__"), int):
        raise PreviewError(f"{what} is not an object reference: {value!r}")
    index = value["__id__"]
    if not 0 <= index < count:
        raise PreviewError(f"{what} points at object {index}, outside the {count} objects")
    return index


def _pair(obj: dict, key: str, a: str, b: str, default: tuple) -> tuple:
    value = obj.get(key)
    if not isinstance(value, dict):
        return default
    return (float(value.get(a, default[0])), float(value.get(b, default[1])))


def _trs_position(obj: dict, index: int, at: int = 0) -> Optional[tuple]:
    """(x, y) from the node's "_trs" array (position at 0, scale at 7), or None when the node has none."""
    trs = obj.get("_trs")
    if trs is None:
        return None
    array = trs.get("array") if isinstance(trs, dict) else None
    if not isinstance(array, list) or len(array) != 10 or not all(
            isinstance(v, (int, float)) and not isinstance(v, bool) for v in array):
        raise PreviewError(f"node {index}: \"_trs\" is not a typed array of 10 numbers")
    return (float(array[at]), float(array[at + 1]))


def _scale(obj: dict, index: int, engine: Optional[str]) -> tuple:
    """The node's (x, y) scale as the runtime of ``engine`` reads it."""
    if (engine is not None and is_3x(engine)) or (engine is None and "_lpos" in obj):
        return _pair(obj, "_lscale", "x", "y", (1.0, 1.0))
    found = None if engine is not None and not reads_trs(engine) else _trs_position(obj, index, 7)
    return found if found is not None else _pair(obj, "_scale", "x", "y", (1.0, 1.0))


def _local_position(obj: dict, index: int, engine: Optional[str]) -> tuple:
    """Where the runtime of ``engine`` puts a node relative to its parent (None: the fields it has)."""
    if (engine is not None and is_3x(engine)) or (engine is None and "_lpos" in obj):
        return _pair(obj, "_lpos", "x", "y", (0.0, 0.0))
    if engine is not None and not reads_trs(engine):
        return _pair(obj, "_position", "x", "y", (0.0, 0.0))
    found = _trs_position(obj, index)
    if found is None:
        return (0.0, 0.0) if engine is not None else _pair(obj, "_position", "x", "y", (0.0, 0.0))
    return found


def _components(obj: dict, objects: list, index: int) -> dict:
    """Every enabled component of a node by its "__type__" (a later one of a type wins)."""
    parts = {}
    for ref in obj.get("_components") or ():
        comp = objects[_ref(ref, f"a component of node {index}", len(objects))]
        kind = comp.get("__type__") if isinstance(comp, dict) else None
        if kind and comp.get("_enabled", True):
            parts[kind] = comp
    return parts


def _sized(obj: dict, objects: list, index: int) -> dict:
    """Where a node keeps its size: its cc.UITransform (3.x), else the node itself (2.x)."""
    return _components(obj, objects, index).get("cc.UITransform", obj)


def layout_prefab(objects: list, engine: Optional[str] = None) -> Layout:
    """Place every node of a prefab's object list.

    The root node is the one the cc.Prefab's "data" names (element 1 when there
    is none); it sits at the canvas centre and its content size is the canvas.
    A child's anchor point lies at its parent's anchor point plus its
    position (see :func:`_local_position` for ``engine``); opacity multiplies
    down the tree as the engine cascades it.
    """
    if engine is not None:
        check_engine(engine)
    if not isinstance(objects, list) or len(objects) < 2:
        raise PreviewError("a prefab is a JSON array of at least a cc.Prefab and its root node")
    count = len(objects)
    head = objects[0]
    root_index = 1
    if isinstance(head, dict) and isinstance(head.get("data"), dict) and head["data"]:
        root_index = _ref(head["data"], "the prefab's data", count)
    root_obj = objects[root_index]
    if not isinstance(root_obj, dict) or root_obj.get("__type__") != "cc.Node":
        raise PreviewError(f"object {root_index}, the root, is not a cc.Node")
    width, height = _pair(_sized(root_obj, objects, root_index), "_contentSize", "width", "height", (0.0, 0.0))
    nodes = []
    seen = set()

    def visit(index: int, parent: Optional[Node]) -> Node:
        if index in seen:
            raise PreviewError(f"node {index} is reached twice in the node tree")
        seen.add(index)
        obj = objects[index]
        if not isinstance(obj, dict) or obj.get("__type__") != "cc.Node":
            raise PreviewError(f"object {index} is a child but not a cc.Node")
        parts = _components(obj, objects, index)
        sized = parts.get("cc.UITransform", obj)
        size = _pair(sized, "_contentSize", "width", "height", (0.0, 0.0))
        anchor = _pair(sized, "_anchorPoint", "x", "y", (0.5, 0.5))
        own = parts.get("cc.UIOpacity", obj).get("_opacity", 255) / 255
        if parent is None:
            world = (width / 2, height / 2)
            opacity = own
        else:
            local = _local_position(obj, index, engine)
            world = (parent.world[0] + local[0], parent.world[1] + local[1])
            opacity = parent.opacity * own
        renderer = parts.get("cc.Sprite") or parts.get("cc.Label") or {}
        colour = (renderer if "_lpos" in obj else obj).get("_color") or {}
        node = Node(
            index=index,
            name=obj.get("_name", ""),
            parent=parent,
            size=size,
            anchor=anchor,
            world=world,
            opacity=opacity,
            color=tuple(int(colour.get(k, 255)) for k in ("r", "g", "b", "a")),
            active=bool(obj.get("_active", True)) and (parent is None or parent.active),
            scale=_scale(obj, index, engine),
        )
        nodes.append(node)
        node.parts = parts
        node.sprite, node.label = parts.get("cc.Sprite"), parts.get("cc.Label")
        info = obj.get("_prefab")
        if isinstance(info, dict) and "__id__" in info:
            info = objects[_ref(info, f"the prefab info of node {index}", count)]
            if isinstance(info, dict):
                node.file_id = info.get("fileId")
                asset = info.get("asset")
                node.asset = asset.get("__uuid__") if isinstance(asset, dict) else None
        node.clip = widgetview.clip(node, height)
        for ref in obj.get("_children") or ():
            node.children.append(visit(_ref(ref, f"a child of node {index}", count), node))
        return node

    root = visit(root_index, None)
    widgetview.count_dots(nodes, objects)
    return Layout(width=width, height=height, root=root, nodes=nodes)
