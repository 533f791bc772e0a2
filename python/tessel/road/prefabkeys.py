"""The keys of the 2.x prefab form that the export derives from the PSD, and a node's transform in either form.

The merge (tessel.road.prefabmerge) takes these keys from the export and every
other key from the file; what is specific to the 2.x form lives here.
"""

#: Per "__type__", the keys of the 2.x form whose values the export derives from the PSD.
#: Every key of a component not listed is the team's once the file holds it.
_COMPONENT = {"_name", "node"}
_BUTTON = _COMPONENT | {
    "_N$target", "_N$normalSprite", "_N$pressedSprite", "pressedSprite",
    "_N$hoverSprite", "hoverSprite", "_N$disabledSprite",
}
_SCROLL = _COMPONENT | {"horizontal", "vertical", "_N$content", "content"}
OWNED = {
    "cc.Prefab": {"data"},
    "cc.PrefabInfo": {"root", "asset", "fileId"},
    "cc.Node": {
        "_name", "_parent", "_children", "_active", "_level", "_components", "_prefab",
        "_opacity", "_color", "_contentSize", "_anchorPoint", "_position", "_scale", "_trs",
    },
    "cc.Sprite": _COMPONENT | {"_spriteFrame", "_type"},
    "cc.Label": _COMPONENT | {
        "_string", "_N$string", "_fontSize", "_lineHeight", "_enableWrapText",
        "_N$horizontalAlign", "_N$verticalAlign", "_N$overflow",
    },
    "cc.Button": _BUTTON,
    "cc.Toggle": _BUTTON | {"_N$isChecked", "checkMark"},
    "cc.ToggleContainer": _COMPONENT,
    "cc.ProgressBar": _COMPONENT | {"_N$totalLength", "_N$barSprite", "_N$mode", "_N$progress"},
    "cc.ScrollView": _SCROLL,
    "cc.PageView": _SCROLL | {"_N$indicator"},
    "cc.PageViewIndicator": _COMPONENT | {"spriteFrame", "direction", "cellSize", "spacing"},
    "cc.Mask": _COMPONENT,
    "cc.Layout": _COMPONENT | {
        "_layoutSize", "_N$layoutType", "_N$paddingLeft", "_N$paddingRight", "_N$paddingTop",
        "_N$paddingBottom", "_N$spacingX", "_N$spacingY",
    },
}
#: Keys the team's value stays in unless the export changed the key they go with:
#: a sprite's size mode follows when the layer name switched it between simple and sliced.
FOLLOWS = {"cc.Sprite": {"_sizeMode": "_type"}}
#: Keys an export for a 2.2+ runtime adds to a node the file holds without them.
ENGINE_KEYS = frozenset({"_trs", "_eulerAngles"})
#: Elements of a node's "_trs" ([px, py, pz, qx, qy, qz, qw, sx, sy, sz]) that the export derives.
TRS_OWNED = (0, 1, 7, 8, 9)


def with_transform(mine):
    """A node new to a prefab whose nodes carry the 2.2+ transform: "_trs" and "_eulerAngles" after "_scale"."""
    added = {"_trs": {"__type__": "TypedArray", "ctor": "Float64Array", "array": _derived_trs(mine)},
             "_eulerAngles": {"__type__": "cc.Vec3", "x": 0, "y": 0, "z": 0}}
    order = list(mine)
    at = order.index("_scale") + 1 if "_scale" in order else len(order)
    return with_missing(mine, added, order[:at] + list(added) + order[at:])


def _derived_trs(mine):
    if "_trs" in mine:
        return mine["_trs"]["array"]
    position, scale = mine.get("_position", {}), mine.get("_scale", {})
    return [position.get("x", 0), position.get("y", 0), 0, 0, 0, 0, 1,
            scale.get("x", 1), scale.get("y", 1), scale.get("z", 1)]


def transform(mine, theirs):
    """The file's "_trs" with the position and scale the export derives; the team's rotation stays."""
    array = theirs.get("array")
    if not isinstance(array, list) or len(array) != 10:
        return dict(mine["_trs"]) if "_trs" in mine else theirs
    derived = _derived_trs(mine)
    merged = list(array)
    for i in TRS_OWNED:
        merged[i] = derived[i]
    return {**theirs, "array": merged}


def with_missing(data, missing, order):
    """``data`` with the ``missing`` keys, each after the key that comes before it in ``order``."""
    keys = list(data)
    previous = None
    for key in order:
        if key in missing:
            keys.insert(keys.index(previous) + 1 if previous is not None else 0, key)
        if key in missing or key in data:
            previous = key
    return {key: data[key] if key in data else missing[key] for key in keys}
