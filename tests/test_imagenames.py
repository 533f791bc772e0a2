import json
import os
from pathlib import Path

import pytest
from psd_tools import PSDImage
from psd_tools.constants import Tag

from tessel import cli, nodeweave
from tessel.road import imagecache, unchanged
from tessel.see.check import check, placements
from tessel.export import ExportOptions, export_psd
from tessel.see.preview import load_prefab
from tessel.see.spritecheck import sprite_problems
from tessel.testing import Doc, Group, Pixel, write_psd

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
RED, BLUE = (255, 0, 0, 255), (0, 0, 255, 255)


def export(tmp_path, layers, **kw):
    """Export a 64x64 document of ``layers``; returns the result and every sprite that shows other pixels."""
    path = tmp_path / "doc.psd"
    write_psd(Doc(64, 64, layers), path)
    result = export_psd(path, tmp_path / "out", ExportOptions(jobs=1))
    layout, frames = load_prefab(result.prefab)
    found, problems = placements(PSDImage.open(path), layout)
    return result, problems + sprite_problems(found, frames)


def count(layers):
    return sum(1 + count(layer.layers) if isinstance(layer, Group) else 1 for layer in layers)


def outputs(tmp_path):
    folder = tmp_path / "out" / "doc"
    return sorted(p.name for p in folder.iterdir() if p.name not in (imagecache.FILENAME, unchanged.FILENAME))


@pytest.mark.parametrize("layers, pngs, collisions", [
    ([Group("g", [Pixel("item", size=(4, 4), color=RED), Pixel("item", size=(4, 4), color=BLUE),
                  Pixel("item copy 2", size=(4, 4), color=RED)])],
     ["doc_g_item", "doc_g_item-4"], 1),
    ([Group("g", [Pixel("x", size=(4, 4), color=RED)]), Group("g", [Pixel("x", size=(5, 4), color=RED)])],
     ["doc_g_x", "doc_g_x-5"], 1),
    ([Pixel("Icon", size=(4, 4), color=RED), Pixel("icon", size=(4, 4), color=BLUE)],
     ["doc_Icon", "doc_icon-3"], 1),
    ([Pixel("标题", size=(4, 4), color=RED), Pixel("表题", size=(4, 4), color=BLUE)],
     ["doc_biaoti", "doc_biaoti-3"], 1),
    ([Pixel("icon", size=(4, 4), color=RED), Pixel("Icon copy 3", size=(4, 4), color=RED),
      Pixel("icon 拷贝 2", size=(4, 4), color=RED)],
     ["doc_icon"], 0),
    ([Pixel("bar_1,1,1,1", size=(10, 4), color=RED), Pixel("bar_1,1,1,1", size=(20, 4), color=RED)],
     ["doc_bar", "doc_bar-3"], 1),
    ([Pixel("bg", size=(0, 0)), Pixel("bg", size=(4, 4), color=RED), Group("g", [Pixel("Layer 1", size=(0, 0))])],
     ["doc_bg"], 0),
    ([Pixel("长" * 100, size=(4, 4), color=RED), Pixel("长" * 100 + " copy 2", size=(4, 4), color=BLUE)],
     ["doc_" + "chang" * 43 + "c-8a4708cb9049f8d8", "doc_" + "chang" * 43 + "c-b4fcfba4af0f50ee"], 1),
    # A layer literally named like the long one's shortened image name.
    ([Pixel("长" * 100, size=(4, 4), color=RED), Pixel("chang" * 43 + "c-8a4708cb9049f8d8", size=(4, 4), color=BLUE)],
     ["doc_" + "chang" * 43 + "c-8a4708cb9049f8d8", "doc_" + "chang" * 43 + "c-8a268ee5a1bf50a3"], 1),
], ids=["one-group", "across-groups", "case-only", "pinyin-homophones", "identical-copies-share",
        "same-crop-other-size", "empty-layers", "300-byte-name", "named-like-a-shortened-name"])
def test_each_distinct_image_gets_its_own_file(tmp_path, layers, pngs, collisions):
    result, problems = export(tmp_path, layers)
    assert problems == []
    assert outputs(tmp_path) == sorted([f"{name}.png" for name in pngs] + [f"{name}.png.meta" for name in pngs])
    assert (result.images, result.collisions, len(result.warnings)) == (len(pngs), collisions, collisions)
    assert result.nodes == 1 + count(layers)  # a layer without pixels keeps its node
    assert all(len(name.encode()) <= 255 for name in outputs(tmp_path))
    prefab = json.loads(Path(result.prefab).read_text(encoding="utf-8"))
    frames = {o["_spriteFrame"]["__uuid__"] for o in prefab if o["__type__"] == "cc.Sprite"}
    metas = [json.loads((tmp_path / "out" / "doc" / f"{name}.png.meta").read_text()) for name in pngs]
    assert frames == {sub["uuid"] for meta in metas for sub in meta["subMetas"].values()}


def test_layers_without_ids_are_numbered_in_document_order(tmp_path):
    # Files psd-tools writes carry no layer ids: every layer reads -1.
    path = tmp_path / "doc.psd"
    write_psd(Doc(64, 64, [Pixel("bg", size=(4, 4), color=RED), Pixel("bg", size=(4, 4), color=BLUE),
                           Pixel("bg-2", size=(4, 4), color=BLUE), Pixel("bg", size=(4, 4), color=(0, 255, 0, 255))]),
              path)
    psd = PSDImage.open(path)
    for layer in psd:
        layer._record.tagged_blocks.pop(Tag.LAYER_ID, None)
    psd.save(path)
    assert {layer.layer_id for layer in PSDImage.open(path)} == {-1}
    export_psd(path, tmp_path / "out", ExportOptions(jobs=1))
    assert [name for name in outputs(tmp_path) if name.endswith(".png")] == [
        "doc_bg-2-2.png", "doc_bg-2.png", "doc_bg-3.png", "doc_bg.png"]


def test_reexport_keeps_names_and_uuids_when_unrelated_layers_come_and_go(capsys, tmp_path):
    path = tmp_path / "doc.psd"
    out = tmp_path / "out"

    def exported(*extra, hide_bg=False):
        write_psd(Doc(64, 64, [
            Pixel("bg", size=(64, 64), color=BLUE, visible=not hide_bg),
            Group("list", [Pixel("list_primary_xs", size=(8, 4), color=c) for c in (RED, BLUE, RED)]),
            Pixel("长" * 100, size=(4, 4), color=RED),
            *extra,
        ]), path)
        nodeweave.uuidDict.clear()  # only the meta files on disk may carry identities over
        assert cli.main(["export", str(path), "-o", str(out)]) == 0
        prefab = json.loads((out / "doc.prefab").read_text(encoding="utf-8"))
        metas = {p.name: json.loads(p.read_text()) for p in (out / "doc").glob("*.meta")}
        by_frame = {sub["uuid"]: (name, meta["uuid"]) for name, meta in metas.items()
                    for sub in meta["subMetas"].values()}
        return [(prefab[o["node"]["__id__"]]["_name"], o["_spriteFrame"]["__uuid__"], *by_frame[o["_spriteFrame"]["__uuid__"]])
                for o in prefab if o["__type__"] == "cc.Sprite"], capsys.readouterr()

    first, (stdout, err) = exported()
    assert err.count("tessel: warning: ") == 1 and "'list/list_primary_xs' (id 4)" in err
    assert "1 image name split between different images" in stdout
    assert len({meta for _, _, meta, _ in first}) == 4  # the two red items share one image
    assert exported()[0] == first
    assert exported(Pixel("list_primary_xs", size=(8, 4), color=(0, 255, 0, 255)))[0][:-1] == first
    assert exported(hide_bg=True)[0] == first[1:]


@pytest.mark.skipif(not (SHARED_PSD / "adjustments-levels_cmyk.psd").is_file(), reason="no shared PSD files")
def test_real_document_with_reused_names_and_empty_layers(tmp_path):
    result = check(SHARED_PSD / "adjustments-levels_cmyk.psd")
    assert result.problems == [] and not result.misplaced


def test_check_flags_a_sprite_showing_another_layers_pixels(tmp_path):
    result, problems = export(tmp_path, [Pixel("a", size=(4, 4), color=RED), Pixel("b", size=(4, 4), color=BLUE)])
    folder = tmp_path / "out" / "doc"
    (folder / "doc_b.png").write_bytes((folder / "doc_a.png").read_bytes())
    layout, frames = load_prefab(result.prefab)
    found, _ = placements(PSDImage.open(tmp_path / "doc.psd"), layout)
    assert sprite_problems(found, frames) == ["b: its sprite shows doc_b.png, which is not this layer's image"]
