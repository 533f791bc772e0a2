"""Widgets from type words (export --components): structure, keys the runtime reads, references, stability."""

import json
from pathlib import Path

import pytest

from tessel.see.check import check
from tessel.export import ExportOptions, export_psd
from tessel.testing import Doc, Group, Pixel, Text, write_psd


def P(name, left, top, w, h, **kw):
    return Pixel(name, size=(w, h), color=kw.pop("color", (200, 90, 40, 255)), left=left, top=top, **kw)


DOCS = {
    "button": [Group("Button_go", [P("normal", 10, 10, 80, 30), P("go_pressed", 10, 10, 80, 30),
                                   P("go_gray", 10, 10, 80, 30), P("go_over", 10, 10, 80, 30, visible=False),
                                   Text("Label_t", "Go", left=30, top=15)])],
    "toggles": [Group("Tabs", [Group("Toggle_a", [P("bg", 10, 50, 40, 20), P("check", 14, 54, 30, 12)]),
                               Group("Toggle_b", [P("bg", 60, 50, 40, 20), P("Check", 64, 54, 30, 12, visible=False)])])],
    "progressbar": [Group("ProgressBar_hp", [P("track", 10, 90, 100, 10), P("bar", 12, 92, 48, 6)]),
                    Group("ProgressBar_v", [P("track", 150, 10, 10, 100), P("fill_2,2,2,2", 150, 60, 10, 50)])],
    "list": [Group("List_l", [P("view", 10, 110, 100, 60), Group("Item_b", [P("i", 15, 145, 90, 20)]),
                              Group("Item_a", [P("i", 15, 115, 90, 20)])])],
    "row": [Group("List_r", [P("i1", 10, 10, 30, 30), P("i2", 45, 10, 30, 30), P("i3", 80, 10, 30, 30)])],
    "grid": [Group("List_g", [P("mask", 0, 0, 110, 80)] + [P(f"c{i}", 5 + 35 * (i % 3), 5 + 35 * (i // 3), 30, 30)
                                                            for i in range(5)])],
    "scrollview": [Group("ScrollView_s", [P("view", 10, 10, 100, 50), P("a", 10, 10, 100, 40), P("b", 10, 60, 100, 40)])],
    "pages": [Group("ScrollPage_p", [Group("p1", [P("x", 10, 10, 80, 50)]), Group("p2", [P("y", 90, 10, 80, 50)]),
                                     Group("indicator", [P("dot1", 40, 65, 6, 6), P("dot2", 52, 65, 6, 6)])])],
    "nested": [Group("List_n", [Group("Item_0", [P("bg", 10, 10, 100, 30), Group("Button_buy", [P("b", 70, 15, 30, 20)])])])],
}

# Keys that point at other objects, and the type each must point at.
REF_TYPES = {
    "_parent": "cc.Node", "_children": "cc.Node", "_prefab": "cc.PrefabInfo", "node": "cc.Node", "data": "cc.Node",
    "root": "cc.Node", "_N$target": "cc.Node", "content": "cc.Node", "_N$content": "cc.Node",
    "checkMark": "cc.Sprite", "_N$barSprite": "cc.Sprite", "_N$indicator": "cc.PageViewIndicator",
}


def export(tmp_path, name, layers, out="out", components=True):
    psd = tmp_path / f"{name}.psd"
    if not psd.exists():
        write_psd(Doc(200, 200, layers), psd)
    result = export_psd(psd, tmp_path / out, ExportOptions(jobs=1, components=components))
    return result, json.loads(Path(result.prefab).read_text(encoding="utf-8"))


def frame_uuids(folder):
    return {sub["uuid"] for meta in Path(folder).glob("*.png.meta")
            for sub in json.loads(meta.read_text(encoding="utf-8"))["subMetas"].values()}


def check_references(objects, folder):
    """Every reference resolves, to an object of the type its key names; every frame has a meta file."""
    frames = frame_uuids(folder)

    def visit(value, key):
        if isinstance(value, dict):
            if "__id__" in value:
                target = objects[value["__id__"]]
                if key in REF_TYPES:
                    assert target["__type__"] == REF_TYPES[key], (key, target["__type__"])
            elif "__uuid__" in value and key != "asset":
                assert value["__uuid__"] in frames, key
            for k, v in value.items():
                visit(v, k)
        elif isinstance(value, list):
            for v in value:
                visit(v, key)

    for obj in objects:
        visit(obj, None)
    for i, obj in enumerate(objects):
        if obj["__type__"] == "cc.Node":
            for child in obj["_children"]:
                assert objects[child["__id__"]]["_parent"] == {"__id__": i}
            for comp in obj["_components"]:
                assert objects[comp["__id__"]]["node"] == {"__id__": i}


def by_type(objects, kind):
    return [o for o in objects if o["__type__"] == kind]


def node_of(objects, component):
    return objects[component["node"]["__id__"]]


@pytest.mark.parametrize("name", list(DOCS), ids=list(DOCS))
def test_widget_documents_resolve_every_reference(tmp_path, name):
    result, objects = export(tmp_path, name, DOCS[name])
    check_references(objects, tmp_path / "out" / name)
    assert result.warnings == []
    file_ids = [o["fileId"] for o in by_type(objects, "cc.PrefabInfo")]
    assert len(set(file_ids)) == len(file_ids)


def test_button_states_shown_or_hidden_become_frames_and_the_editor_double_keys_agree(tmp_path):
    _, objects = export(tmp_path, "button", DOCS["button"])
    (button,) = by_type(objects, "cc.Button")
    assert [o["_name"] for o in by_type(objects, "cc.Node")] == ["button", "go", "normal", "t"]
    assert button["transition"] == button["_N$transition"] == 2
    assert button["pressedSprite"] == button["_N$pressedSprite"] and button["_N$disabledSprite"]
    assert button["hoverSprite"] == button["_N$hoverSprite"] and button["_N$normalColor"]["r"] == 255
    assert len({button[k]["__uuid__"] for k in ("_N$normalSprite", "pressedSprite", "hoverSprite", "_N$disabledSprite")}) == 4
    assert objects[button["_N$target"]["__id__"]]["_name"] == "normal"


def test_toggles_take_the_checked_state_from_the_mark_and_share_a_container(tmp_path):
    _, objects = export(tmp_path, "toggles", DOCS["toggles"])
    toggles = by_type(objects, "cc.Toggle")
    assert [t["_N$isChecked"] for t in toggles] == [True, False]
    marks = [node_of(objects, objects[t["checkMark"]["__id__"]]) for t in toggles]
    assert [m["_active"] for m in marks] == [True, False]
    (container,) = by_type(objects, "cc.ToggleContainer")
    assert node_of(objects, container)["_name"] == "Tabs"


def test_progress_bars_are_written_in_their_final_state(tmp_path):
    _, objects = export(tmp_path, "progressbar", DOCS["progressbar"])
    hp, vertical = by_type(objects, "cc.ProgressBar")
    assert (hp["_N$mode"], hp["_N$totalLength"], hp["_N$progress"]) == (0, 96, 0.5)
    bar = node_of(objects, objects[hp["_N$barSprite"]["__id__"]])
    assert bar["_anchorPoint"] == {"__type__": "cc.Vec2", "x": 0, "y": 0.5}
    assert bar["_position"] == {"__type__": "cc.Vec2", "x": 2, "y": 5}
    assert (vertical["_N$mode"], vertical["_N$totalLength"], vertical["_N$progress"]) == (1, 100, 0.5)
    assert objects[vertical["_N$barSprite"]["__id__"]]["_type"] == 1


# The content's size along the scroll axis is what cc.Layout (resize CONTAINER) makes it:
# paddings + item sizes + (n - 1) spacings, for a grid per row of cells.
@pytest.mark.parametrize("name, layout_type, spacing, padding, content_size", [
    ("list", 2, (0, 10), (0, 0, 5, 5), (100, 5 + 20 + 10 + 20 + 5)),
    ("row", 1, (5, 0), (0, 0, 0, 0), (30 + 5 + 30 + 5 + 30, 30)),
    ("grid", 3, (5, 5), (5, 5, 5, 5), (110, 5 + 30 + 5 + 30 + 5)),
], ids=["vertical", "horizontal", "grid"])
def test_lists_lay_out_their_items_as_designed(tmp_path, name, layout_type, spacing, padding, content_size):
    _, objects = export(tmp_path, name, DOCS[name])
    (scroll,) = by_type(objects, "cc.ScrollView")
    content = objects[scroll["content"]["__id__"]]
    view = objects[content["_parent"]["__id__"]]
    assert [objects[c["__id__"]]["__type__"] for c in view["_components"]] == ["cc.Mask"]
    (layout,) = by_type(objects, "cc.Layout")
    assert layout["_N$layoutType"] == layout_type
    assert (layout["_N$spacingX"], layout["_N$spacingY"]) == spacing
    assert tuple(layout[f"_N$padding{side}"] for side in ("Left", "Right", "Top", "Bottom")) == padding
    assert layout["_layoutSize"] == content["_contentSize"]
    assert (content["_contentSize"]["width"], content["_contentSize"]["height"]) == content_size


def test_list_items_are_ordered_top_to_bottom(tmp_path):
    _, objects = export(tmp_path, "list", DOCS["list"])
    (scroll,) = by_type(objects, "cc.ScrollView")
    content = objects[scroll["content"]["__id__"]]
    assert content["_anchorPoint"] == {"__type__": "cc.Vec2", "x": 0.5, "y": 1}
    items = [objects[c["__id__"]] for c in content["_children"]]
    assert [(i["_name"], i["_position"]["y"]) for i in items] == [("a", -25), ("b", -55)]


def test_pages_sit_one_view_apart_and_the_indicator_takes_one_dot(tmp_path):
    result, objects = export(tmp_path, "pages", DOCS["pages"])
    (pager,) = by_type(objects, "cc.PageView")
    content = objects[pager["content"]["__id__"]]
    pages = [objects[c["__id__"]] for c in content["_children"]]
    assert [(p["_name"], p["_position"]["x"]) for p in pages] == [("p1", 0), ("p2", 80)]
    indicator = objects[pager["_N$indicator"]["__id__"]]
    assert (indicator["spacing"], indicator["cellSize"]["width"]) == (6, 6)
    assert node_of(objects, indicator)["_children"] == []
    assert result.images == 4 and len(frame_uuids(tmp_path / "out" / "pages")) == 4


def test_a_type_word_that_does_not_fit_warns_and_exports_a_plain_group(tmp_path):
    layers = [Group("ProgressBar_x", [P("track", 0, 0, 50, 10)]), Group("Toggle_t", [P("bg", 0, 20, 10, 10)])]
    result, objects = export(tmp_path, "misfit", layers)
    _, plain = export(tmp_path, "misfit", layers, out="plain", components=False)
    assert len(result.warnings) == 2 and "ProgressBar_x" in result.warnings[0]
    shape = [(o["__type__"], o.get("_name"), o.get("_children"), o.get("_components")) for o in objects]
    assert shape == [(o["__type__"], o.get("_name"), o.get("_children"), o.get("_components")) for o in plain]


def test_re_export_keeps_every_added_node_and_its_file_id(tmp_path):
    _, first = export(tmp_path, "pages", DOCS["pages"])
    _, second = export(tmp_path, "pages", DOCS["pages"])
    added = {i for i, o in enumerate(first) if o.get("_name") in ("view", "content")}
    for i, (a, b) in enumerate(zip(first, second)):
        if a["__type__"] == "cc.PrefabInfo" and not any(first[n].get("_prefab") == {"__id__": i} for n in added):
            a, b = dict(a, fileId=None), dict(b, fileId=None)
        assert a == b


@pytest.mark.parametrize("name", ["button", "toggles", "progressbar", "list", "row", "grid", "nested"], ids=str)
def test_check_finds_every_widget_layer_in_place(tmp_path, name):
    path = tmp_path / f"{name}.psd"
    write_psd(Doc(200, 200, DOCS[name]), path)
    result = check(str(path), components=True)
    assert result.ok and result.differing < 0.01, (result.problems, result.misplaced, result.differing)


def test_cli_export_and_tree_show_widgets_and_warnings(capsys, tmp_path):
    from tessel import cli

    path = tmp_path / "ui.psd"
    write_psd(Doc(200, 200, DOCS["progressbar"] + [Group("Button_empty", [P("pressed", 0, 0, 5, 5)])]), path)
    assert cli.main(["export", "--components", str(path), "-o", str(tmp_path / "out")]) == 0
    out, err = capsys.readouterr()
    assert "wrote" in out and err.count("warning:") == 1 and "Button_empty" in err
    assert cli.main(["tree", "--components", str(path)]) == 0
    out, err = capsys.readouterr()
    assert "widget ProgressBar_hp: cc.ProgressBar (bar bar, horizontal, length 96, progress 0.5)" in out


def test_layers_without_pixels_are_never_a_widget_part(tmp_path):
    layers = [Group("ProgressBar_e", [P("track", 0, 0, 50, 10), Pixel("bar", size=(0, 0))]),
              Group("Button_e", [Pixel("normal", size=(0, 0)), P("face", 0, 20, 10, 10), Pixel("x_down", size=(0, 0))])]
    result, objects = export(tmp_path, "empty", layers)
    assert len(result.warnings) == 1 and "ProgressBar_e" in result.warnings[0]
    (button,) = by_type(objects, "cc.Button")
    assert button["_N$transition"] == 3 and objects[button["_N$target"]["__id__"]]["_name"] == "face"


def test_with_engine_2_4_added_and_moved_nodes_carry_their_final_trs(tmp_path):
    psd = tmp_path / "list.psd"
    write_psd(Doc(200, 200, DOCS["list"]), psd)
    result = export_psd(psd, tmp_path / "out", ExportOptions(jobs=1, components=True, engine="2.4"))
    objects = json.loads(Path(result.prefab).read_text(encoding="utf-8"))
    nodes = by_type(objects, "cc.Node")
    assert {"view", "content"} <= {n["_name"] for n in nodes}
    for node in nodes:
        assert node["_trs"]["array"][:2] == [node["_position"]["x"], node["_position"]["y"]], node["_name"]
