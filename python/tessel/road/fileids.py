"""Stable file ids of the prefab's nodes: a layer's node keeps its id from one export to the next.

A scene that holds an instance of the prefab links its overrides to the
prefab's nodes by their file ids (``cc.PrefabInfo.fileId``), so an id must
follow the layer, not the export.  Photoshop gives every layer an id for its
life (psd-tools' ``layer_id``): a layer renamed or moved to another group keeps
it.  A document whose layers carry no usable id (files written by psd-tools
give -1, and copies made by other programs may repeat one) names such a layer
by the path of its cleaned names instead, each with its index among the
same-named siblings.  The root node is named after the prefab alone.

Each id ends in a seal made from the prefab's UUID and the rest of the id, so a
re-export can tell the nodes an earlier export made from nodes the game team
added by hand, whose ids the editor drew at random.
"""

import hashlib

from tessel import infos

#: Characters of an id: 16 from the node's key, 6 of seal, 22 in all as the editor's.
_HEAD, _SEAL = 16, 6


def _digest(text, length):
    return hashlib.sha1(text.encode("utf-8", "surrogatepass")).hexdigest()[:length]


def file_id(prefab_uuid, key):
    """The file id of the node named ``key`` (see :func:`layer_keys`) in the prefab ``prefab_uuid``."""
    head = _digest(f"{prefab_uuid}:{key}", _HEAD)
    return head + _digest(f"{prefab_uuid}/{head}", _SEAL)


def root_id(prefab_uuid):
    """The file id of the prefab's root node."""
    return file_id(prefab_uuid, "root")


def added_node_id(prefab_uuid, layer_id, role):
    """The file id of a node the widget pass adds (``role`` "view" or "content") to the widget of layer ``layer_id``."""
    return _digest(f"{prefab_uuid}:{layer_id}:{role}", _HEAD + _SEAL)


def added_node_ids(psd, prefab_uuid):
    """Every file id the widget pass could give an added node in this document (any group may be a widget)."""
    return {added_node_id(prefab_uuid, layer.id, role) for layer in _walk(psd) if isinstance(layer, infos.YGroup)
            for role in ("view", "content")}


def is_exported(prefab_uuid, value):
    """Whether ``value`` is a file id that an export made for a layer's node of this prefab."""
    return (isinstance(value, str) and len(value) == _HEAD + _SEAL
            and value[_HEAD:] == _digest(f"{prefab_uuid}/{value[:_HEAD]}", _SEAL))


def by_hand(root, node):
    """Whether a laid-out node (see tessel.see.nodelayout) is one the game team added to a merged prefab.

    Only a prefab whose root has its stable id tells: there, a node made from a
    layer has a sealed id, and the widget pass's view and content nodes keep
    their names under their widget.
    """
    uuid = root.asset
    if uuid is None or root.file_id != root_id(uuid) or node.file_id is None or is_exported(uuid, node.file_id):
        return False
    parts = node.parent.parts if node.parent is not None else {}
    if node.name == "view" and ("cc.ScrollView" in parts or "cc.PageView" in parts):
        return False
    return not (node.name == "content" and "cc.Mask" in parts)


def layer_keys(psd):
    """Each layer-info of the document's tree (the document itself excluded) to the key of its node."""
    layers = list(_walk(psd))
    counts = {}
    for layer in layers:
        counts[layer.id] = counts.get(layer.id, 0) + 1
    keys = {}
    for layer in layers:
        if layer.id > 0 and counts[layer.id] == 1:
            keys[layer] = f"layer:{layer.id}"
        else:
            keys[layer] = "path:" + "/".join(_path(layer))
    return keys


def _walk(group):
    for child in group:
        yield child
        if isinstance(child, infos.YGroup):
            yield from _walk(child)


def _node_name(layer):
    from tessel import nodeweave

    return next((obj.name for obj in layer.infolist if isinstance(obj, nodeweave.CCNode)), str(layer.name))


def _path(layer):
    """The cleaned names from the document down to ``layer``, each with its index among same-named siblings."""
    parts = []
    while layer.parent is not None:
        name = _node_name(layer)
        index = 0
        for sibling in layer.parent:
            if sibling is layer:
                break
            index += _node_name(sibling) == name
        parts.append(f"{name}#{index}")
        layer = layer.parent
    return reversed(parts)


def assign(psd):
    """Give every node made from a layer (and the root) its stable file id, on its ``CCPrefabInfo``.

    Runs after the id pass, which draws every file id at random, and after the
    widget pass has named the nodes it adds (those keep their ids).
    """
    from tessel import nodeweave

    uuid = psd.totalInfo[0].meta.uuid
    keys = None
    for obj in psd.totalInfo:
        if not isinstance(obj, nodeweave.CCPrefabInfo):
            continue
        layer = obj.layer
        if isinstance(layer, infos.YPSD):
            obj.fileId = root_id(uuid)
        elif isinstance(layer, infos.YRoot):
            if keys is None:
                keys = layer_keys(psd)
            obj.fileId = file_id(uuid, keys[layer])
