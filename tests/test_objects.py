import gc
import json
import math
import weakref
from types import SimpleNamespace

import pytest
from hypothesis import given
from hypothesis import strategies as st

from tessel import filemanager
from tessel import nodeweave as nw


def to_json(data):
    """The JSON text the prefab writer makes of `data`: order, int/float and bools show."""
    return json.dumps(data, default=lambda o: o.export())


WHITE = {"__type__": "cc.Color", "r": 255, "g": 255, "b": 255, "a": 255}
SIZE0 = {"__type__": "cc.Size", "width": 0, "height": 0}
VEC2_0 = {"__type__": "cc.Vec2", "x": 0, "y": 0}
VEC3_0 = {"__type__": "cc.Vec3", "x": 0, "y": 0, "z": 0}
QUAT_ID = {"__type__": "cc.Quat", "x": 0, "y": 0, "z": 0, "w": 1}
ITEM = {"_name": "", "_objFlags": 0}
COMPONENT = {**ITEM, "node": None, "_enabled": True}


def numbered_node():
    node = nw.CCNode()
    node.id = 7
    node.level = 3
    return node


def sprite_with_frame():
    sprite = nw.CCSprite()
    sprite.metaSprite = nw.CCMetaSpriteSub("frame-uuid")
    return sprite


EXPORT_TABLE = [
    (nw.CCColor, WHITE),
    (nw.CCSize, SIZE0),
    (nw.CCVec2, VEC2_0),
    (lambda: nw.CCVec2(0.5, y=2), {"__type__": "cc.Vec2", "x": 0.5, "y": 2}),
    (nw.CCVec3, VEC3_0),
    (lambda: nw.CCVec3(1, 2, z=3.0), {"__type__": "cc.Vec3", "x": 1, "y": 2, "z": 3.0}),
    (nw.CCQuat, QUAT_ID),
    (lambda: nw.CCQuat(w=0.5), {"__type__": "cc.Quat", "x": 0, "y": 0, "z": 0, "w": 0.5}),
    (nw.CCPrefab, {"__type__": "cc.Prefab", "_name": "", "_objFlags": 0, "_native": "", "data": {},
                   "optimizationPolicy": 0, "asyncLoadAssets": False}),
    (nw.CCPrefabInfo, {"__type__": "cc.PrefabInfo", "root": {}, "asset": {}, "fileId": None,
                       "sync": False}),
    (numbered_node, {
        "__type__": "cc.Node", **ITEM, "_parent": None, "_children": [], "_active": True,
        "_level": 3, "_components": [], "_prefab": None, "_opacity": 255, "_color": WHITE,
        "_contentSize": SIZE0, "_anchorPoint": {"__type__": "cc.Vec2", "x": 0.5, "y": 0.5},
        "_position": VEC2_0, "_scale": {"__type__": "cc.Vec3", "x": 1, "y": 1, "z": 1},
        "_rotationX": 0, "_rotationY": 0, "_quat": QUAT_ID, "_skewX": 0, "_skewY": 0,
        "groupIndex": 0, "_id": 7}),
    (nw.CCLabel, {
        "__type__": "cc.Label", **COMPONENT, "_useOriginalSize": False, "_string": None,
        "_N$string": None, "_fontSize": 30, "_lineHeight": 30, "_enableWrapText": True,
        "_N$file": None, "_isSystemFontUsed": True, "_spacingX": 0, "_batchAsBitmap": False,
        "_N$horizontalAlign": 1, "_N$verticalAlign": 2, "_N$fontFamily": "Arial",
        "_N$overflow": 0, "_N$cacheMode": 0, "_id": ""}),
    (sprite_with_frame, {
        "__type__": "cc.Sprite", **COMPONENT, "_spriteFrame": {"__uuid__": "frame-uuid"},
        "_type": 0, "_sizeMode": 1, "_fillType": 0, "_fillCenter": VEC2_0, "_fillStart": 0,
        "_fillRange": 0, "_isTrimmedMode": True, "_state": 0, "_atlas": None,
        "_srcBlendFactor": 770, "_dstBlendFactor": 771, "_id": ""}),
    (lambda: nw.CCMetaPrefab("u1"), {"ver": "1.0.1", "uuid": "u1", "optimizationPolicy": "AUTO",
                                     "asyncLoadAssets": False, "subMetas": {}}),
    (lambda: nw.CCMetaSprite(version="2.3.0"), {
        "ver": "2.3.0", "uuid": None, "type": "sprite", "wrapMode": "clamp",
        "filterMode": "bilinear", "premultiplyAlpha": False, "subMetas": {}}),
    (nw.CCMetaSpriteSub, {
        "ver": "1.0.3", "uuid": None, "rawTextureUuid": None, "trimType": "auto",
        "trimThreshold": 1, "rotated": False, "offsetX": 0, "offsetY": 0, "trimX": 0, "trimY": 0,
        "width": 0, "height": 0, "rawWidth": 0, "rawHeight": 0, "borderTop": 0,
        "borderBottom": 0, "borderLeft": 0, "borderRight": 0, "subMetas": {}}),
    (lambda: nw.CCMetaBase("u", "9"), {"ver": "9", "uuid": "u", "subMetas": {}}),
]


@pytest.mark.parametrize(
    "make, expected", EXPORT_TABLE,
    ids=["color", "size", "vec2", "vec2-args", "vec3", "vec3-args", "quat", "quat-w", "prefab",
         "prefabinfo", "node", "label", "sprite", "meta-prefab", "meta-sprite-version",
         "meta-sprite-sub", "meta-base"])
def test_export_writes_the_keys_in_order_with_values_as_held(make, expected):
    obj = make()
    assert list(obj.export()) == list(expected)
    assert to_json(obj.export()) == json.dumps(expected)
    assert to_json(obj.export()) == to_json(obj.export())


@pytest.mark.parametrize(
    "cls, fields",
    [
        (nw.CCQuat, ["id", "layer", "x", "y", "z", "w"]),
        (nw.CCLabel, ["id", "layer", "name", "_objFlags", "node", "_enabled", "_useOriginalSize",
                      "_string", "_N_string", "_fontSize", "_lineHeight", "_enableWrapText",
                      "_N_file", "_isSystemFontUsed", "_spacingX", "_batchAsBitmap",
                      "_N_horizontalAlign", "_N_verticalAlign", "_N_fontFamily", "_N_overflow",
                      "_N_cacheMode"]),
        (nw.CCMetaSpriteSub, ["ver", "uuid", "subMetas", "rawTextureUuid", "trimType",
                              "trimThreshold", "rotated", "offsetX", "offsetY", "trimX", "trimY",
                              "width", "height", "rawWidth", "rawHeight", "borderTop",
                              "borderBottom", "borderLeft", "borderRight"]),
    ],
    ids=["quat", "label", "meta-sprite-sub"])
def test_constructors_fill_the_instance_dict_base_fields_first(cls, fields):
    assert list(vars(cls())) == fields


def test_node_fields_are_plain_and_owned_by_each_node():
    a, b = nw.CCNode(), nw.CCNode()
    assert "_level" in vars(a) and "level" not in vars(a)
    a.level = 4
    assert a._level == 4 and b.level == 0
    for field in ("_color", "_contentSize", "_anchorPoint", "_position", "_scale", "_quat",
                  "_localPosition", "_children", "_components"):
        assert getattr(a, field) is not getattr(b, field), field
    assert isinstance(a._quat, nw.CCVec3) and isinstance(a._quat, nw.CCVec2)
    assert nw.CCName.cctype == nw.CCComponent.cctype == "cc"


def test_node_writes_its_local_position_without_z():
    node = nw.CCNode()
    node._position.x = 40  # the document position is never written
    node._localPosition = nw.CCVec2(3, -4.5)
    node._localPosition.z = 9
    node._color.r = 300  # out-of-range colours are written as held
    data = json.loads(to_json(node.export()))
    assert data["_position"] == {"__type__": "cc.Vec2", "x": 3, "y": -4.5}
    assert data["_color"]["r"] == 300


def test_python_subclasses_override_the_hooks():
    class Tagged(nw.CCNode):
        cctype = "my.Node"

        def fixdata(self, data):
            super().fixdata(data)
            data["tag"] = 1

    class MetaWithExtra(nw.CCMetaPrefab):
        def fixdata(self, data):
            super().fixdata(data)
            data["extra"] = True

    keys = list(Tagged().export())
    assert keys[0] == "__type__" and keys[-2:] == ["tag", "_id"]
    assert Tagged().export()["__type__"] == "my.Node"
    assert list(MetaWithExtra("u").export())[-2:] == ["extra", "subMetas"]


def test_meta_export_shares_the_sub_meta_dictionary():
    meta = nw.CCMetaSprite("tex")
    first, second = meta.export(), meta.export()
    assert first["subMetas"] is second["subMetas"] is meta.subMetas
    meta.subMetas["img"] = nw.CCMetaSpriteSub("frame", parentUUID="tex")
    nested = json.loads(to_json(meta))
    assert list(nested["subMetas"]["img"])[:3] == ["ver", "uuid", "rawTextureUuid"]
    assert nested["subMetas"]["img"]["rawTextureUuid"] == "tex"


# Layer stand-ins: the node and label reads only use attributes and class tests.
class FakePSD:
    pass


class FakeText:
    pass


@pytest.fixture
def layers(monkeypatch):
    """Stand-in layer classes and an upper-casing name cleaner on the module."""
    monkeypatch.setattr(nw, "YPSD", FakePSD)
    monkeypatch.setattr(nw, "YText", FakeText)
    monkeypatch.setattr(nw, "utils", SimpleNamespace(cleanLayerName=str.upper))


def make_layer(cls=object, **fields):
    layer = type("L", (cls,), {})()
    base = dict(name="layer", opacity=200, width=30, height=20, x=5, y=6)
    vars(layer).update(base, **fields)
    return layer


def read_node(layer):
    node = nw.CCNode()
    node.layer = layer
    node.read()
    return node


def test_node_read_takes_name_size_opacity_and_position(layers):
    node = read_node(make_layer(name="btn 开始"))
    assert node.name == "BTN 开始"
    assert node.export()["_name"] == "BTN kaishi"
    assert (node._opacity, node._contentSize.width, node._contentSize.height) == (200, 30, 20)
    assert (node._position.x, node._position.y) == (5, 6)
    assert [node._color.r, node._color.g, node._color.b, node._color.a] == [255] * 4


@pytest.mark.parametrize(
    "fields, position",
    [({"x": None, "y": 0}, (0, 0)), ({"x": 0.0, "y": -3}, (0, -3)), ({"x": 12.5, "y": None}, (12.5, 0))],
    ids=["none-and-zero", "float-zero", "kept"])
def test_node_position_falls_back_to_zero(layers, fields, position):
    node = read_node(make_layer(**fields))
    assert (node._position.x, node._position.y) == position
    assert type(node._position.x) is type(position[0])


def test_document_node_is_opaque_white_at_the_origin(layers):
    node = read_node(make_layer(FakePSD, opacity=10, x=50, y=60))
    assert (node._opacity, node._position.x, node._position.y) == (255, 0, 0)


@pytest.mark.parametrize(
    "values, rgba",
    [
        ([1, 1, 0.5, 0], (255, 128, 0, 255)),
        ([1, 0, 128.5 / 255, 2.5 / 255], (0, 128, 2, 255)),
        ([0.5, 0, 1, 0.2], (0, 255, 51, 128)),
        ([], (255, 255, 255, 255)),
    ],
    ids=["half-up-to-even", "half-down-to-even", "alpha-first", "empty-is-white"])
def test_text_node_takes_the_fill_colour(layers, values, rgba):
    node = read_node(make_layer(FakeText, FillColor={"Values": values}))
    color = node._color
    assert (color.r, color.g, color.b, color.a) == rgba
    assert all(type(c) is int for c in rgba)


@given(st.lists(st.floats(0, 1) | st.sampled_from([0.5, 127.5 / 255, 128.5 / 255]),
                min_size=4, max_size=4))
def test_colour_channels_round_like_python(values):
    node = nw.CCNode()
    node.layer = make_layer(FakeText, FillColor={"Values": values})
    saved = nw.YPSD, nw.YText, nw.utils
    nw.YPSD, nw.YText, nw.utils = FakePSD, FakeText, SimpleNamespace(cleanLayerName=str)
    try:
        node.read()
    finally:
        nw.YPSD, nw.YText, nw.utils = saved
    expected = [round(v * 255) for v in values]
    assert [node._color.a, node._color.r, node._color.g, node._color.b] == expected


def test_nan_colour_fails_like_round(layers):
    with pytest.raises(ValueError):
        read_node(make_layer(FakeText, FillColor={"Values": [math.nan, 1, 1, 1]}))


def read_label(**fields):
    label = nw.CCLabel()
    base = dict(text="hi", FontSize=24, Justification=0, fontName="PingFang")
    label.layer = make_layer(FakeText, **{**base, **fields})
    label.read()
    return label


@pytest.mark.parametrize(
    "text, expected",
    [("\r\rab\r\ncd\n\r", "ab\ncd\n"), ("a\rb\r\rc", "a\nb\n\nc"), ("\r", ""), ("\ud83d\r", "\ud83d")],
    ids=["both-ends", "inner", "only-cr", "lone-surrogate"])
def test_label_strips_carriage_returns_at_the_ends_and_breaks_lines_inside(layers, text, expected):
    label = read_label(text=text)
    assert label._string == label._N_string == expected
    assert label.export()["_N$string"] == expected


@pytest.mark.parametrize(
    "size, font, line",
    [(24, 24, 28), (23.6, 23, 27), (-0.5, 0, 3), (-3.5, -3, 0)],
    ids=["int", "fraction", "sum-first", "toward-zero"])
def test_label_truncates_font_size_and_line_height(layers, size, font, line):
    label = read_label(FontSize=size)
    assert (label._fontSize, label._lineHeight) == (font, line)
    assert type(label._fontSize) is int and type(label._lineHeight) is int


@pytest.mark.parametrize("justification, align", [(0, 0), (1, 2), (2, 1), (3, 1), (6, 1), (-1, -1)],
                         ids=["left", "right", "centre", "justify", "justify-all", "negative"])
def test_label_maps_the_justification(layers, justification, align):
    label = read_label(Justification=justification)
    assert label._N_horizontalAlign == align
    assert label._N_fontFamily == "PingFang"


# Sprites and their meta files.
def make_sprite(image="a_b", scale9=None, doc="doc"):
    root = SimpleNamespace(name=doc)
    sprite = nw.CCSprite()
    sprite.layer = SimpleNamespace(name="L", width=64, height=32, root=root, imageName=image,
                                   scale9Params=scale9)
    sprite.width, sprite.height = 64, 32
    return sprite


@pytest.fixture
def uuids(monkeypatch):
    """Counted, predictable md5 digests and an empty UUID cache."""
    calls = []

    def md5():
        calls.append(None)
        return f"{len(calls):032x}"

    monkeypatch.setattr(filemanager, "md5", md5)
    monkeypatch.setattr(nw, "uuidDict", {})
    return calls


def test_uuid_has_dashes_at_8_13_18_23_and_keeps_the_case(monkeypatch):
    monkeypatch.setattr(filemanager, "md5", lambda: "0123456789abcdef0123456789ABCDEF")
    assert nw.getUUID() == "01234567-89ab-cdef-0123-456789ABCDEF"


class Digest(str):
    pass


@pytest.mark.parametrize(
    "digest, uuid",
    [("a" * 20, "aaaaaaaa-aaaa-aaaa-aaaa-"),
     ("b" * 19, "bbbbbbbb-bbbb-bbbb-bbb-"),
     ("0123456789abcdef0123456789abcdef01", "01234567-89ab-cdef-0123-456789abcdef01"),
     ("密钥" * 16, "密钥密钥密钥密钥-密钥密钥-密钥密钥-密钥密钥-" + "密钥" * 6),
     (Digest("0123456789abcdef0123456789abcdef"), "01234567-89ab-cdef-0123-456789abcdef")],
    ids=["20-chars", "19-chars", "34-chars", "non-ascii", "str-subclass"],
)
def test_uuid_of_any_digest_length_and_text(monkeypatch, digest, uuid):
    # Exact text of 20 characters or more is cut directly; anything else is split into
    # characters: both must agree at and around that boundary.
    monkeypatch.setattr(filemanager, "md5", lambda: digest)
    assert nw.getUUID() == uuid


def test_uuid_by_name_is_made_once_per_name(uuids):
    first = nw.getUUIDByName("a")
    assert nw.getUUIDByName("a") == first and len(uuids) == 1
    assert nw.getUUIDByName("b") != first and len(uuids) == 2
    assert nw.uuidDict == {"a": first, "b": nw.getUUIDByName("b")}
    with pytest.raises(TypeError):
        nw.getUUIDByName(imageName="a")


def test_meta_paths():
    assert make_sprite("a_b").metaPath == "doc/a_b.png.meta"
    prefab = nw.CCPrefab()
    prefab.layer = SimpleNamespace(root=SimpleNamespace(name="doc"))
    assert prefab.metaPath == "doc.prefab.meta"


@pytest.mark.parametrize(
    "scale9, borders, modes",
    [(None, (0, 0, 0, 0), (0, 1)), ((10, 20, 30, 40), (10, 20, 30, 40), (1, 0))],
    ids=["simple", "scale9"])
def test_create_meta_without_a_file_makes_new_uuids(outdir, uuids, scale9, borders, modes):
    sprite = make_sprite(scale9=scale9)
    sprite.createMeta()
    sub = sprite.metaSprite
    assert sprite.meta.subMetas == {"a_b": sub}
    assert sub.uuid == nw.uuidDict["a_b"] and sprite.meta.uuid == sub.rawTextureUuid != sub.uuid
    assert (sub.width, sub.height, sub.rawWidth, sub.rawHeight) == (64, 32, 64, 32)
    assert (sub.borderTop, sub.borderRight, sub.borderBottom, sub.borderLeft) == borders
    assert (sprite._type, sprite._sizeMode) == modes
    assert sprite.export()["_spriteFrame"] == {"__uuid__": sub.uuid}


def test_same_image_name_shares_the_frame_uuid_not_the_texture(outdir, uuids):
    a, b = make_sprite(), make_sprite()
    a.createMeta()
    b.createMeta()
    assert a.metaSprite.uuid == b.metaSprite.uuid
    assert a.meta.uuid != b.meta.uuid


def test_create_meta_reads_back_the_uuids_of_a_written_meta_file(outdir, uuids):
    first = make_sprite(image="图_1")
    first.createMeta()
    filemanager.mkdir("doc")
    filemanager.writeJson(first.metaPath, first.meta, 4, lambda o: o.export())
    nw.uuidDict.clear()

    again = make_sprite(image="图_1")
    again.createMeta()
    assert again.meta.uuid == first.meta.uuid
    assert again.metaSprite.uuid == first.metaSprite.uuid
    assert again.export()["_spriteFrame"] == first.export()["_spriteFrame"]


@pytest.mark.parametrize(
    "content, detail",
    [
        ({}, "has no key 'uuid'"),
        ({"uuid": "t"}, "has no key 'subMetas'"),
        ({"uuid": "t", "subMetas": {"other": {"uuid": "f"}}}, "'subMetas' has no key 'a_b'"),
        ({"uuid": "t", "subMetas": {"a_b": {}}}, "subMetas['a_b'] has no key 'uuid'"),
        ([], "is not a JSON object"),
        ({"uuid": "t", "subMetas": []}, "'subMetas' is not a JSON object"),
        ({"uuid": "t", "subMetas": {"a_b": "f"}}, "subMetas['a_b'] is not a JSON object"),
        ({"uuid": None, "subMetas": {"a_b": {"uuid": "f"}}}, "'uuid' of the meta file is not a text"),
        ({"uuid": "t", "subMetas": {"a_b": {"uuid": 3}}}, "'uuid' of subMetas['a_b'] is not a text"),
    ],
    ids=["no-uuid", "no-submetas", "no-entry", "entry-no-uuid", "list", "submetas-list",
         "entry-text", "null-uuid", "numeric-frame-uuid"])
def test_meta_file_without_the_uuids_fails_and_stays_untouched(outdir, uuids, content, detail):
    path = outdir / "doc" / "a_b.png.meta"
    path.parent.mkdir()
    path.write_text(json.dumps(content), encoding="utf-8")
    before = path.read_bytes()
    sprite = make_sprite()
    with pytest.raises(nw.MetaFileError) as caught:
        sprite.createMeta()
    assert isinstance(caught.value, KeyError) and isinstance(caught.value, ValueError)
    assert str(caught.value).startswith("doc/a_b.png.meta: ") and detail in str(caught.value)
    assert path.read_bytes() == before
    assert sprite.meta is None and sprite.metaSprite is None and not uuids


def test_object_and_layer_cycle_is_collected():
    node = nw.CCNode()
    layer = SimpleNamespace(infolist=[node], info=node)
    node.layer = layer
    refs = [weakref.ref(node), weakref.ref(node._color)]
    del node, layer
    gc.collect()
    assert all(ref() is None for ref in refs)
