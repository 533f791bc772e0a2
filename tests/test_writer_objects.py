"""The JSON writer writes prefab objects and meta models as formatCocosData makes them.

For objects of the module's own, unchanged classes the writer reads their members
directly; whatever has been changed (a subclass, a patched class, an override on
the object itself, a missing field) must still come out exactly as json.dumps
with formatCocosData writes it, errors included.
"""

import json

import pytest

from tessel import _jsonwriter, filemanager
from tessel import nodeweave as nw
from tessel.road.engine import set_transform


def objects(node_class=nw.CCNode):
    """A small prefab's worth of objects: a node with a sprite and a label, a prefab, metas."""
    node = node_class()
    node.id, node.name = 1, "按钮 ok"
    node._children = [{"__id__": 2}]
    sprite = nw.CCSprite()
    sprite.id, sprite.name, sprite.node = 2, "bg", {"__id__": 1}
    sprite.metaSprite = nw.CCMetaSpriteSub("frame-uuid", parentUUID="texture-uuid")
    label = nw.CCLabel()
    label.id, label._string = 3, "hi\r\n"
    prefab = nw.CCPrefab()
    meta = nw.CCMetaSprite("texture-uuid")
    meta.subMetas["bg"] = sprite.metaSprite
    return [prefab, node, sprite, label, nw.CCPrefabInfo(), meta, nw.CCMetaPrefab("p")]


def outcome(write, data):
    try:
        return write(data)
    except Exception as exc:  # the error's type and text are part of the outcome
        return type(exc), str(exc)


def both(data):
    expected = outcome(lambda d: json.dumps(d, indent=4, default=nw.formatCocosData, ensure_ascii=False), data)
    written = outcome(lambda d: _jsonwriter.dumps(d, 4, nw.formatCocosData), data)
    return written, expected


class Subclassed(nw.CCNode):
    def fixdata(self, data):
        super().fixdata(data)
        data["extra"] = True


def subclassed(data, monkeypatch):
    data[:] = objects(Subclassed)


def getattribute(self, name):
    return 7 if name == "_opacity" else object.__getattribute__(self, name)


CHANGES = {
    "none": lambda data, mp: None,
    "subclass": subclassed,
    "export on the object": lambda data, mp: setattr(data[1], "export", lambda: {"mine": 1}),
    "fixdata on the object": lambda data, mp: setattr(data[2], "fixdata", lambda d: d.update(mine=1)),
    "cctype on the object": lambda data, mp: setattr(data[1], "cctype", "cc.Mine"),
    "patched fixdata": lambda data, mp: mp.setattr(nw.CCSize, "fixdata", lambda self, d: d.update(w=1)),
    "patched base export": lambda data, mp: mp.setattr(nw.CCBase, "export", lambda self: {"base": 1}),
    "patched meta export": lambda data, mp: mp.setattr(nw.CCMetaBase, "export", lambda self: {"m": 1}),
    "class cctype": lambda data, mp: mp.setattr(nw.CCColor, "cctype", "cc.Colour"),
    "property over a field": lambda data, mp: mp.setattr(nw.CCSize, "width", property(lambda self: 42), raising=False),
    "__getattribute__": lambda data, mp: mp.setattr(nw.CCNode, "__getattribute__", getattribute),
    "pinyin replaced": lambda data, mp: mp.setattr(filemanager, "pinyin", str.upper),
    "pinyin fails": lambda data, mp: mp.setattr(filemanager, "pinyin", lambda name: 1 / 0),
    "field missing": lambda data, mp: delattr(data[1], "_opacity"),
    "uuid missing": lambda data, mp: delattr(data[2].metaSprite, "uuid"),
    "object in a field": lambda data, mp: setattr(data[1], "_parent", nw.CCVec2(1, 2)),
    "cannot convert": lambda data, mp: setattr(data[1], "_parent", object()),
    "contains itself": lambda data, mp: setattr(data[1], "_parent", data[1]),
    "transform fields": lambda data, mp: set_transform(data[1]),
    "one transform field": lambda data, mp: setattr(data[1], "_eulerAngles", nw.CCVec3(0, 0, 45)),
    "transform on the class": lambda data, mp: mp.setattr(nw.CCNode, "_trs", nw.CCTypedArray(), raising=False),
    "transform property fails": lambda data, mp: mp.setattr(nw.CCNode, "_trs", property(lambda self: 1 / 0),
                                                            raising=False),
}


@pytest.mark.parametrize("change", CHANGES.values(), ids=CHANGES.keys())
def test_written_as_format_cocos_data_makes_them(change, monkeypatch):
    data = objects()
    change(data, monkeypatch)
    written, expected = both(data)
    assert written == expected


def test_class_changes_are_noticed_after_writing_and_undone():
    data = objects()
    before = _jsonwriter.dumps(data, 4, nw.formatCocosData)
    original = nw.CCNode.__dict__["fixdata"]
    nw.CCNode.fixdata = lambda self, d: d.update(patched=True)
    try:
        assert '"patched": true' in _jsonwriter.dumps(data, 4, nw.formatCocosData)
    finally:
        nw.CCNode.fixdata = original
    assert _jsonwriter.dumps(data, 4, nw.formatCocosData) == before


def test_other_converters_are_called():
    calls = []

    def convert(obj):
        calls.append(type(obj).__name__)
        return {"t": type(obj).__name__}

    assert json.loads(_jsonwriter.dumps([nw.CCSize()], 4, convert)) == [{"t": "CCSize"}]
    assert calls == ["CCSize"]


def test_sprite_frame_points_at_the_frame_uuid_after_writing():
    data = objects()
    _jsonwriter.dumps(data, 4, nw.formatCocosData)
    assert data[2]._spriteFrame == {"__uuid__": "frame-uuid"}
