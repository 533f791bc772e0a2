import json
import logging
import os
import sys
from pathlib import Path

import pytest

from tessel import filemanager, nodeweave
from tessel.infos import YPSD
from tessel.testing import Doc, Group, Pixel, Text, build_psd

# Real documents written by other programs, beside the checkout; absent in a user's clone.
SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
SHARED_FILES = sorted(SHARED_PSD.glob("*.psd")) if SHARED_PSD.is_dir() else []


def px(name, left, top, width, height):
    return Pixel(name, size=(width, height), left=left, top=top)


def txt(name, origin_x, top, width, height, justification=2):
    # The node reads x from the text origin, not from the box.
    return Text(name, "hi", left=origin_x - width // 2, top=top, box=(width, height),
                justification=justification, origin=(origin_x, top + 20))


def open_doc(layers, width=750, height=1334, name="doc"):
    psd = YPSD(build_psd(Doc(width, height, layers)), name + ".psd")
    psd.name = name
    return psd


def layer_named(psd, name):
    stack = [psd]
    while stack:
        layer = stack.pop()
        if layer.name == name:
            return layer
        if isinstance(layer, nodeweave.YGroup):
            stack.extend(layer)
    raise LookupError(name)


def index_of(total, obj):
    return next(i for i, item in enumerate(total) if item is obj)


def export(psd, prefab="doc.prefab"):
    """The whole export road, as the host drives it."""
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    nodeweave.refleshIdAndCreateMeta(psd)
    nodeweave.saveToPrefab(psd, prefab)
    prefab_obj = psd.totalInfo[0]
    nodeweave.saveMetaFile(prefab_obj.meta, prefab_obj.metaPath, psd)


# Document; group G holding pixel layer P, then text layer T; pixel layer Q.
WORKED = [
    Group("G", [px("P", 320, 520, 60, 30), txt("T", 400, 100, 120, 25)]),
    px("Q", 100, 200, 50, 40),
]

# ---------------------------------------------------------------------------
# initPsdInfo


@pytest.mark.parametrize(
    "layers, expected",
    [
        (WORKED, [("cc.Prefab", "doc"), ("cc.Node", "doc"), ("cc.Node", "G"), ("cc.Node", "P"),
                  ("cc.Sprite", "P"), ("cc.PrefabInfo", "P"), ("cc.Node", "T"), ("cc.Label", "T"),
                  ("cc.PrefabInfo", "T"), ("cc.PrefabInfo", "G"), ("cc.Node", "Q"), ("cc.Sprite", "Q"),
                  ("cc.PrefabInfo", "Q"), ("cc.PrefabInfo", "doc")]),
        ([], [("cc.Prefab", "doc"), ("cc.Node", "doc"), ("cc.PrefabInfo", "doc")]),
        ([Group("E", [])], [("cc.Prefab", "doc"), ("cc.Node", "doc"), ("cc.Node", "E"),
                            ("cc.PrefabInfo", "E"), ("cc.PrefabInfo", "doc")]),
        ([Group("A", [Group("B", [px("p", 0, 0, 4, 4)])])],
         [("cc.Prefab", "doc"), ("cc.Node", "doc"), ("cc.Node", "A"), ("cc.Node", "B"), ("cc.Node", "p"),
          ("cc.Sprite", "p"), ("cc.PrefabInfo", "p"), ("cc.PrefabInfo", "B"), ("cc.PrefabInfo", "A"),
          ("cc.PrefabInfo", "doc")]),
    ],
    ids=["worked-example", "no-layers", "empty-group", "nested-groups"],
)
def test_object_list_order(layers, expected):
    psd = open_doc(layers)
    nodeweave.initPsdInfo(psd)
    assert [(o.cctype, o.layer.name) for o in psd.totalInfo] == expected
    # The prefab is the one object the driver does not read.
    assert psd.totalInfo[0].name == "" and psd.totalInfo[1].name == "doc"


def test_per_layer_lists_and_info_of_the_worked_example():
    psd = open_doc(WORKED)
    nodeweave.initPsdInfo(psd)
    total = psd.totalInfo
    lists = {name: [index_of(total, o) for o in layer_named(psd, name).infolist]
             for name in ("doc", "G", "P", "T", "Q")}
    assert lists == {"doc": [0, 1, 13], "G": [2, 9], "P": [3, 4, 5], "T": [6, 7, 8], "Q": [10, 11, 12]}
    for name, node_index in [("doc", 1), ("G", 2), ("P", 3), ("T", 6), ("Q", 10)]:
        assert layer_named(psd, name).info is total[node_index]


@pytest.mark.parametrize("level, expected", [(None, (2, 3, 4)), (0, (0, 1, 2)), (7, (7, 8, 9))],
                         ids=["default", "zero", "seven"])
def test_levels_count_from_the_given_depth(level, expected):
    psd = open_doc(WORKED)
    if level is None:
        nodeweave.initPsdInfo(psd)
    else:
        nodeweave.initPsdInfo(psd, level=level)
    assert tuple(layer_named(psd, n).info.level for n in ("doc", "G", "P")) == expected


def test_replaced_classes_are_honoured(monkeypatch):
    class Node(nodeweave.CCNode):
        pass

    monkeypatch.setattr(nodeweave, "CCNode", Node)
    psd = open_doc(WORKED)
    nodeweave.initPsdInfo(psd)
    nodeweave.refleshIdAndCreateMeta(psd)
    assert sum(isinstance(o, Node) for o in psd.totalInfo) == 5
    assert psd.totalInfo[1]._children == [{"__id__": 2}, {"__id__": 10}]


@pytest.mark.skipif(sys.version_info < (3, 11), reason="exception notes need Python 3.11")
@pytest.mark.parametrize("nested", [False, True], ids=["top", "nested"])
def test_object_building_error_names_the_layer_once(nested):
    def break_fill_color(engine):
        style = engine["EngineDict"]["StyleRun"]["RunArray"][0]["StyleSheet"]["StyleSheetData"]
        style["FillColor"] = {"Type": 1}

    text = Text("Title", "x", edit=break_fill_color)
    psd = YPSD(build_psd(Doc(50, 50, [Group("outer", [text])] if nested else [text])), "doc.psd")
    with pytest.raises(KeyError) as info:
        nodeweave.initPsdInfo(psd)
    assert info.value.__notes__ == [f"while reading layer 'Title' (id {layer_named(psd, 'Title').layer.layer_id})"]


# ---------------------------------------------------------------------------
# refleshIdAndCreateMeta


@pytest.fixture
def digests(monkeypatch):
    """Numbered sha1 digests, so every fileId can be traced to its call."""
    made = []

    def sha1():
        made.append("%02d" % len(made) + "abcdef0123456789" * 2 + "xyz")
        return made[-1]

    monkeypatch.setattr(filemanager, "sha1", sha1)
    return made


def test_ids_and_references_of_the_worked_example(outdir, digests):
    psd = open_doc(WORKED)
    nodeweave.initPsdInfo(psd)
    nodeweave.refleshIdAndCreateMeta(psd)
    total = psd.totalInfo
    assert [o.id for o in total] == list(range(14))

    def refs(values):
        return [r["__id__"] for r in values]

    nodes = {i: (refs(o._children), o._parent and o._parent["__id__"], refs(o._components), o._prefab["__id__"])
             for i, o in enumerate(total) if o.cctype == "cc.Node"}
    assert nodes == {
        1: ([2, 10], None, [], 13),
        2: ([3, 6], 1, [], 9),
        3: ([], 2, [4], 5),
        6: ([], 2, [7], 8),
        10: ([], 1, [11], 12),
    }
    assert {i: o.node for i, o in enumerate(total) if o.cctype in ("cc.Sprite", "cc.Label")} == {
        4: {"__id__": 3}, 7: {"__id__": 6}, 11: {"__id__": 10}}

    prefab = total[0]
    assert prefab.data == {"__id__": 1}
    uuid = prefab.meta.uuid
    assert len(uuid) == 36 and [i for i, c in enumerate(uuid) if c == "-"] == [8, 13, 18, 23]
    infos = [o for o in total if o.cctype == "cc.PrefabInfo"]
    assert [index_of(total, o) for o in infos] == [5, 8, 9, 12, 13]
    assert all(o.root == {"__id__": 1} and o.asset == {"__uuid__": uuid} for o in infos)
    assert [o.fileId for o in infos] == [d[:22] for d in digests]


@pytest.mark.parametrize(
    "layers, earlier_uuid, asset",
    [([], None, {"__id__": 0}),
     ([px("only", 0, 0, 4, 4)], None, "uuid"),
     (WORKED, "kept-prefab-uuid", "uuid")],
    ids=["no-layers-points-at-the-prefab", "layers-name-the-asset", "earlier-meta-file-kept"],
)
def test_prefab_uuid_and_assets(outdir, layers, earlier_uuid, asset):
    if earlier_uuid:
        (outdir / "doc.prefab.meta").write_text(json.dumps({"ver": "1.0.1", "uuid": earlier_uuid}))
    psd = open_doc(layers)
    nodeweave.initPsdInfo(psd)
    nodeweave.refleshIdAndCreateMeta(psd)
    uuid = psd.totalInfo[0].meta.uuid
    assert uuid == earlier_uuid or (earlier_uuid is None and len(uuid) == 36)
    expected = {"__uuid__": uuid} if asset == "uuid" else asset
    assert all(o.asset == expected for o in psd.totalInfo if o.cctype == "cc.PrefabInfo")


@pytest.mark.parametrize(
    "content",
    [{"ver": "1.0.1"}, ["uuid"], {"uuid": None}],
    ids=["no-uuid", "not-an-object", "uuid-not-text"],
)
def test_unusable_prefab_meta_file_fails_naming_it(outdir, content):
    (outdir / "doc.prefab.meta").write_text(json.dumps(content))
    psd = open_doc(WORKED)
    nodeweave.initPsdInfo(psd)
    with pytest.raises(nodeweave.MetaFileError, match=r"doc\.prefab\.meta"):
        nodeweave.refleshIdAndCreateMeta(psd)


def test_re_export_keeps_uuids_and_renews_file_ids(outdir):
    def run():
        export(open_doc(WORKED))
        return (json.loads((outdir / "doc.prefab").read_text()),
                json.loads((outdir / "doc.prefab.meta").read_text()))

    first, first_meta = run()
    second, second_meta = run()
    assert second_meta["uuid"] == first_meta["uuid"]
    assert [o.get("asset") for o in second] == [o.get("asset") for o in first]
    assert [o.get("_spriteFrame") for o in second] == [o.get("_spriteFrame") for o in first]
    assert {o["fileId"] for o in second if "fileId" in o}.isdisjoint(o["fileId"] for o in first if "fileId" in o)


# ---------------------------------------------------------------------------
# fixPosition


def placed(psd, name):
    node = layer_named(psd, name).info
    return ((node._anchorPoint.x, node._anchorPoint.y), (node._position.x, node._position.y),
            (node._localPosition.x, node._localPosition.y))


def test_positions_of_the_worked_example():
    psd = open_doc([
        px("A", 100, 200, 50, 40),
        Group("G", [px("Gbg", 300, 500, 200, 100), px("C", 320, 520, 60, 30)]),
        txt("T", 400, 100, 120, 25),
    ])
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    assert placed(psd, "A") == ((0, 0), (-275, 427), (-275, 427))
    assert placed(psd, "G") == ((0, 0), (-75, 67), (-75, 67))
    assert placed(psd, "Gbg") == ((0, 0), (-75, 67), (0, 0))
    assert placed(psd, "C") == ((0, 0), (-55, 117), (20, 50))
    assert placed(psd, "T") == ((0.5, 0.5), (25, 542), (25, 554))
    # The document's node stays where its creation put it.
    assert placed(psd, "doc") == ((0.5, 0.5), (0, 0), (0, 0))
    local = layer_named(psd, "T").info._localPosition
    assert type(local.x) is int and type(local.y) is int


@pytest.mark.parametrize(
    "width, height, position, local",
    [(750, 1334, (-275, 427), (-275, 427)),
     (751, 1334, (-275.5, 427), (-275, 427)),
     (750, 1335, (-275, 427.5), (-275, 427))],
    ids=["even", "odd-width", "odd-height"],
)
def test_half_pixels_stay_in_position_and_truncate_toward_zero(width, height, position, local):
    psd = open_doc([px("A", 100, 200, 50, 40)], width=width, height=height)
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    _, got_position, got_local = placed(psd, "A")
    assert got_position == position and got_local == local
    assert all(type(v) is int for v in got_local)


@pytest.mark.parametrize(
    "justification, anchor_x",
    [(0, 0), (1, 1), (2, 0.5), (3, 0), (4, 1), (5, 0.5), (6, 0), (7, 0.5)],
    ids=["left", "right", "centre", "justify-last-left", "justify-last-right", "justify-last-centre",
         "justify-all", "unknown"],
)
def test_text_anchor_follows_justification(justification, anchor_x):
    psd = open_doc([txt("T", 400, 100, 120, 25, justification=justification)])
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    # Only the anchor changes: x is the text origin whatever the justification, and
    # y marks the middle of the 25-pixel box (542 + int(12.5)).
    assert placed(psd, "T") == ((anchor_x, 0.5), (25, 542), (25, 554))


def test_nested_groups_are_relative_to_their_own_group():
    psd = open_doc([
        Group("Outer", [
            px("Obg", 100, 100, 400, 400),
            Group("Inner", [px("Ibg", 200, 200, 100, 100), px("leaf", 210, 220, 30, 20)]),
            Group("Empty", []),
        ]),
    ])
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    assert placed(psd, "Outer")[2] == (-275, 167)
    assert placed(psd, "Inner") == ((0, 0), (-175, 367), (100, 200))
    assert placed(psd, "leaf") == ((0, 0), (-165, 427), (10, 60))
    assert placed(psd, "Empty")[0] == (0, 0)


# ---------------------------------------------------------------------------
# Files: saveToPrefab, saveMetaFile


def test_prefab_file_is_the_object_list(outdir):
    psd = open_doc(WORKED)
    export(psd)
    text = (outdir / "doc.prefab").read_text(encoding="utf-8")
    data = json.loads(text)
    assert text.startswith("[\n    {")
    assert len(data) == len(psd.totalInfo) == 14
    assert [o["__type__"] for o in data[:2]] == ["cc.Prefab", "cc.Node"]
    assert all(o["_id"] == i for i, o in enumerate(data) if "_id" in o)
    assert sum("_id" in o for o in data) == 8
    assert data[6]["_position"] == {"__type__": "cc.Vec2", "x": 80, "y": 437}
    assert data[4]["_spriteFrame"] == {"__uuid__": psd.totalInfo[4].metaSprite.uuid}


@pytest.mark.parametrize("replaced", [False, True], ids=["own-pinyin", "replaced-pinyin"])
def test_prefab_names_are_spelled_once_per_name_in_each_save(outdir, monkeypatch, replaced):
    # The package's pure pinyin is asked once per distinct name within one save and
    # again in the next; a replaced one is asked for every name written.
    asked = []
    if replaced:
        monkeypatch.setattr(filemanager, "pinyin", lambda name: asked.append(name) or name.lower())
    else:
        spell = filemanager._spell
        monkeypatch.setattr(filemanager, "_spell", lambda name: asked.append(name) or spell(name))
    psd = open_doc(WORKED)
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    nodeweave.refleshIdAndCreateMeta(psd)
    for _ in range(2):
        asked.clear()
        nodeweave.saveToPrefab(psd, "doc.prefab")
        written = [o["_name"] for o in json.loads((outdir / "doc.prefab").read_text(encoding="utf-8")) if "_name" in o]
        assert len(written) > len(set(written))
        if replaced:
            assert sorted(name.lower() for name in asked) == sorted(written)
        else:
            assert sorted(asked) == sorted(set(written))


@pytest.mark.parametrize(
    "layers, sprite_metas",
    [(WORKED, ["doc/doc_G_P.png.meta", "doc/doc_Q.png.meta"]),
     ([txt("T", 400, 100, 120, 25)], []),
     ([], [])],
    ids=["sprites", "text-only", "no-layers"],
)
def test_meta_files_and_their_log_lines(outdir, caplog, layers, sprite_metas):
    psd = open_doc(layers)
    with caplog.at_level(logging.INFO, logger="tessel"):
        export(psd)
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.INFO] == [
        "保存meta文件" + path for path in sprite_metas]
    prefab_meta = json.loads((outdir / "doc.prefab.meta").read_text())
    assert prefab_meta["uuid"] == psd.totalInfo[0].meta.uuid
    assert (outdir / "doc").is_dir()
    assert sorted(p.name for p in (outdir / "doc").iterdir()) == sorted(p.split("/")[1] for p in sprite_metas)
    for path in sprite_metas:
        meta = json.loads((outdir / path).read_text())
        image = path.split("/")[1][: -len(".png.meta")]
        assert meta["subMetas"][image]["rawTextureUuid"] == meta["uuid"]


@pytest.mark.parametrize("path", SHARED_FILES, ids=lambda p: p.name)
def test_shared_documents_export_consistently(outdir, path):
    from psd_tools import PSDImage

    psd = YPSD(PSDImage.open(path), str(path))
    psd.name = "doc"
    export(psd)
    data = json.loads((outdir / "doc.prefab").read_text(encoding="utf-8"))
    assert len(data) == len(psd.totalInfo)
    for i, obj in enumerate(data):
        if "_id" in obj:
            assert obj["_id"] == i
        for key in ("_parent", "node", "_prefab"):
            if obj.get(key):
                assert 0 < obj[key]["__id__"] < len(data)
        for child in obj.get("_children", []):
            assert data[child["__id__"]]["_parent"] == {"__id__": i}
