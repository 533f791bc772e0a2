"""--all-layers and --styles: which layers become sprites, and what their images and boxes show."""

import importlib.util
import json
import os
import re
import shutil
from pathlib import Path

import pytest
from PIL import Image

from tessel import cli
from tessel.road import styles, unchanged
from tessel.see.check import check
from tessel.export import ExportOptions, export_psd
from tessel.testing import Doc, Group, Pixel, Text, gradient, write_psd

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
PSD_MORE = SHARED_PSD.parent / "psd-more"

needs_styles = pytest.mark.skipif(any(importlib.util.find_spec(name) is None for name in styles.EXTRAS),
                                  reason="psd-tools' composite packages (tessel[styles]) are not installed")
BOTH = ExportOptions(jobs=1, all_layers=True, styles=True)


def shared(name):
    path = PSD_MORE / name if (PSD_MORE / name).is_file() else SHARED_PSD / name
    if not path.is_file():
        pytest.skip(f"{name} is not in the shared PSD folders")
    return path


def objects(result):
    return json.loads(Path(result.prefab).read_text(encoding="utf-8"))


def nodes(result):
    return {obj["_name"]: obj for obj in objects(result) if obj["__type__"] == "cc.Node"}


def image(result, name):
    with Image.open(Path(result.prefab).with_suffix("") / f"{result.name}_{name}.png") as png:
        return png.convert("RGBA")


def run(capsys, *argv):
    status = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return status, out, err


# ---------------------------------------------------------------------------
# Shared Photoshop files: kinds the builder cannot write


@pytest.mark.parametrize("name, kind", [
    ("layer-types-shape-layer.psd", "shape"),
    ("layer-types-smartobject-layer.psd", "smartobject"),
    ("layer-types-solid-color-fill.psd", "solidcolorfill"),
    ("layer-types-gradient-fill.psd", "gradientfill"),
    ("layer-types-pattern-fill.psd", "patternfill"),
], ids=lambda v: v if v.endswith(".psd") else None)
def test_all_layers_exports_other_kinds_as_sprites_where_photoshop_shows_them(tmp_path, name, kind):
    path = shared(name)
    plain = export_psd(path, tmp_path / "plain", ExportOptions(jobs=1))
    assert (plain.images, plain.left_out) == (0, {kind: 1})
    result = check(str(path), tolerance=24, options=ExportOptions(jobs=1, all_layers=True))
    assert result.reference == "Photoshop's composite"
    assert [p.kind for p in result.placements] == ["pixel"] and not result.misplaced and not result.problems
    assert result.differing <= 0.02


def test_a_shape_layer_takes_the_naming_of_a_pixel_layer(tmp_path):
    from psd_tools import PSDImage

    psd = PSDImage.open(shared("layer-types-shape-layer.psd"))
    psd[0].name = "Polygon 拷贝_4,4,4,4"
    renamed = tmp_path / "shape.psd"
    psd.save(renamed)
    result = export_psd(renamed, tmp_path / "out", ExportOptions(jobs=1, all_layers=True))
    sprite = next(obj for obj in objects(result) if obj["__type__"] == "cc.Sprite")
    assert sprite["_type"] == 1  # sliced
    meta = json.loads((tmp_path / "out" / "shape" / "shape_Polygon.png.meta").read_text(encoding="utf-8"))
    sub = next(iter(meta["subMetas"].values()))
    assert (sub["borderTop"], sub["borderRight"], sub["borderBottom"], sub["borderLeft"]) == (4, 4, 4, 4)
    assert image(result, "Polygon").size == (9, 9)  # the nine-slice image: borders and one middle pixel


@needs_styles
@pytest.mark.parametrize("name", [
    "effects-stroke-1-raster-color.psd",
    "effects-stroke-1-vector-color.psd",
    "effects-color-overlay-1.psd",
    "effects-gradient-overlay-1.psd",
    "effects-drop-shadow-1.psd",
    "effects-outer-glow-1.psd",
    "clipping-clipping-1-raster-with-transform.psd",
    "clipping-pixel-with-clip-stroke-effect.psd",
    "clipping-mask.psd",
    "mask.psd",
])
def test_styled_export_looks_as_photoshop_shows_it(name):
    result = check(str(shared(name)), tolerance=24, options=BOTH)
    assert result.reference == "Photoshop's composite"
    assert not result.misplaced and not result.problems
    assert result.differing <= 0.02


@needs_styles
def test_an_outside_stroke_grows_the_node_box_around_the_layer(tmp_path):
    result = export_psd(shared("effects-stroke-1-raster-color.psd"), tmp_path, BOTH)
    star = nodes(result)["Star1"]
    size = star["_contentSize"]
    assert (size["width"], size["height"]) > (100, 95)  # the layer's own box
    assert image(result, "Star1").size == (size["width"], size["height"])


@pytest.mark.parametrize("name, clipped", [
    ("clipping-shape-with-blend.psd", "Rectangle2"),
    ("clipping-shape-with-clip-stroke.psd", "B"),
])
def test_without_styles_a_layer_clipped_to_a_shape_keeps_its_node_and_image(tmp_path, name, clipped):
    result = export_psd(shared(name), tmp_path, ExportOptions(jobs=1, all_layers=True))
    assert clipped in nodes(result) and image(result, clipped).getbbox() is not None


# ---------------------------------------------------------------------------
# Builder documents: clipping and masks


def red_base(**kwargs):
    return Pixel("base", size=(20, 20), color=(255, 0, 0, 255), left=10, top=10, **kwargs)


@needs_styles
def test_clipped_layers_merge_into_their_base_and_make_no_node(tmp_path):
    path = tmp_path / "clip.psd"
    write_psd(Doc(40, 40, [red_base(), Pixel("stripe", size=(40, 6), color=(0, 0, 255, 255), top=17, clipping=True)]),
              path)
    plain = export_psd(path, tmp_path / "plain", ExportOptions(jobs=1))
    assert plain.images == 2
    result = export_psd(path, tmp_path / "styled", ExportOptions(jobs=1, styles=True))
    assert (result.images, sorted(nodes(result))) == (1, ["base", "clip"])
    base = image(result, "base")
    assert base.size == (20, 20)
    assert base.getpixel((0, 0)) == (255, 0, 0, 255) and base.getpixel((0, 8)) == (0, 0, 255, 255)


@needs_styles
@pytest.mark.parametrize("opacity", [255, 128, 0], ids=["opaque", "half", "invisible"])
def test_a_mask_cuts_the_image_and_the_opacity_stays_on_the_node(tmp_path, opacity):
    mask = Image.new("L", (20, 20), 0)
    mask.paste(255, (0, 0, 10, 20))
    path = tmp_path / "mask.psd"
    write_psd(Doc(40, 40, [red_base(mask=mask, opacity=opacity)]), path)
    result = export_psd(path, tmp_path / "out", ExportOptions(jobs=1, styles=True))
    assert nodes(result)["base"]["_opacity"] == opacity
    base = image(result, "base")
    # Faded once, by the node: the image itself is at full strength.
    assert base.getpixel((2, 2)) == (255, 0, 0, 255) and base.getpixel((15, 2))[3] == 0


@needs_styles
def test_layers_without_styles_export_byte_for_byte_as_without_the_flags(tmp_path):
    path = tmp_path / "plain.psd"
    write_psd(Doc(64, 48, [
        Pixel("bg", image=gradient((64, 48), (10, 20, 30), (200, 100, 50))),
        Group("Button_ok", [Pixel("frame_4,6,4,6", size=(30, 20), color=(0, 200, 0, 255), left=5, top=5, opacity=90),
                            Text("Label_caption", "开始", left=8, top=8, box=(20, 12))]),
    ]), path)

    def written(folder):
        # Every export draws new prefab file ids; everything else must match (but the record of the options).
        return {p.relative_to(folder): re.sub(rb'"fileId": "\w+"', b"", p.read_bytes()) for p in folder.rglob("*.*")
                if p.name != unchanged.FILENAME}

    export_psd(path, tmp_path / "plain", ExportOptions(jobs=1))
    shutil.copytree(tmp_path / "plain", tmp_path / "flags")
    export_psd(path, tmp_path / "flags", BOTH)
    assert written(tmp_path / "flags") == written(tmp_path / "plain")


# ---------------------------------------------------------------------------
# The command


def test_summary_counts_left_out_kinds_and_names_the_flag_once(capsys, tmp_path):
    docs = [shared("layer-types-shape-layer.psd"), shared("layer-types-smartobject-layer.psd"),
            shared("layer-types-curves.psd")]
    status, out, err = run(capsys, "export", *docs, "-o", tmp_path / "plain")
    assert (status, err) == (0, "")
    assert [line.split(" images", 1)[1] for line in out.splitlines()] == [
        "; left out: 1 shape; --all-layers exports 1 of them)",
        "; left out: 1 smartobject)",
        "; left out: 1 curves)",
    ]
    status, out, err = run(capsys, "export", "--all-layers", *docs, "-o", tmp_path / "all")
    assert [line.split(" images", 1)[1] for line in out.splitlines()] == [")", ")", "; left out: 1 curves)"]


def test_tree_shows_the_layers_the_flags_add(capsys):
    path = shared("layer-types-shape-layer.psd")
    status, out, err = run(capsys, "tree", path)
    assert "unknown type" in err and "Polygon 1" not in out
    status, out, err = run(capsys, "tree", "--all-layers", path)
    assert (status, err) == (0, "")
    assert "name:Polygon 1, size:32*32, x=-1,y=-1" in out


def test_styles_without_the_composite_packages_is_one_clear_error(capsys, tmp_path, monkeypatch):
    monkeypatch.setattr(styles, "EXTRAS", ("aggdraw", "tessel_no_such_package"))
    path = tmp_path / "doc.psd"
    write_psd(Doc(8, 8, [red_base()]), path)
    for command in (["export", path, "-o", tmp_path / "out"], ["tree", path]):
        status, out, err = run(capsys, *command, "--styles")
        assert (status, out) == (1, "")
        assert err.count("\n") == 1 and "tessel_no_such_package missing" in err and "pip install 'tessel[styles]'" in err
    assert not (tmp_path / "out").exists()


@needs_styles
@pytest.mark.parametrize("path", sorted(SHARED_PSD.glob("*.psd")) if SHARED_PSD.is_dir() else [], ids=lambda p: p.name)
def test_real_documents_export_with_both_flags_or_are_refused_cleanly(capsys, tmp_path, path):
    status, out, err = run(capsys, "export", "--all-layers", "--styles", path, "-o", tmp_path, "-q")
    assert (status, out) == (0, "") and err == "" or status == 1 and err.count("\n") == 1
