"""A prefab's object list read as a node tree: nodes, their components and prefab infos, by index.

Reads the list as the export writes it and as the editor saves it (any key
order, keys of its own); a list that is no prefab, or whose references point
nowhere, is refused with the reason.
"""


class Refusal(Exception):
    """The object list is not a prefab the merge can read; the message says why."""


def _is_ref(value):
    return type(value) is dict and len(value) == 1 and "__id__" in value


def _check_refs(value, size, where):
    if type(value) is dict:
        if len(value) == 1 and "__id__" in value:
            n = value["__id__"]
            if type(n) is not int or not 0 <= n < size:
                raise Refusal(f"{where} refers to object {n!r}, which the file does not hold")
            return
        for item in value.values():
            if type(item) in (dict, list):
                _check_refs(item, size, where)
    elif type(value) is list:
        for item in value:
            if type(item) in (dict, list):
                _check_refs(item, size, where)


class Form:
    """The node tree of an object list.  ``uuid``: refuse infos of another prefab asset; ``trusted``: skip the checks."""

    def __init__(self, objects, uuid=None, trusted=False):
        if not trusted:
            _check_list(objects)
        self.objects = objects
        self.root = self._ref(objects[0].get("data"), "cc.Node", "the cc.Prefab's data")
        self.nodes = []  #: node indices, parents before children, in the tree's order
        self.parent = {self.root: None}
        self.components = {}
        self.info = {}
        self._paths = {}
        stack = [self.root]
        while stack:
            node = stack.pop()
            self.nodes.append(node)
            obj = objects[node]
            self.components[node] = [self._ref(c, None, (node, "_components"))
                                     for c in _list(obj, "_components", self, node)]
            prefab = obj.get("_prefab")
            self.info[node] = None if prefab is None else self._ref(prefab, "cc.PrefabInfo", (node, "_prefab"))
            children = [self._ref(c, "cc.Node", (node, "_children")) for c in _list(obj, "_children", self, node)]
            for child in children:
                if child in self.parent:
                    raise Refusal(f"{self.describe(child)} is listed as a child twice")
                self.parent[child] = node
            stack.extend(reversed(children))
        #: whether the nodes carry the 2.2+ transform ("_trs"), as the editor of those versions saves them
        self.transforms = "_trs" in objects[self.root]
        if uuid is not None:
            for info in self.info.values():
                asset = objects[info].get("asset") if info is not None else None
                if type(asset) is dict and "__uuid__" in asset and asset["__uuid__"] != uuid:
                    raise Refusal(f"its nodes belong to the prefab {asset['__uuid__']}, not to this "
                                  f"document's {uuid} (see its .prefab.meta)")

    def _ref(self, value, kind, where):
        """The index ``value`` refers to, of an object of ``kind``; ``where``: text, or (node, key) to name."""
        if not _is_ref(value):
            raise Refusal(f"{self._where(where)} is not a reference")
        n = value["__id__"]
        if kind is not None and self.objects[n].get("__type__") != kind:
            raise Refusal(f"{self._where(where)} refers to a {self.objects[n].get('__type__')}, not a {kind}")
        return n

    def _where(self, where):
        return where if isinstance(where, str) else f"{self.describe(where[0])}: {where[1]}"

    # -- reading ---------------------------------------------------------------

    def type(self, index):
        return self.objects[index].get("__type__")

    def is_node(self, index):
        return index in self.parent

    def file_id(self, node):
        info = self.info.get(node)
        return self.objects[info].get("fileId") if info is not None else None

    def name(self, node):
        return str(self.objects[node].get("_name", ""))

    def path(self, node):
        """(name, index among same-named siblings) from below the root down to ``node``."""
        if node not in self._paths:
            parent = self.parent[node]
            if parent is None:
                self._paths[node] = ()
            else:
                name = self.name(node)
                siblings = [c["__id__"] for c in self.objects[parent]["_children"]]
                index = sum(self.name(s) == name for s in siblings[:siblings.index(node)])
                self._paths[node] = self.path(parent) + ((name, index),)
        return self._paths[node]

    def path_text(self, node):
        """The node's names from the root down, joined by "/"."""
        names = [self.name(node)]
        while self.parent.get(node) is not None:
            node = self.parent[node]
            names.append(self.name(node))
        return "/".join(reversed(names))

    def describe(self, index):
        """A short account of an object for a message line."""
        kind = self.type(index)
        if index in self.parent:
            return f"node {self.path_text(index)}"
        owner = self.objects[index].get("node")
        if _is_ref(owner) and owner["__id__"] in self.parent:
            return f"component {kind} on node {self.path_text(owner['__id__'])}"
        return f"object {index} ({kind})"


def _list(obj, key, form, node):
    value = obj.get(key, [])
    if type(value) is not list:
        raise Refusal(f"{form.describe(node)}: {key} is not a list")
    return value


def _check_list(objects):
    if type(objects) is not list or not objects:
        raise Refusal("not a prefab (no object list)")
    for i, obj in enumerate(objects):
        if type(obj) is not dict or type(obj.get("__type__")) is not str:
            raise Refusal(f"object {i} is not a serialized object")
    if objects[0]["__type__"] != "cc.Prefab":
        raise Refusal("not a prefab (its first object is a " + objects[0]["__type__"] + ")")
    size = len(objects)
    for i, obj in enumerate(objects):
        _check_refs(obj, size, f"object {i} ({obj['__type__']})")
