"""Exports for the 2.2+ runtimes: nodes carry "_trs" and "_eulerAngles" beside the 2.1 fields."""

import json
import math
from pathlib import Path

import pytest

from tessel import _jsonwriter, cli, infos, nodeweave
from tessel.see import check, preview
from tessel.road.engine import apply_engine, euler_angles, set_transform
from tessel.export import ExportOptions, export_psd
from tessel.testing import Doc, Group, Pixel, Text, build_psd, write_psd

# Document 200 x 100: a node's position is its lower-left corner from the centre, y up.
DOC = Doc(200, 100, [
    Pixel("low", size=(20, 10), left=10, top=80),
    Pixel("high", size=(20, 10), left=130, top=5),
    Pixel("centre", size=(20, 10), left=100, top=40),
    Group("g", [Pixel("inner", size=(10, 10), left=110, top=20), Pixel("corner", size=(4, 4), left=100, top=10)]),
    Text("title", "Hi", left=40, top=10, box=(60, 20)),
])
NODE_KEYS = ["__type__", "_name", "_objFlags", "_parent", "_children", "_active", "_level", "_components", "_prefab",
             "_opacity", "_color", "_contentSize", "_anchorPoint", "_position", "_scale", "_trs", "_eulerAngles",
             "_rotationX", "_rotationY", "_quat", "_skewX", "_skewY", "groupIndex", "_id"]


@pytest.fixture
def psd_file(tmp_path):
    path = tmp_path / "screen.psd"
    write_psd(DOC, path)
    return path


def export(psd_file, out, engine=None):
    options = ExportOptions(jobs=1) if engine is None else ExportOptions(jobs=1, engine=engine)
    result = export_psd(psd_file, out, options)
    return Path(result.prefab)


def nodes(prefab_path):
    return {o["_name"]: o for o in json.loads(prefab_path.read_text(encoding="utf-8")) if o["__type__"] == "cc.Node"}


@pytest.mark.parametrize("name, x, y", [
    ("low", -90, -40), ("high", 30, 35), ("centre", 0, 0), ("screen", 0, 0), ("inner", 10, 0),
], ids=["negative", "positive", "zero", "document", "nested"])
def test_nodes_carry_the_transform_array_after_scale(tmp_path, psd_file, name, x, y):
    node = nodes(export(psd_file, tmp_path / "out", "2.4"))[name]
    assert list(node) == NODE_KEYS
    assert node["_position"] == {"__type__": "cc.Vec2", "x": x, "y": y}
    # Integers stay integers, as the engine's own serializer writes them.
    assert json.dumps(node["_trs"]) == (
        '{"__type__": "TypedArray", "ctor": "Float64Array", "array": [%d, %d, 0, 0, 0, 0, 1, 1, 1, 1]}' % (x, y))
    assert json.dumps(node["_eulerAngles"]) == '{"__type__": "cc.Vec3", "x": 0, "y": 0, "z": 0}'


def test_default_export_differs_only_by_the_two_keys(psd_file):
    psd = infos.YPSD(build_psd(DOC), str(psd_file))
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    nodeweave.refleshIdAndCreateMeta(psd)

    def text():
        return _jsonwriter.dumps(psd.totalInfo, 4, nodeweave.formatCocosData)

    default = text()
    apply_engine(psd, "2.1")
    assert text() == default and "_trs" not in default and "_eulerAngles" not in default
    apply_engine(psd, "2.4")
    objects = json.loads(text())
    for obj in objects:
        obj.pop("_trs", None)
        obj.pop("_eulerAngles", None)
    assert json.dumps(objects, indent=4, ensure_ascii=False) == default


def test_reexport_with_the_option_keeps_every_uuid(tmp_path, psd_file):
    out = tmp_path / "out"

    def identities():
        found = {}
        for meta in sorted(out.rglob("*.meta")):
            data = json.loads(meta.read_text(encoding="utf-8"))
            found[meta.name] = (data["uuid"], sorted(s["uuid"] for s in data.get("subMetas", {}).values()))
        objects = json.loads((out / "screen.prefab").read_text(encoding="utf-8"))
        return found, [o.get("_spriteFrame") or o.get("asset") for o in objects]

    export(psd_file, out)
    first = identities()
    nodeweave.uuidDict.clear()  # only the meta files on disk may carry the identities over
    export(psd_file, out, "2.4")
    assert identities() == first and len(first[0]) == 6


def test_host_changes_to_the_fields_are_written(tmp_path):
    node = nodeweave.CCNode()
    node._localPosition.x, node._localPosition.y = -3, 4.5
    set_transform(node)
    node._trs.array[2] = 7
    node._eulerAngles.z = 30
    data = nodeweave.formatCocosData(node)
    assert data["_trs"].export()["array"] == [-3, 4.5, 7, 0, 0, 0, 1, 1, 1, 1]
    assert data["_eulerAngles"].export()["z"] == 30
    del node._trs
    assert "_trs" not in nodeweave.formatCocosData(node)


def _quat_from_euler(x, y, z):
    # The engine's Quat.fromEuler, degrees in.
    hx, hy, hz = (math.radians(a) / 2 for a in (x, y, z))
    sx, cx, sy, cy, sz, cz = math.sin(hx), math.cos(hx), math.sin(hy), math.cos(hy), math.sin(hz), math.cos(hz)
    return (sx * cy * cz + cx * sy * sz, cx * sy * cz + sx * cy * sz,
            cx * cy * sz - sx * sy * cz, cx * cy * cz - sx * sy * sz)


@pytest.mark.parametrize("angles", [(0, 0, 90), (0, 0, -135), (0, 0, 180), (30, 40, 50), (-20, 10, 80)],
                         ids=["quarter", "past-90", "half", "3d", "3d-steep"])
def test_euler_angles_rebuild_the_same_quaternion(angles):
    quat = _quat_from_euler(*angles)
    rebuilt = _quat_from_euler(*euler_angles(*quat))
    # q and -q are one rotation.
    sign = 1 if sum(a * b for a, b in zip(quat, rebuilt)) >= 0 else -1
    assert [sign * v for v in rebuilt] == pytest.approx(quat, abs=1e-9)
    if angles[:2] == (0, 0):  # a 2D node turns by z alone
        assert euler_angles(*quat)[:2] == (0, 0)


def _prefab(position, trs):
    node = {"__type__": "cc.Node", "_contentSize": {"width": 10, "height": 10}, "_position": position}
    if trs is not None:
        node["_trs"] = {"__type__": "TypedArray", "ctor": "Float64Array", "array": [*trs, 0, 0, 0, 0, 1, 1, 1, 1]}
    root = {"__type__": "cc.Node", "_contentSize": {"width": 100, "height": 100}, "_children": [{"__id__": 2}]}
    return [{"__type__": "cc.Prefab"}, root, node]


@pytest.mark.parametrize("trs, engine, expected", [
    ((5, 6), None, (55, 56)),
    (None, None, (51, 52)),
    ((5, 6), "2.1", (51, 52)),
    (None, "2.4", (50, 50)),
], ids=["trs-when-present", "position-without-trs", "2.1-reads-position", "2.4-without-trs-at-origin"])
def test_preview_places_nodes_as_the_runtime_reads_them(trs, engine, expected):
    layout = preview.layout_prefab(_prefab({"x": 1, "y": 2}, trs), engine)
    assert layout.nodes[1].world == expected


def test_preview_refuses_a_broken_transform_array():
    objects = _prefab({"x": 1, "y": 2}, (5, 6))
    objects[2]["_trs"]["array"] = [1, 2]
    with pytest.raises(preview.PreviewError, match='node 2: "_trs"'):
        preview.layout_prefab(objects)


def test_unknown_engines_are_refused(capsys, psd_file, tmp_path):
    with pytest.raises(ValueError, match="unknown engine '3.0'"):
        ExportOptions(engine="3.0")
    assert cli.main(["export", str(psd_file), "-o", str(tmp_path / "out"), "--engine", "3.0"]) == 2
    assert "invalid choice: '3.0'" in capsys.readouterr().err
    assert not (tmp_path / "out").exists()


def test_check_exports_for_the_runtime_and_places_as_it_does(psd_file):
    result = check.check(psd_file, engine="2.4")
    assert result.ok and len(result.placements) == 7
