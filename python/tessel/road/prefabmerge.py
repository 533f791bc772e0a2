"""The prefab merged with the one on disk, so a re-export keeps what the game team did to it in the editor.

The merge works on object lists as the file holds them: JSON objects in
written order, tied together by ``{"__id__": n}``.  The export's list and the
file's are read alike, nodes are matched by their file id (for a prefab written
before file ids were stable, by the path of their names), and one list is made:

- the export's nodes and their components, with the keys the export derives
  from the PSD (tessel.road.prefabkeys.OWNED) from the export, every other key
  as the file has it, in the file's key order (in the export's own form, a key
  only the export writes follows the key before it in the export's order; in
  the editor's form, keys the editor dropped stay out);
- the file's objects the export does not make (components, scripts, nodes, the
  objects they refer to) where they were: under the same node, after the same
  sibling;
- nodes of layers since deleted are left out, with everything the team had put
  on or under them (one warning each), and references to left-out objects
  become null (one warning each).

The merged list is in the engine serializer's order (each object where a walk
of the references from the cc.Prefab first meets it), which is the export's
own order when the team added nothing: merging an unchanged document into its
own prefab gives the same text.
"""

import gc
import json
import os

from tessel.errors import DocumentError, describe
from tessel.road import fileids, prefabkeys
from tessel.road.prefabform import Form, Refusal



class _Slot:
    """One object of the merged list: the export's (``e``), the file's (``f``), or both matched."""

    __slots__ = ("e", "f", "index", "data")

    def __init__(self, e=None, f=None):
        self.e, self.f = e, f
        self.index = None
        self.data = None


def read(path):
    """The object list of the prefab file at ``path``; DocumentError naming it when it is not JSON."""
    try:
        with open(path, "rb") as f:
            return json.loads(f.read().decode("utf-8", "surrogatepass"))
    except (ValueError, UnicodeDecodeError) as e:
        raise _refused(path, f"not a JSON file ({describe(e)})") from e
    except OSError as e:
        raise DocumentError(f"cannot read {path}: {describe(e)}") from e


def _refused(path, why):
    return DocumentError(f"{path}: {why}; --fresh-prefab overwrites it")


def merge(exported, existing, uuid, path, added=frozenset()):
    """The merged object list and the warning lines; ``existing`` is refused (DocumentError) when foreign or broken.

    ``exported`` and ``existing`` are object lists (the export's, the file's),
    ``uuid`` the prefab's UUID, ``path`` the file's name for the messages,
    ``added`` the file ids the widget pass gives the nodes it adds.
    """
    try:
        mine, theirs = Form(exported, trusted=True), Form(existing, uuid)
    except Refusal as e:
        raise _refused(path, str(e)) from None
    return _Merge(mine, theirs, uuid, added).run()


class _Merge:
    def __init__(self, mine, theirs, uuid, added):
        self.e, self.f, self.uuid, self.added = mine, theirs, uuid, added
        self.warnings = []
        self.eslot = [_Slot(e=i) for i in range(len(mine.objects))]
        self.fslot = {}  # file index -> its slot, or None when left out
        self.kept = set()  # file indices of the team's nodes and components

    def run(self):
        self._match()
        self._keep()
        order = self._order()
        return [self._emit(slot.data) for slot in order], self.warnings

    # -- which file objects are whose ----------------------------------------

    def _pair(self, e, f):
        self.eslot[e].f = f
        self.fslot[f] = self.eslot[e]

    def _match(self):
        e, f = self.e, self.f
        self._pair(0, 0)
        pairs = {e.root: f.root}
        by_id = {}
        for node in f.nodes:
            by_id.setdefault(f.file_id(node), node)
        taken = {f.root}
        legacy = not fileids.is_exported(self.uuid, f.file_id(f.root))
        by_path = {}
        if legacy:
            for node in f.nodes:
                by_path.setdefault(f.path(node), node)
        for node in e.nodes:
            if node == e.root:
                continue
            other = by_id.get(e.file_id(node))
            if other is None and legacy:
                other = by_path.get(e.path(node))
            if other is not None and other not in taken:
                pairs[node] = other
                taken.add(other)
        for node, other in pairs.items():
            self._pair(node, other)
            if e.info[node] is not None and f.info[other] is not None:
                self._pair(e.info[node], f.info[other])
            free = list(f.components[other])
            for component in e.components[node]:
                kind = e.type(component)
                match = next((c for c in free if f.type(c) == kind), None)
                if match is not None:
                    free.remove(match)
                    self._pair(component, match)

    def _made_by_export(self, index):
        """Whether a file node or component came from an earlier export (else: the team's)."""
        obj = self.f.objects[index]
        if type(obj.get("_id")) is int:
            return True  # the export's own writing, not yet saved by the editor
        if not self.f.is_node(index):
            return False
        file_id = self.f.file_id(index)
        return fileids.is_exported(self.uuid, file_id) or file_id in self.added

    def _widget_of_added(self, component):
        """Whether ``component`` is a scroll or page view the widget pass made: it points at a node the pass added."""
        if self.f.type(component) not in ("cc.ScrollView", "cc.PageView"):
            return False
        for value in self.f.objects[component].values():
            if type(value) is dict and len(value) == 1 and "__id__" in value:
                target = value["__id__"]
                if self.f.is_node(target) and self.f.file_id(target) in self.added:
                    return True
        return False

    def _first_of_kind(self, component, node):
        """Whether ``component`` is what the export made on its (left-out) node: the first of an export's kind."""
        kind = self.f.type(component)
        if kind not in prefabkeys.OWNED:
            return False
        return next(c for c in self.f.components[node] if self.f.type(c) == kind) == component

    def _keep(self):
        """Decide the fate of every file node and component the export did not match."""
        f = self.f
        for node in f.nodes:  # parents before children
            if node in self.fslot:
                alive = True
            else:
                parent = f.parent[node]
                alive = self.fslot.get(parent) is not None and not self._made_by_export(node)
                if alive:
                    self._keep_object(node)
                    if f.info[node] is not None:
                        self._keep_object(f.info[node])
                else:
                    self._leave_out(node)
            for component in f.components[node]:
                if component in self.fslot:
                    continue
                if alive and not (self._made_by_export(component) or self._widget_of_added(component)):
                    self._keep_object(component)
                else:
                    self.fslot[component] = None
                    if not (self._made_by_export(component) or self._made_by_export(node)
                            and self._first_of_kind(component, node)):
                        self._warn_gone(f"component {f.type(component)} on node {f.path_text(node)}", node)

    def _keep_object(self, index):
        self.fslot[index] = _Slot(f=index)
        self.kept.add(index)

    def _leave_out(self, node):
        f = self.f
        self.fslot[node] = None
        if f.info[node] is not None:
            self.fslot[f.info[node]] = None
        if not self._made_by_export(node):
            self._warn_gone(f"node {f.path_text(node)}", node)

    def _warn_gone(self, what, node):
        f = self.f
        owner = node
        while owner is not None and not (self.fslot.get(owner, 0) is None and self._made_by_export(owner)):
            owner = f.parent[owner]
        layer = f.path_text(owner) if owner is not None else "?"
        self.warnings.append(f"{what} removed with the node {layer}, whose layer is gone")

    # -- the merged objects ---------------------------------------------------

    def _order(self):
        """Every slot reachable from the cc.Prefab, numbered in the serializer's order (first met, depth first)."""
        root = self.eslot[0]
        order = []
        stack = [iter((root,))]
        while stack:
            slot = next(stack[-1], None)
            if slot is None:
                stack.pop()
                continue
            if slot.index is not None:
                continue
            slot.index = len(order)
            order.append(slot)
            slot.data = self._build(slot)
            stack.append(iter(_refs(slot.data, [])))
        return order

    def _build(self, slot):
        """The slot's object with its references as slots."""
        if slot.f is None:
            mine = self.e.objects[slot.e]
            if self.f.transforms and mine.get("__type__") == "cc.Node" and "_trs" not in mine:
                mine = prefabkeys.with_transform(mine)
            return self._from_export(mine)
        if slot.e is None:
            return self._kept(slot.f)
        return self._matched(slot)

    def _kept(self, index):
        obj = self.f.objects[index]
        if not self.f.is_node(index):
            return {key: self._from_file(value, index, key) for key, value in obj.items()}
        # Its children and components are the team's that stay; the export's nodes go where it puts them.
        data = {key: self._from_file(value, index, key) for key, value in obj.items()
                if key not in ("_children", "_components")}
        data = {key: data.get(key) for key in obj}
        data["_children"] = self._interleave([], index, "_children")
        data["_components"] = self._interleave([], index, "_components")
        return data

    def _matched(self, slot):
        mine, theirs = self.e.objects[slot.e], self.f.objects[slot.f]
        kind = mine.get("__type__")
        owned = prefabkeys.OWNED.get(kind, ())
        follows = prefabkeys.FOLLOWS.get(kind, {})
        data = {}
        for key, value in theirs.items():
            if key == "_trs" and kind == "cc.Node" and type(value) is dict:
                data[key] = prefabkeys.transform(mine, value)
            elif key in mine and (key in owned or (key == "_id" and not isinstance(value, str))
                                  or (key in follows and mine.get(follows[key]) != theirs.get(follows[key]))):
                data[key] = self._from_export(mine[key])
            else:
                data[key] = self._from_file(value, slot.f, key)
        # Keys the file lacks: in the editor's form (string "_id") the editor dropped them, and they
        # stay out but for the 2.2+ transform, which a switch to --engine 2.4 must bring in.
        editor = type(theirs.get("_id")) is str
        missing = {key: self._from_export(value) for key, value in mine.items()
                   if key not in theirs and (not editor or key in prefabkeys.ENGINE_KEYS)}
        if missing:
            data = prefabkeys.with_missing(data, missing, mine)
        if kind == "cc.Node":
            data["_children"] = self._interleave(data["_children"], slot.f, "_children")
            data["_components"] = self._interleave(data["_components"], slot.f, "_components")
        return data

    def _interleave(self, slots, node, key):
        """``slots`` with the team's items of the file node's list ``key`` inserted after their earlier sibling."""
        listed = self.f.objects[node].get(key) or []
        indices = [ref["__id__"] for ref in listed]
        if not any(i in self.kept and self.fslot[i] is not None for i in indices):
            return slots
        result = list(slots)
        for at, index in enumerate(indices):
            if index not in self.kept or self.fslot[index] is None:
                continue
            where = 0
            for before in reversed(indices[:at]):
                slot = self.fslot.get(before)
                if slot is not None and slot in result:
                    where = result.index(slot) + 1
                    break
            result.insert(where, self.fslot[index])
        return result

    def _from_export(self, value):
        if type(value) not in _NESTED:
            return value
        return _translate(value, self.eslot.__getitem__)

    def _from_file(self, value, holder, key=None):
        if type(value) not in _NESTED:
            return value

        def target(n):
            if n not in self.fslot:  # an object only the team's objects refer to (a click event, ...)
                self.fslot[n] = _Slot(f=n)
            slot = self.fslot[n]
            if slot is None:
                self.warnings.append(f"{self.f.describe(holder)}: {key} referred to {self.f.describe(n)}, "
                                     "which is gone; set to null")
            return slot

        return _translate(value, target)

    def _emit(self, data):
        return _translate(data, None)


def _translate(value, target):
    """``value`` with every reference turned by ``target`` (index to slot), or slots back into references (None)."""
    kind = type(value)
    if kind is dict:
        if target is not None and len(value) == 1 and "__id__" in value:
            return target(value["__id__"])
        return {k: _translate(v, target) if type(v) in _NESTED else v for k, v in value.items()}
    if kind is list:
        return [_translate(v, target) if type(v) in _NESTED else v for v in value]
    if kind is _Slot:
        return {"__id__": value.index}
    return value


def _refs(value, found):
    """Append the slots ``value`` refers to, in written order, to ``found``."""
    kind = type(value)
    if kind is _Slot:
        found.append(value)
    elif kind is dict or kind is list:
        for v in value.values() if kind is dict else value:
            if type(v) in _NESTED:
                _refs(v, found)
    return found


_NESTED = frozenset({dict, list, _Slot})


def plan(psd, path):
    """The object list to write at ``path``, merged with the prefab there, and the warnings.

    (None, []) when there is no prefab at ``path`` yet: the export writes its
    own.  Call it after the file ids are assigned and before anything is
    written; a file it cannot merge into is refused here.
    """
    from tessel import _jsonwriter, nodeweave

    if not os.path.lexists(path):
        return None, []
    # The merge makes many small containers; each collection the allocations would start walks the
    # document's whole object graph too (its layer-infos and prefab objects point at each other),
    # which cost more than the merge itself.  The export collects once at its end.
    enabled = gc.isenabled()
    gc.disable()
    try:
        existing = read(path)
        exported = json.loads(_jsonwriter.dumpb(psd.totalInfo, None, nodeweave.formatCocosData))
        uuid = psd.totalInfo[0].meta.uuid
        return merge(exported, existing, uuid, path, fileids.added_node_ids(psd, uuid))
    finally:
        if enabled:
            gc.enable()


def save(psd, path, objects):
    """Write the prefab: the merged ``objects`` of :func:`plan`, or the export's own list (None)."""
    from tessel import filemanager, nodeweave

    if objects is None:
        nodeweave.saveToPrefab(psd, path)
    else:
        filemanager.writeJson(path, objects, 4, None)
