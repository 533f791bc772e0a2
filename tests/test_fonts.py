"""Project fonts (--fonts, --font-map) and text strokes and shadows as label components (--text-effects)."""

import json
import os
from pathlib import Path
from types import SimpleNamespace

import pytest

pytest.importorskip("fontTools")
from fontTools.fontBuilder import FontBuilder  # noqa: E402
from fontTools.pens.ttGlyphPen import TTGlyphPen  # noqa: E402
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

from tessel import cli, export  # noqa: E402
from tessel.see import check, labels  # noqa: E402
from tessel.testing import Doc, Text, write_psd  # noqa: E402

SHARED = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
SHARED_MORE = SHARED.parent / "psd-more"


def make_font(path, family, style, postscript, cff=False):
    """A one-glyph font ("A", a wide triangle) with the given names; TrueType, or CFF outlines (.otf)."""
    builder = FontBuilder(1000, isTTF=not cff)
    builder.setupGlyphOrder([".notdef", "A"])
    builder.setupCharacterMap({ord("A"): "A"})
    if cff:
        from fontTools.pens.t2CharStringPen import T2CharStringPen

        pens = {name: T2CharStringPen(1000, None) for name in (".notdef", "A")}
        pen = pens["A"]
    else:
        pens = {name: TTGlyphPen(None) for name in (".notdef", "A")}
        pen = pens["A"]
    pen.moveTo((0, 0))
    pen.lineTo((500, 700))
    pen.lineTo((1000, 0))
    pen.closePath()
    if cff:
        builder.setupCFF(postscript, {"FullName": f"{family} {style}"},
                         {name: p.getCharString() for name, p in pens.items()}, {})
    else:
        builder.setupGlyf({name: p.glyph() for name, p in pens.items()})
    builder.setupHorizontalMetrics({".notdef": (500, 0), "A": (1000, 0)})
    builder.setupHorizontalHeader(ascent=800, descent=-200)
    builder.setupNameTable({"familyName": family, "styleName": style, "psName": postscript})
    builder.setupOS2()
    builder.setupPost()
    builder.save(str(path))


def with_meta(path, uuid):
    Path(str(path) + ".meta").write_text(json.dumps({"ver": "1.0.0", "uuid": uuid}))


@pytest.fixture
def project(tmp_path):
    """A game project's font folder: fonts found by their names, by the map, a bitmap font, and broken ones."""
    fonts = tmp_path / "assets" / "fonts"
    (fonts / "deep" / "er").mkdir(parents=True)
    make_font(fonts / "deep" / "er" / "brand.otf", "Brand Sans", "Bold", "BrSn-Bd", cff=True)
    with_meta(fonts / "deep" / "er" / "brand.otf", "uuid-brand")
    make_font(fonts / "title.ttf", "Title Face", "Regular", "TitleFace")
    with_meta(fonts / "title.ttf", "uuid-title")
    (fonts / "Score.fnt").write_text("info face=\"Score\" size=32\n")
    with_meta(fonts / "Score.fnt", "uuid-score")
    (fonts / "broken.ttf").write_bytes(b"not a font at all")
    with_meta(fonts / "broken.ttf", "uuid-broken")
    make_font(fonts / "nometa.ttf", "No Meta", "Regular", "NoMeta")
    (fonts / "nometa.ttf.meta").write_text(json.dumps({"ver": "1.0.0"}))
    return fonts


def document(tmp_path):
    path = tmp_path / "screen.psd"
    write_psd(Doc(400, 300, [
        Text("named", "A", left=10, top=10, box=(60, 30), font="BrSn-Bd", size=24.0),
        Text("override", "A", left=100, top=10, box=(60, 30), font="TitleFace", size=24.0),
        Text("styled", "A", left=10, top=50, box=(60, 30), font="BrandSans-BoldMT", size=24.0),
        Text("mapped", "A", left=10, top=90, box=(60, 30), font="HeadlineDisplay", size=24.0),
        Text("bitmap", "A", left=10, top=130, box=(60, 30), font="Score", size=24.0),
        Text("lost", "A", left=10, top=170, box=(60, 30), font="Futura-Medium", size=24.0),
        Text("lost2", "A", left=10, top=210, box=(60, 30), font="Futura-Medium", size=24.0),
        Text("nometa", "A", left=10, top=250, box=(60, 30), font="NoMeta", size=24.0),
    ]), path)
    return path


def prefab_objects(prefab):
    return json.loads(Path(prefab).read_text(encoding="utf-8"))


def labels_by_node(objects):
    found = {}
    for obj in objects:
        if obj["__type__"] == "cc.Node":
            for ref in obj["_components"]:
                found.setdefault(obj["_name"], []).append(objects[ref["__id__"]])
    return found


@pytest.mark.parametrize("map_format", ["json", "toml"])
def test_labels_refer_to_the_matching_font_asset_and_problems_are_one_line_each(tmp_path, project, capsys,
                                                                               map_format):
    psd = document(tmp_path)
    font_map = tmp_path / f"fonts.{map_format}"
    if map_format == "json":
        font_map.write_text(json.dumps({"HeadlineDisplay": "title.ttf", "TitleFace": "deep/er/brand.otf",
                                           "Ghost": "gone/ghost.ttf"}))
    else:
        font_map.write_text('HeadlineDisplay = "title.ttf"\nTitleFace = "deep/er/brand.otf"\nGhost = "gone/ghost.ttf"\n')
    out = tmp_path / "out"
    status = cli.main(["export", str(psd), "-o", str(out), "--fonts", str(project), "--font-map", str(font_map)])
    assert status == 0
    found = labels_by_node(prefab_objects(out / "screen.prefab"))
    # By the PostScript name, by family + style, by the map (before the names inside title.ttf), by file name.
    expected = {"named": "uuid-brand", "override": "uuid-brand", "styled": "uuid-brand", "mapped": "uuid-title", "bitmap": "uuid-score",
                "lost": None, "lost2": None, "nometa": None}
    for name, uuid in expected.items():
        label = found[name][0]
        assert label["_N$file"] == ({"__uuid__": uuid} if uuid else None), name
        assert label["_isSystemFontUsed"] is (uuid is None), name
    warnings = [line for line in capsys.readouterr().err.splitlines() if "warning" in line]
    assert sum("broken.ttf" in line and "cannot read" in line for line in warnings) == 1
    assert sum("nometa.ttf.meta" in line and "uuid" in line for line in warnings) == 1
    assert sum("gone/ghost.ttf" in line for line in warnings) == 1
    assert sum("Futura-Medium (2 labels), NoMeta (1 label)" in line for line in warnings) == 1
    assert len(warnings) == 4, warnings


def test_unmatched_fonts_leave_the_prefab_as_without_the_option(tmp_path, project):
    psd = tmp_path / "plain.psd"
    write_psd(Doc(200, 100, [Text("t", "Hello", left=10, top=10, box=(80, 30), font="Futura-Medium")]), psd)
    plain = export.export_psd(psd, tmp_path / "a", export.ExportOptions(jobs=1))
    fonts = export.export_psd(psd, tmp_path / "b", export.ExportOptions(jobs=1, fonts=[str(project)]))
    strip = lambda objects: [{k: v for k, v in o.items() if k not in ("fileId", "asset")} for o in objects]  # noqa: E731
    assert strip(prefab_objects(fonts.prefab)) == strip(prefab_objects(plain.prefab))
    assert fonts.warnings[-1:] == ["no font asset for Futura-Medium (1 label): these labels keep the system font"]


@pytest.mark.parametrize("content, message", [
    ("{not json", "cannot be read"),
    ('{"Brand": 3}', "must map font names"),
])
def test_a_broken_font_map_fails_with_one_line_naming_it_and_writes_nothing(tmp_path, project, content, message):
    psd = document(tmp_path)
    font_map = tmp_path / "fonts.json"
    font_map.write_text(content)
    with pytest.raises(export.DocumentError, match=message) as caught:
        export.export_psd(psd, tmp_path / "out", export.ExportOptions(fonts=[str(project)], font_map=str(font_map)))
    assert str(font_map) in str(caught.value)
    assert not (tmp_path / "out" / "screen.prefab").exists()


def test_check_draws_labels_with_the_matched_font_file(tmp_path, project):
    psd = document(tmp_path)
    options = export.ExportOptions(fonts=[str(project)])
    prefab = check.default_export(str(psd), str(tmp_path / "out"), options)
    layout, _ = check.load_prefab(prefab)
    fonts = labels.Fonts(files=check._font_files(options))
    drawn = {node.name: labels.layout_label(node, fonts).font.path for node in layout.nodes if node.label}
    assert drawn["named"].endswith("brand.otf") and drawn["styled"].endswith("brand.otf")
    assert not drawn["lost"].endswith(".otf")


# ---------------------------------------------------------------------------
# Strokes and shadows

EFFECTS = [
    ("effects-stroke-3-text.psd", "A", "cc.LabelOutline",
     {"_color": {"__type__": "cc.Color", "r": 0, "g": 0, "b": 255, "a": 255}, "_width": 2}, None),
    # Light from 90 degrees (above), 3 px away: the shadow falls straight down, y up in the engine.
    ("effects-drop-shadow-7-text.psd", "A", "cc.LabelShadow",
     {"_color": {"__type__": "cc.Color", "r": 0, "g": 0, "b": 0, "a": 89},
      "_offset": {"__type__": "cc.Vec2", "x": 0, "y": -3}, "_blur": 7}, None),
    ("../psd/effect-stroke-gradient.psd", "Text", None, None, "Text: text effects left out (the label cannot "
                                                              "show them): a gradient stroke"),
]


@pytest.mark.skipif(not SHARED_MORE.is_dir(), reason="the shared PSD files are absent")
@pytest.mark.parametrize("name, layer, kind, values, warning", EFFECTS, ids=[e[0] for e in EFFECTS])
def test_strokes_and_shadows_of_photoshop_text_become_label_components(tmp_path, name, layer, kind, values, warning):
    result = export.export_psd(SHARED_MORE / name, tmp_path / "out", export.ExportOptions(text_effects=True))
    objects = prefab_objects(result.prefab)
    parts = labels_by_node(objects)[layer]
    assert parts[0]["__type__"] == "cc.Label"
    if kind is None:
        assert len(parts) == 1 and warning in result.warnings
        return
    (component,) = parts[1:]
    node = next(o for o in objects if o["__type__"] == "cc.Node" and o["_name"] == layer)
    assert component["__type__"] == kind and objects[component["node"]["__id__"]] is node
    assert list(component)[:5] == ["__type__", "_name", "_objFlags", "node", "_enabled"]
    assert {k: component[k] for k in values} == values and list(component)[-1] == "_id"
    plain = export.export_psd(SHARED_MORE / name, tmp_path / "plain")
    assert len(labels_by_node(prefab_objects(plain.prefab))[layer]) == 1


def box_of(mask):
    """(left, top, right, bottom) of the true cells of ``mask``, right and bottom exclusive."""
    rows, cols = np.nonzero(mask)
    return (cols.min(), rows.min(), cols.max() + 1, rows.max() + 1)


@pytest.mark.parametrize("part, where", [
    ({"cc.LabelOutline": {"_color": {"r": 0, "g": 0, "b": 255, "a": 255}, "_width": 3}}, "around"),
    ({"cc.LabelShadow": {"_color": {"r": 0, "g": 0, "b": 255, "a": 255}, "_offset": {"x": 6, "y": -6},
                         "_blur": 0}}, "below-right"),
])
def test_the_preview_draws_outlines_around_and_shadows_offset_from_the_glyphs(part, where):
    label = {"_string": "H", "_fontSize": 40, "_lineHeight": 44, "_N$overflow": 0, "_N$horizontalAlign": 0}
    node = SimpleNamespace(label=label, size=(40, 44), anchor=(0, 1), world=(20, 80), color=(255, 255, 255, 255),
                           opacity=1, parts=part)
    canvas = Image.new("RGBA", (100, 100), (0, 0, 0, 0))
    labels.draw_label(canvas, 100, node, labels.Fonts())
    pixels = np.asarray(canvas).astype(int)
    white = box_of((pixels[..., 0] > 200) & (pixels[..., 3] > 200))
    blue = box_of((pixels[..., 0] < 60) & (pixels[..., 2] > 200) & (pixels[..., 3] > 200))
    if where == "around":
        assert blue[0] <= white[0] - 2 and blue[1] <= white[1] - 2 and blue[2] >= white[2] + 2
    else:
        assert (blue[2] - white[2], blue[3] - white[3]) == (6, 6)
