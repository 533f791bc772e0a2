"""The 3.x prefab: the finished 2.x object list translated into the objects a 3.8 runtime reads.

Layout does not change with the engine: every position, size and anchor is the
2.x export's.  What moves is where they live.  A 3.x node has no size, anchor,
colour or opacity: size and anchor go to a cc.UITransform, the colour to the
renderer's "_color", an opacity below 255 to a cc.UIOpacity.  Position,
rotation and scale become "_lpos", "_lrot", "_lscale" and "_euler".  Every
component carries a cc.CompPrefabInfo, and a sprite names the sprite-frame
sub-asset "<image uuid>@f9941" of its image.

Objects come in the 3.x editor's order: a node, its children's subtrees, its
components (each followed by its cc.CompPrefabInfo), then its cc.PrefabInfo.
"""

import hashlib

from tessel.errors import DocumentError
from tessel.road.engine import euler_angles

#: Layer bit of the 2D UI: the UI camera draws only nodes on a layer it sees.
UI_2D = 1 << 25
#: The sub-asset id of an image's sprite frame.
SPRITE_FRAME = "f9941"
#: Blend factors of the 3.x enum (SRC_ALPHA, ONE_MINUS_SRC_ALPHA): the 2.x GL constants 770 and 771.
SRC_ALPHA, ONE_MINUS_SRC_ALPHA = 2, 4
#: A label's 2.x keys (without the "_N$" prefix) that keep their meaning in 3.x.
LABEL_KEYS = ("_string", "_horizontalAlign", "_verticalAlign", "_fontSize", "_fontFamily", "_lineHeight",
              "_overflow", "_enableWrapText", "_isSystemFontUsed", "_spacingX", "_isItalic", "_isBold",
              "_isUnderline", "_cacheMode")


def vec3(x, y, z):
    return {"__type__": "cc.Vec3", "x": x, "y": y, "z": z}


def color(r=255, g=255, b=255, a=255):
    return {"__type__": "cc.Color", "r": r, "g": g, "b": b, "a": a}


def component_file_id(node_file_id, kind, index):
    """The file id of the ``index``-th component of type ``kind`` on a node: stable as the node's is."""
    return hashlib.sha1(f"{node_file_id}:{kind}:{index}".encode("utf-8")).hexdigest()[:22]


def frame_ref(image_uuid):
    """The reference to the sprite frame of the image ``image_uuid``."""
    return {"__uuid__": f"{image_uuid}@{SPRITE_FRAME}", "__expectedType__": "cc.SpriteFrame"}


class _Builder:
    """Appends 3.x objects to one list, numbering them as they come."""

    def __init__(self, old, frames):
        self.old = old
        self.frames = frames
        self.objects = []

    def add(self, obj):
        self.objects.append(obj)
        return {"__id__": len(self.objects) - 1}

    def node(self, index, parent):
        old = self.old[index]
        node = {
            "__type__": "cc.Node", "_name": old.get("_name", ""), "_objFlags": 0, "__editorExtras__": {},
            "_parent": parent, "_children": [], "_active": bool(old.get("_active", True)), "_components": [],
            "_prefab": None,
        }
        node.update(_transform(old))
        node["_id"] = ""
        ref = self.add(node)
        for child in old.get("_children") or ():
            node["_children"].append(self.node(child["__id__"], ref))
        file_id = self.old[old["_prefab"]["__id__"]]["fileId"]
        counts = {}
        for kind, fields in self._components(old):
            number = counts[kind] = counts.get(kind, -1) + 1
            comp = {"__type__": kind, "_name": "", "_objFlags": 0, "node": ref, "_enabled": fields.pop("_enabled"),
                    "__prefab": None}
            comp.update(fields)
            comp["_id"] = ""
            comp_ref = self.add(comp)
            comp["__prefab"] = self.add({"__type__": "cc.CompPrefabInfo",
                                         "fileId": component_file_id(file_id, kind, number)})
            node["_components"].append(comp_ref)
        node["_prefab"] = self.add({
            "__type__": "cc.PrefabInfo", "root": {"__id__": 1}, "asset": {"__id__": 0}, "fileId": file_id,
            "instance": None, "targetOverrides": None, "nestedPrefabInstanceRoots": None,
        })
        return ref

    def _components(self, old):
        """(type, fields) of the node's 3.x components: its transform, its renderers, its opacity."""
        size, anchor = old.get("_contentSize") or {}, old.get("_anchorPoint") or {}
        yield "cc.UITransform", {
            "_enabled": True,
            "_contentSize": {"__type__": "cc.Size", "width": size.get("width", 0), "height": size.get("height", 0)},
            "_anchorPoint": {"__type__": "cc.Vec2", "x": anchor.get("x", 0.5), "y": anchor.get("y", 0.5)},
        }
        tint = old.get("_color") or {}
        tint = color(*(tint.get(k, 255) for k in "rgba"))
        for ref in old.get("_components") or ():
            comp = self.old[ref["__id__"]]
            kind = comp.get("__type__")
            if kind == "cc.Sprite":
                yield kind, self._sprite(ref["__id__"], comp, tint)
            elif kind == "cc.Label":
                yield kind, _label(comp, tint)
            else:
                # Only the export's own kinds reach here; another option's component
                # is refused before the export starts (tessel.road.engine.NOT_CARRIED).
                raise DocumentError(f"{kind} of node {old.get('_name', '')!r} has no Creator 3.x form yet")
        opacity = old.get("_opacity", 255)
        if opacity < 255:
            yield "cc.UIOpacity", {"_enabled": True, "_opacity": opacity}

    def _sprite(self, index, old, tint):
        return {
            "_enabled": old.get("_enabled", True), **_renderer(tint),
            "_spriteFrame": frame_ref(self.frames[index]),
            "_type": old.get("_type", 0), "_fillType": old.get("_fillType", 0),
            # The layer's size is in the UITransform; CUSTOM keeps it whatever the frame's size.
            "_sizeMode": 0,
            "_fillCenter": {"__type__": "cc.Vec2", "x": (old.get("_fillCenter") or {}).get("x", 0),
                            "y": (old.get("_fillCenter") or {}).get("y", 0)},
            "_fillStart": old.get("_fillStart", 0), "_fillRange": old.get("_fillRange", 0),
            "_isTrimmedMode": old.get("_isTrimmedMode", True), "_useGrayscale": False, "_atlas": None,
        }


def _renderer(tint):
    return {"_customMaterial": None, "_srcBlendFactor": SRC_ALPHA, "_dstBlendFactor": ONE_MINUS_SRC_ALPHA,
            "_color": tint}


def _transform(old):
    """The node's "_lpos", "_lrot", "_lscale", "_mobility", "_layer" and "_euler" from its 2.x fields."""
    position = old.get("_position") or {}
    quat = old.get("_quat") or {}
    x, y, z, w = (quat.get(k, d) for k, d in (("x", 0), ("y", 0), ("z", 0), ("w", 1)))
    scale = old.get("_scale") or {}
    return {
        "_lpos": vec3(position.get("x", 0), position.get("y", 0), 0),
        "_lrot": {"__type__": "cc.Quat", "x": x, "y": y, "z": z, "w": w},
        "_lscale": vec3(scale.get("x", 1), scale.get("y", 1), scale.get("z", 1)),
        "_mobility": 0,
        "_layer": UI_2D,
        # The runtime reports "_euler" until the rotation changes: it must describe "_lrot".
        "_euler": vec3(*euler_angles(x, y, z, w)),
    }


def _label(old, tint):
    """A 3.x label's fields from the 2.x label: the same text, font, box behaviour and colour."""
    if old.get("_N$file") or old.get("_file"):
        # A font file's 2.x meta is no 3.x asset: refused rather than dropped.
        raise DocumentError(f"the label of {old.get('_name', '')!r} uses a font file, which has no Creator 3.x "
                            "form yet")
    found = {}
    for key, value in old.items():
        plain = "_" + key[3:] if key.startswith("_N$") else key
        if plain in LABEL_KEYS:
            found[plain] = value
    size = found.get("_fontSize", 40)
    return {
        "_enabled": old.get("_enabled", True), **_renderer(tint),
        "_string": found.get("_string", ""),
        "_horizontalAlign": found.get("_horizontalAlign", 1),
        "_verticalAlign": found.get("_verticalAlign", 1),
        "_actualFontSize": size,
        "_fontSize": size,
        "_fontFamily": found.get("_fontFamily", "Arial"),
        "_lineHeight": found.get("_lineHeight", 40),
        "_overflow": found.get("_overflow", 0),
        "_enableWrapText": found.get("_enableWrapText", True),
        "_font": None,
        "_isSystemFontUsed": found.get("_isSystemFontUsed", True),
        "_spacingX": found.get("_spacingX", 0),
        "_isItalic": found.get("_isItalic", False),
        "_isBold": found.get("_isBold", False),
        "_isUnderline": found.get("_isUnderline", False),
        "_underlineHeight": 2,
        "_cacheMode": found.get("_cacheMode", 0),
        # The label's own outline and shadow (3.8.2 on; 3.8.0 and 3.8.1 skip these keys): off.
        "_enableOutline": False, "_outlineColor": color(0, 0, 0), "_outlineWidth": 2,
        "_enableShadow": False, "_shadowColor": color(0, 0, 0),
        "_shadowOffset": {"__type__": "cc.Vec2", "x": 2, "y": 2}, "_shadowBlur": 2,
    }


def translate(old, name, frames):
    """The 3.x object list of the 2.x object list ``old`` (JSON dictionaries, as the 2.x prefab holds them).

    ``name`` is the prefab's name; ``frames`` maps the index of every 2.x cc.Sprite
    to the UUID of the image its frame belongs to.  Node file ids are the 2.x
    prefab infos'; component file ids derive from them.
    """
    builder = _Builder(old, frames)
    prefab = {"__type__": "cc.Prefab", "_name": name, "_objFlags": 0, "_native": "", "data": None,
              "optimizationPolicy": old[0].get("optimizationPolicy", 0), "persistent": False}
    builder.add(prefab)
    prefab["data"] = builder.node(old[0]["data"]["__id__"], None)
    return builder.objects
