"""Text layers as labels: placement by justification, box text in its box, paragraphs, fonts, vertical text."""

import json
import os
from pathlib import Path
from types import SimpleNamespace

import pytest

from tessel.see import check, labels, preview
from tessel import cli, export, infos
from tessel.testing import Doc, Group, Pixel, Text, build_psd, write_psd

SHARED_MORE = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd")).parent / "psd-more"
BOX_TEXT_FILES = sorted(SHARED_MORE.glob("texts-*.psd")) if SHARED_MORE.is_dir() else []


def exported(tmp_path, doc):
    """Check ``doc`` and return the check result and the labels of its prefab by node name."""
    path = tmp_path / "design.psd"
    write_psd(doc, path)
    result = export.export_psd(path, tmp_path / "out")
    objects = json.loads(Path(result.prefab).read_text(encoding="utf-8"))
    nodes = {o["_name"]: o for o in objects if o["__type__"] == "cc.Node"}
    found = {}
    for name, node in nodes.items():
        for ref in node["_components"]:
            if objects[ref["__id__"]]["__type__"] == "cc.Label":
                found[name] = (node, objects[ref["__id__"]])
    return check.check(path), found, result


# Justification code -> anchor x and the label's horizontal alignment (justified: by the last line), point and box text alike.
JUSTIFICATIONS = [(0, 0, 0), (1, 1, 2), (2, 0.5, 1), (3, 0, 0), (4, 1, 2), (5, 0.5, 1), (6, 0, 0)]


@pytest.mark.parametrize("area", [False, True], ids=["point", "box"])
@pytest.mark.parametrize("code, anchor_x, halign", JUSTIFICATIONS, ids=[f"j{c}" for c, _, _ in JUSTIFICATIONS])
def test_labels_land_on_their_text_for_every_justification(tmp_path, code, anchor_x, halign, area):
    doc = Doc(320, 240, [
        Text("top", "Hello", left=41, top=30, box=(121, 45), size=20.0, justification=code, area=area),
        Group("g", [Text("nested", "World\rAgain", left=170, top=151, box=(90, 60), size=20.0,
                         justification=code, area=area)]),
    ])
    result, found, _ = exported(tmp_path, doc)
    texts = [p for p in result.placements if p.kind == "text"]
    assert len(texts) == 2 and not result.misplaced, check.report(result)
    assert all(p.error <= 0.5 for p in texts), [(p.path, p.error) for p in texts]
    node, label = found["top"]
    assert node["_anchorPoint"]["x"] == anchor_x and label["_N$horizontalAlign"] == halign
    # Box text keeps its box and wraps in it from the top; point text is sized by the engine.
    assert (label["_N$overflow"], label["_N$verticalAlign"]) == ((2, 0) if area else (0, 2))
    assert label["_enableWrapText"] is True
    assert found["nested"][1]["_string"] == "World\nAgain"
    if area:
        assert node["_contentSize"]["width"] == 121 and node["_contentSize"]["height"] == 45


@pytest.mark.parametrize(
    "edit, shape, box",
    [(None, 1, (10, 20, 100, 50)),
     (lambda data: data["EngineDict"].pop("Rendered"), 0, None),
     (lambda data: data["EngineDict"]["Rendered"]["Shapes"]["Children"][0]["Cookie"]["Photoshop"].pop("BoxBounds"),
      1, None)],
    ids=["box", "no-rendered-shape", "no-box-bounds"])
def test_text_box_comes_from_the_rendered_shape_when_there_is_one(edit, shape, box):
    doc = Doc(200, 100, [Text("t", "x", left=10, top=20, box=(100, 50), area=True, edit=edit)])
    layer = infos.YPSD(build_psd(doc), "d.psd")._layers[0]
    assert (layer.ShapeType, layer.textBox, layer.WritingDirection) == (shape, box, 0)


# ---------------------------------------------------------------------------
# Line breaking and the overflow modes, as the engine lays a label out.


def by_chars(text):
    return float(len(text))


@pytest.mark.parametrize(
    "text, width, lines",
    [("  two words ", 20, ["  two words "]),
     ("alpha beta gamma", 11, ["alpha beta", "gamma"]),
     ("abcdefghij", 4, ["abcd", "efgh", "ij"]),
     ("say hello, world", 9, ["say", "hello,", "world"]),
     ("你好世界", 3, ["你好世", "界"]),
     ("", 3, [""])],
    ids=["fits-kept-as-is", "between-words", "long-word", "mark-stays-with-word", "cjk", "empty"])
def test_paragraphs_wrap_as_the_engine_fragments_them(text, width, lines):
    assert labels.wrap_paragraph(text, width, by_chars) == lines


def label_node(text, overflow, size=(120, 60), font_size=20, wrap=True):
    label = {"_string": text, "_fontSize": font_size, "_lineHeight": font_size + 4, "_N$overflow": overflow,
             "_enableWrapText": wrap, "_N$horizontalAlign": 0, "_N$verticalAlign": 0}
    return SimpleNamespace(label=label, size=size, anchor=(0, 1), world=(10, 100), color=(0, 0, 0, 255), opacity=1)


TEXT = "one two three four five six seven eight"


def fits(laid, width=120, height=60):
    measure = labels._measure(laid.font)
    return len(laid.lines) * laid.line_height <= height and all(measure(line) <= width for line in laid.lines)


@pytest.mark.parametrize("overflow", [0, 1, 2, 3], ids=["none", "clamp", "shrink", "resize-height"])
def test_overflow_modes_lay_a_long_paragraph_out_as_the_engine_does(overflow):
    fonts = labels.Fonts()
    laid = labels.layout_label(label_node(TEXT, overflow), fonts)
    n = len(laid.lines)
    assert " ".join(laid.lines) == TEXT and (n == 1) == (overflow == 0)
    if overflow == 0:
        # The node takes the text's size, one baseline ratio below the last line.
        assert laid.width == labels._measure(laid.font)(TEXT) and laid.height == pytest.approx(1.26 * 24)
    elif overflow == 1:
        # Clamp keeps box and font; the lines below the box are cut off when drawn.
        assert (laid.width, laid.height, laid.font_size) == (120, 60, 20) and not fits(laid)
    elif overflow == 2:
        # Shrink: the largest font size whose wrapped lines fit the box.
        size = laid.font_size
        assert size < 20 and laid.line_height == int(24 * size / 20) and fits(laid)
        lines = labels._wrapped([TEXT], 120, fonts.get(size + 1))
        assert len(lines) * int(24 * (size + 1) / 20) > 60
    else:
        assert laid.width == 120 and laid.font_size == 20 and laid.height == pytest.approx((n + 0.26) * 24)


def test_box_text_draws_inside_its_box_and_paragraphs_on_their_own_lines():
    canvas = preview.Image.new("RGBA", (200, 200), (0, 0, 0, 0))
    node = label_node("first\nsecond\nthird", 2, size=(120, 90))
    labels.draw_label(canvas, 200, node, labels.Fonts())
    left, top, right, bottom = canvas.getbbox()
    assert left >= 10 and right <= 130 and top >= 100 and bottom <= 190
    assert len(labels.layout_label(node, labels.Fonts()).lines) == 3


# The engine puts the first baseline 0.87 font sizes below the box's top, moved down by
# half the box's spare height when centred; the last baseline of bottom-aligned text sits
# 0.26 font sizes above the box's bottom.
@pytest.mark.parametrize("valign, last_baseline", [
    (0, 0.87 * 40 + 44),
    (1, 0.87 * 40 + (120 - 44 - 40) / 2 + 44),
    (2, 120 - 0.26 * 40),
], ids=["top", "middle", "bottom"])
def test_the_last_line_sits_on_the_engine_baseline_for_each_vertical_alignment(valign, last_baseline):
    node = label_node("HE\nHI", 1, size=(200, 120), font_size=40)
    node.label["_N$verticalAlign"], node.world = valign, (10, 150)
    canvas = preview.Image.new("RGBA", (220, 200), (0, 0, 0, 0))
    labels.draw_label(canvas, 200, node, labels.Fonts())
    assert canvas.getbbox()[3] - (200 - 150) == pytest.approx(last_baseline, abs=1)


def _cjk_font_installed():
    fonts = labels.Fonts()
    return any(fonts._load(name, 12) for name in labels.CJK_FONTS)


@pytest.mark.skipif(_cjk_font_installed(), reason="a CJK font is installed here")
def test_a_label_no_font_can_draw_is_said_once_on_stderr_naming_what_to_install(tmp_path, capsys):
    _, _, result = exported(tmp_path, Doc(200, 100, [Text("a", "美しい", size=20.0), Text("b", "日本語", size=30.0),
                                                    Text("c", "plain")]))
    assert cli.main(["preview", result.prefab, "-o", str(tmp_path / "p.png")]) == 0
    err = capsys.readouterr().err.splitlines()
    assert len(err) == 1 and "fonts-noto-cjk" in err[0] and "--font" in err[0] and "美しい" in err[0]
    fonts = labels.Fonts()
    assert fonts.get(20, "plain") is not None and not fonts.notes


# ---------------------------------------------------------------------------
# Documents as a whole


def test_vertical_text_is_exported_and_named_in_one_warning(tmp_path):
    def vertical(data):
        data["EngineDict"]["Rendered"]["Shapes"]["WritingDirection"] = 2

    doc = Doc(100, 100, [Text("upright", "縦書き", edit=vertical), Group("g", [Text("side 2", "ab", edit=vertical)]),
                         Text("flat", "ab")])
    _, found, result = exported(tmp_path, doc)
    assert len(result.warnings) == 1
    assert "'upright'" in result.warnings[0] and "'g/side 2'" in result.warnings[0] and "flat" not in result.warnings[0]
    assert found["upright"][1]["_string"] == "縦書き"


def test_check_reports_the_half_pixel_of_an_odd_sized_document_as_such(tmp_path, capsys):
    doc = Doc(201, 151, [Pixel("a", size=(30, 15), left=10, top=20), Group("g", [Pixel("b", size=(3, 3), left=60, top=70)])])
    path = tmp_path / "odd.psd"
    write_psd(doc, path)
    result = check.check(path)
    assert result.ok and all(p.half_pixel and p.error == 0.5 for p in result.placements)
    check.report(result)
    assert "misplaced layers: 0 of 3" in capsys.readouterr().out
    shifted = check.Placement("a", "pixel", (10, 20, 40, 35), (11, 20, 41, 35), rounding=(0.5, 0.5))
    assert shifted.misplaced


@pytest.mark.skipif(not BOX_TEXT_FILES, reason="no shared PSD files beside the checkout")
@pytest.mark.parametrize("path", [p for p in BOX_TEXT_FILES if "shapetype1" in p.name or "paragraphs" in p.name
                                  or "space-after" in p.name], ids=lambda p: p.name)
def test_photoshop_box_text_lands_on_its_text_box(path):
    result = check.check(path)
    texts = [p for p in result.placements if p.kind == "text"]
    assert texts and all(p.error <= 1 for p in texts), [(p.path, p.error) for p in texts]
