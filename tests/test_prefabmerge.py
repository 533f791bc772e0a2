"""Re-exporting into a prefab the game team edited keeps their work and follows the designer's changes."""

import json
import os
import shutil
from pathlib import Path

import pytest

from tessel import cli
from tessel.export import ExportOptions, export_psd
from tessel.road.prefabform import Form
from tessel.testing import Doc, Group, Pixel, write_psd

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
MASKS = SHARED_PSD / "masks.psd"
needs_masks = pytest.mark.skipif(not MASKS.is_file(), reason="shared Photoshop documents absent")
SCRIPT = "4f1c2VZxLdNN7x1k8uX1mHv"  # a script component's type: its compressed UUID
FONT = {"__uuid__": "b5e2a1d4-0c3f-4b8e-9a7d-1e2f3a4b5c6d"}


def export(psd, out, **options):
    return export_psd(psd, out, ExportOptions(jobs=1, all_layers=True, **options))


def load(out):
    return json.loads((out / "masks.prefab").read_text(encoding="utf-8"))


def nodes(objects):
    """Node path (names from the root) to index."""
    form = Form(objects)
    return {form.path_text(n): n for n in form.nodes}


def file_ids(objects):
    form = Form(objects)
    return {form.path_text(n): form.file_id(n) for n in form.nodes}


def ids(prefab):
    objects = json.loads(prefab.read_text())
    return [obj["fileId"] for obj in objects if obj["__type__"] == "cc.PrefabInfo"]


def component(objects, node, kind):
    return next(objects[r["__id__"]] for r in objects[node]["_components"] if objects[r["__id__"]]["__type__"] == kind)


def add(objects, obj):
    objects.append(obj)
    return {"__id__": len(objects) - 1}


def save_as_editor(objects):
    """The editor's form: its own keys, string ids, "_trs" in place of "_position" and "_scale", no "_level"."""
    for obj in objects:
        if isinstance(obj.get("_id"), int):
            obj["_id"] = ""
        if obj["__type__"] == "cc.Node":
            pos, scale = obj.pop("_position"), obj.pop("_scale")
            for key in ("_level", "_quat", "_rotationX", "_rotationY"):
                obj.pop(key)
            obj["_trs"] = {"__type__": "TypedArray", "ctor": "Float64Array",
                           "array": [pos["x"], pos["y"], 0, 0, 0, 0, 1, scale["x"], scale["y"], scale["z"]]}
            obj["_is3DNode"] = False
            obj["_groupIndex"] = obj.pop("groupIndex")
            obj["groupIndex"] = obj["_groupIndex"]
            obj["_id"] = obj.pop("_id")


def team_edits(objects):
    """What the game team does in the editor (appended at the end, as a stress on the order)."""
    at = nodes(objects)
    root, footer, social = at["masks"], at["masks/Footer"], at["masks/Footer/Social"]
    signin = at["masks/Header/signin"]
    widget = add(objects, {"__type__": "cc.Widget", "_name": "", "_objFlags": 0, "node": {"__id__": footer},
                           "_enabled": True, "_alignFlags": 44, "_bottom": 0, "_id": ""})
    objects[footer]["_components"].append(widget)
    script = add(objects, {"__type__": SCRIPT, "_name": "", "_objFlags": 0, "node": {"__id__": root},
                           "_enabled": True, "title": objects[signin]["_components"][0],
                           "panel": {"__id__": social}, "share": {"__id__": at["masks/Footer/Social/facebook"]},
                           "_id": ""})
    objects[root]["_components"].append(script)
    label = component(objects, signin, "cc.Label")
    label["_N$file"], label["_isSystemFontUsed"] = FONT, False
    component(objects, at["masks/RoundedRectangle3"], "cc.Sprite")["_sizeMode"] = 0
    frame = component(objects, at["masks/Footer/Social/twitter"], "cc.Sprite")["_spriteFrame"]
    for parent, name in ((social, "reddot"), (at["masks/Footer/Social/facebook"], "glow")):
        dot = len(objects)
        info = add(objects, {"__type__": "cc.PrefabInfo", "root": {"__id__": root},
                             "asset": objects[objects[root]["_prefab"]["__id__"]]["asset"],
                             "fileId": f"{name}+Editor/Drawn0000000"[:22], "sync": False})
        objects.append({**objects[parent], "_name": name, "_parent": {"__id__": parent}, "_children": [],
                        "_components": [], "_prefab": info})
        sprite = add(objects, {"__type__": "cc.Sprite", "_name": "", "_objFlags": 0, "node": {"__id__": dot + 1},
                               "_enabled": True, "_spriteFrame": frame, "_sizeMode": 0, "_id": ""})
        objects[dot + 1]["_components"] = [sprite]
        objects[parent]["_children"].insert(2, {"__id__": dot + 1})


def redesign(source, target):
    """The designer's changes, made with psd-tools: one layer moved, one renamed, one deleted, one added."""
    from PIL import Image
    from psd_tools import PSDImage
    from psd_tools.api.layers import PixelLayer

    psd = PSDImage.open(source)
    layers = {layer.name: layer for layer in psd.descendants()}
    layers["Header"].append(layers["email"])
    layers["divider"].name = "line"
    layers["Social"].remove(layers["facebook"])
    layers["Header"].append(PixelLayer.frompil(Image.new("RGBA", (40, 30), (255, 0, 0, 255)), psd, "badge", 50, 60))
    psd.save(target)


@pytest.fixture
def edited(tmp_path):
    """A first export whose prefab the team edited and saved, and the redesigned document."""
    out = tmp_path / "out"
    psd = tmp_path / "masks.psd"
    shutil.copy(MASKS, psd)
    export(psd, out)
    before = load(out)
    objects = load(out)
    team_edits(objects)
    save_as_editor(objects)
    (out / "masks.prefab").write_text(json.dumps(objects, indent=2), encoding="utf-8")
    redesign(MASKS, psd)
    return psd, out, before


@needs_masks
def test_team_work_survives_a_redesign(edited):
    psd, out, before = edited
    result = export(psd, out)
    objects = load(out)
    Form(objects)  # every reference resolves
    at = nodes(objects)
    root = at["masks"]

    # The designer's changes: moved, renamed, gone, added.
    assert "masks/Header/email" in at and "masks/Footer/Social/email" not in at
    assert "masks/Footer/line" in at and "masks/Footer/divider" not in at
    assert not any("facebook" in path or "glow" in path for path in at)
    assert "masks/Header/badge" in at
    # File ids follow the layers; untouched nodes keep theirs.
    old, new = file_ids(before), file_ids(objects)
    assert new["masks/Header/email"] == old["masks/Footer/Social/email"]
    assert new["masks/Footer/line"] == old["masks/Footer/divider"]
    assert all(new[path] == fid for path, fid in old.items() if path in new)

    # The team's work, on the right objects.
    widget = component(objects, at["masks/Footer"], "cc.Widget")
    assert widget["_alignFlags"] == 44 and widget["node"] == {"__id__": at["masks/Footer"]}
    script = component(objects, root, SCRIPT)
    title = objects[script["title"]["__id__"]]
    assert title["__type__"] == "cc.Label" and title["node"] == {"__id__": at["masks/Header/signin"]}
    assert script["panel"] == {"__id__": at["masks/Footer/Social"]} and script["share"] is None
    social = objects[at["masks/Footer/Social"]]["_children"]
    assert [objects[c["__id__"]]["_name"] for c in social] == ["twitter", "reddot", "linkedin"]
    reddot = objects[at["masks/Footer/Social/reddot"]]
    twitter = component(objects, at["masks/Footer/Social/twitter"], "cc.Sprite")
    assert objects[reddot["_components"][0]["__id__"]]["_spriteFrame"] == twitter["_spriteFrame"]
    assert title["_N$file"] == FONT and title["_isSystemFontUsed"] is False
    assert component(objects, at["masks/RoundedRectangle3"], "cc.Sprite")["_sizeMode"] == 0
    # The editor's form stays: its keys, no keys it dropped; the position follows the PSD, into "_trs".
    export(psd, psd.parent / "fresh")
    fresh_objects = load(psd.parent / "fresh")
    placed = nodes(fresh_objects)
    for path in ("masks/Header/email", "masks/Footer/line"):
        node, position = objects[at[path]], fresh_objects[placed[path]]["_position"]
        assert node["_is3DNode"] is False and node["_id"] == "" and "_position" not in node and "_level" not in node
        assert node["_trs"]["array"][:2] == [position["x"], position["y"]]

    # One warning per thing of the team's that went, and per reference set to null.
    gone = [w for w in result.warnings if "facebook" in w]
    assert len(gone) == 3, gone  # the glow node, its sprite, the script's reference
    assert any("node masks/Footer/Social/facebook/glow" in w for w in gone)
    assert any("share" in w for w in gone)


@needs_masks
def test_reexport_leaves_the_merged_file_alone(edited):
    psd, out, _ = edited
    export(psd, out)
    prefab = out / "masks.prefab"
    first, stat = prefab.read_bytes(), prefab.stat()
    result = export(psd, out)
    assert prefab.read_bytes() == first and prefab.stat().st_mtime_ns == stat.st_mtime_ns
    assert not [w for w in result.warnings if "prefab" in w or "removed" in w]


@needs_masks
def test_fresh_prefab_is_a_first_export(edited):
    psd, out, _ = edited
    export(psd, out, fresh_prefab=True)
    fresh = (out / "masks.prefab").read_bytes()
    (out / "masks.prefab").unlink()
    export(psd, out)
    assert (out / "masks.prefab").read_bytes() == fresh


@needs_masks
def test_check_places_every_layer_of_the_merged_prefab(edited):
    from tessel.see.check import check

    psd, out, _ = edited
    export(psd, out)

    def merged(path, outdir):
        shutil.copytree(out, outdir, dirs_exist_ok=True)
        return out.__class__(outdir) / "masks.prefab"

    options = ExportOptions(jobs=1, all_layers=True)
    result = check(str(psd), export=merged, engine="2.4", options=options)
    fresh = check(str(psd), engine="2.4", options=options)
    # Every layer lands as a fresh export puts it (a label Photoshop sets in small caps is drawn
    # in full-size capitals, which check may count as off in both).
    assert [(p.path, p.node_box) for p in result.placements] == [(p.path, p.node_box) for p in fresh.placements]
    assert not result.problems and len(result.misplaced) == len(fresh.misplaced) <= 1


def _not_json(objects):
    return "{ not json"


def _foreign(objects):
    for obj in objects:
        if obj["__type__"] == "cc.PrefabInfo":
            obj["asset"] = {"__uuid__": "0badc0de-0000-4000-8000-000000000000"}
    return json.dumps(objects)


def _dangling(objects):
    objects[1]["_children"].append({"__id__": len(objects) + 5})
    return json.dumps(objects)


def _scene(objects):
    objects[0]["__type__"] = "cc.SceneAsset"
    return json.dumps(objects)


@pytest.mark.parametrize("spoil", [_not_json, _foreign, _dangling, _scene])
def test_a_file_that_is_no_prefab_of_the_document_is_refused(tmp_path, capsys, spoil):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    write_psd(Doc(40, 30, [Group("g", [Pixel("a", size=(8, 8), color=(9, 9, 9, 255))])]), psd)
    export(psd, out)
    prefab = out / "screen.prefab"
    prefab.write_text(spoil(json.loads(prefab.read_text())))
    before = {p: p.read_bytes() for p in out.rglob("*") if p.is_file()}
    capsys.readouterr()
    assert cli.main(["export", str(psd), "-o", str(out)]) == 1
    (line,) = capsys.readouterr().err.splitlines()
    assert f"{prefab}: " in line and line.endswith("--fresh-prefab overwrites it")
    assert {p: p.read_bytes() for p in out.rglob("*") if p.is_file()} == before
    assert cli.main(["export", str(psd), "-o", str(out), "--fresh-prefab"]) == 0
    Form(json.loads(prefab.read_text()))


def test_layers_without_ids_keep_their_nodes_by_path(tmp_path):
    """A document whose layers share one id: same-named siblings are told apart by their place among them."""
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    layers = [Pixel("dot", size=(4, 4), color=(i * 40, 0, 0, 255), left=i * 5) for i in range(3)]
    write_psd(Doc(40, 30, [Group("g", layers)]), psd)
    from psd_tools import PSDImage
    from psd_tools.constants import Tag

    doc = PSDImage.open(psd)
    for layer in doc.descendants():
        layer._record.tagged_blocks.set_data(Tag.LAYER_ID, 7)
    doc.save(psd)
    export(psd, out)
    first = ids(out / "screen.prefab")
    assert len(set(first)) == len(first) == 5
    export_psd(psd, tmp_path / "again", ExportOptions(jobs=1))
    shutil.copy(out / "screen.prefab.meta", tmp_path / "again")
    export_psd(psd, tmp_path / "again", ExportOptions(jobs=1, fresh_prefab=True))
    assert ids(tmp_path / "again" / "screen.prefab") == first


def test_a_dropped_type_word_takes_the_nodes_its_widget_added(tmp_path):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"

    def design(name):
        return Doc(200, 200, [Group(name, [Pixel(n, size=(100, 40), color=(200, 90, 40, 255), left=10, top=top)
                                           for n, top in (("view", 10), ("a", 10), ("b", 60))])])

    write_psd(design("ScrollView_s"), psd)
    export(psd, out, components=True)
    objects = json.loads((out / "screen.prefab").read_text())
    save_as_editor(objects)
    (out / "screen.prefab").write_text(json.dumps(objects))
    write_psd(design("s"), psd)
    result = export(psd, out, components=True)
    objects = json.loads((out / "screen.prefab").read_text())
    group = objects[nodes(objects)["screen/s"]]
    assert [objects[c["__id__"]]["_name"] for c in group["_children"]] == ["view", "a", "b"]
    assert not result.warnings
