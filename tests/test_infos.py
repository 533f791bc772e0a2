"""The layer-info tree of tessel.infos over real PSD documents."""

import collections
import gc
import os
import sys
import tracemalloc
import types
import weakref
from pathlib import Path

import pytest
from PIL import Image
from psd_tools import PSDImage

import tessel.infos as infos
from tessel import filemanager
from tessel.infos import YGroup, YLayer, YPSD, YRoot, YText, YTextLayer
from tessel.testing import Doc, Group, Pixel, Run, Text, build_psd, gradient

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
SHARED_FILES = sorted(SHARED_PSD.glob("*.psd")) if SHARED_PSD.is_dir() else []

SHARED_KEYS = ["type", "parent", "name", "width", "height", "visible", "left", "right", "top", "bottom", "opacity"]
TEXT_KEYS = ["text", "fontName", "Underline", "FontSize", "FauxBold", "FauxItalic", "AutoLeading", "Leading",
             "OutlineWidth", "CharacterDirection", "AntiAlias", "alignment", "Justification",
             "ColorOpacity", "ColorRed", "ColorGreen", "ColorBlue"]
COLOUR_KEYS = TEXT_KEYS[-4:]
IMAGE = gradient((30, 20), (255, 0, 0, 255), (0, 0, 255, 128))


@pytest.fixture
def logged(monkeypatch):
    """The lines the module sends to log.d."""
    lines = []
    monkeypatch.setattr(infos, "log", types.SimpleNamespace(d=lines.append, i=lines.append))
    return lines


def tree(*layers, path="ui/screen.psd"):
    return YPSD(build_psd(Doc(200, 100, list(layers))), path)


def test_classes():
    assert [(c.layerType, c.__bases__) for c in (YGroup, YPSD, YLayer, YTextLayer)] == [
        ("YGroup", (YRoot,)), ("YPSD", (YGroup,)), ("YLayer", (YRoot,)), ("YTextLayer", (YRoot, YText))]
    assert YRoot.layerType == "Root" and not hasattr(YText, "layerType")
    assert YTextLayer.__mro__[:3] == (YTextLayer, YRoot, YText)
    assert infos.prefix == "    "


# --- tree building ---------------------------------------------------------------


def test_tree_filters_and_keeps_document_order():
    doc = tree(
        Pixel("bg", size=(200, 100)),
        Group("面板", [
            Pixel("hidden child", size=(4, 4), visible=False),
            Group("inner", [Pixel("深", size=(3, 3), left=5, top=6)]),
            Text("Label_title", "Title"),
        ]),
        Group("NotExport_guides", [Pixel("visible inside", size=(2, 2))]),
        Group("hidden group", [Pixel("visible inside", size=(2, 2))], visible=False),
        Pixel("NotExport", size=(2, 2)),
        Pixel("notexport_kept", size=(2, 2)),
        Pixel("NOTEXPORT kept", size=(2, 2)),
        Group("all hidden", [Pixel("h", size=(2, 2), visible=False)]),
    )
    assert [c.name for c in doc] == ["bg", "面板", "notexport_kept", "NOTEXPORT kept", "all hidden"]
    panel, empty = doc._layers[1], doc._layers[4]
    assert [type(c) for c in panel] == [YGroup, YTextLayer] and len(panel) == 2 and len(empty) == 0
    deep = panel._layers[0]._layers[0]
    assert type(deep) is YLayer and deep.name == "深"
    assert (deep.parent, panel.parent, doc.parent) == (panel._layers[0], doc, None)
    assert deep.root is doc and doc.root is doc and doc.id == 0
    assert empty.exportdata()["children"] == []
    # Fields in the order the constructors set them.
    base = ["layer", "_name", "parent", "infolist", "info"]
    assert list(vars(doc)) == ["path", "_layers"] + base + ["totalInfo"]
    assert list(vars(panel)) == ["_layers"] + base
    assert list(vars(deep)) == base + ["_imageName", "_image", "scale9Params"]
    assert list(vars(panel._layers[1]))[:8] == base + ["spans", "AntiAlias", "Justification"]
    assert (doc.path, doc.totalInfo, deep.infolist, deep.info) == ("ui/screen.psd", [], [], None)
    # An empty name falls back to the reader's name.
    deep.name = ""
    assert deep.name == "深"


def test_dump_prints_indented_lines(capsys):
    doc = tree(Pixel("bg", size=(200, 100)),
               Group("面板", [Group("inner", [Pixel("深", size=(3, 4), left=5, top=6)])]),
               Group("empty", [Pixel("h", size=(2, 2), visible=False)]))
    capsys.readouterr()
    doc.dump()
    panel, inner = doc._layers[1], doc._layers[1]._layers[0]
    assert capsys.readouterr().out.splitlines() == [
        "name:Root, size:200*100, x=0,y=0",
        "    name:bg, size:200*100, x=0,y=0",
        f"    name:面板, size:{panel.width}*{panel.height}, x=5,y=6",
        f"        name:inner, size:{inner.width}*{inner.height}, x=5,y=6",
        "            name:深, size:3*4, x=5,y=6",
        "    name:empty, size:0*0, x=0,y=0",
    ]
    inner.dump(2)
    assert capsys.readouterr().out.startswith(" " * 8 + "name:inner")


class FakeLayer:
    def __init__(self, name, kind="shape", visible=True, children=()):
        self.name, self.kind, self.visible, self.layer_id = name, kind, visible, 9
        self.left = self.top = self.right = self.bottom = self.width = self.height = self.opacity = 1
        self.children = list(children)

    def __iter__(self):
        return iter(self.children)

    def topil(self):
        return None


class FakeGroup(FakeLayer):
    pass


def test_unknown_kinds_print_once_each(monkeypatch, capsys):
    monkeypatch.setattr(infos, "Group", FakeGroup)
    doc = FakeGroup("doc", children=[
        FakeLayer("shape 1"),
        FakeLayer("hidden shape", visible=False),
        FakeLayer("NotExport shape"),
        FakeGroup("g", kind="group", children=[FakeLayer("fill", kind="solidcolorfill")]),
    ])
    built = YPSD(doc, "doc.psd")
    assert capsys.readouterr().out == "('unknown type', 'shape')\n('unknown type', 'solidcolorfill')\n"
    assert [type(c) for c in built] == [YGroup] and len(built._layers[0]) == 0


def test_lone_surrogate_names_stay_text(monkeypatch, logged):
    monkeypatch.setattr(infos, "Group", FakeGroup)
    monkeypatch.setattr(infos, "PixelLayer", FakeLayer)
    doc = YPSD(FakeGroup("d\udce9", children=[FakeLayer("p\ud83d", kind="pixel")]), "doc.psd")
    layer, = doc
    assert layer.exportdata()["name"] == filemanager.pinyin("p\ud83d")
    assert layer.imageName == "d__p_"
    layer.save("x.png")
    assert logged == ["图层为空 p\ud83d，无法保存图片..."]


@pytest.mark.skipif(sys.version_info < (3, 11), reason="exception notes need Python 3.11")
@pytest.mark.parametrize("nested", [False, True], ids=["top", "nested"])
def test_reading_error_names_the_layer_once(nested):
    def drop_anti_alias(engine):
        del engine["EngineDict"]["AntiAlias"]

    text = Text("Title", "x", edit=drop_anti_alias)
    psd = build_psd(Doc(50, 50, [Group("outer", [Group("inner", [text])])] if nested else [text]))
    failing = next(layer for layer in psd.descendants() if layer.name == "Title")
    with pytest.raises(KeyError) as info:
        YPSD(psd, "doc.psd")
    assert info.value.__notes__ == [f"while reading layer 'Title' (id {failing.layer_id})"]


# --- export dictionaries -----------------------------------------------------------


def test_export_dictionaries():
    doc = tree(Pixel("bg", size=(200, 100), opacity=128),
               Group("面板", [Text("Label_t", "hi", left=7, top=8, box=(20, 10))], opacity=200))
    data = doc.exportdata()
    assert list(data) == SHARED_KEYS + ["children", "file"]
    assert [data[k] for k in ("type", "parent", "name", "width", "visible", "opacity", "file")] == [
        "YPSD", 0, "Root", 200, True, 0, "screen.psd"]
    pixel, group = data["children"]
    assert list(pixel) == SHARED_KEYS + ["id", "imageName"]
    assert [pixel[k] for k in ("type", "parent", "opacity", "id", "imageName")] == [
        "YLayer", 0, 128, doc._layers[0].layer.layer_id, "Root_bg"]
    assert list(group) == SHARED_KEYS + ["id", "children"]
    assert (group["name"], group["opacity"]) == ("mianban", 200)
    text, = group["children"]
    assert list(text) == SHARED_KEYS + ["id"] + TEXT_KEYS
    assert text["parent"] == group["id"] != 0
    assert [text[k] for k in ("left", "top", "right", "bottom")] == [7, 8, 27, 18]


def test_export_calls_python_overrides():
    class Tagged(YLayer):
        def fixdata(self, data):
            super().fixdata(data)
            data["tag"] = "mine"

        x = property(lambda self: 42)

    data = Tagged(tree(Pixel("bg", size=(2, 2)))._layers[0].layer).exportdata()
    assert list(data)[-3:] == ["id", "imageName", "tag"] and data["left"] == 42


# --- pixel layers ------------------------------------------------------------------


def test_image_name_joins_cleaned_ancestors_and_is_cached():
    doc = tree(Pixel("bg", size=(2, 2)), Group("外", [Group("inner", [Pixel("按钮_1,1,1,1", image=IMAGE)])]))
    outer = doc._layers[1]
    deep = outer._layers[0]._layers[0]
    assert doc._layers[0].imageName == "Root_bg"
    assert deep.imageName == "Root_wai_inner_anniu"
    outer.name = "changed"
    assert deep.imageName == "Root_wai_inner_anniu"


def test_image_name_failure_caches_nothing(monkeypatch):
    layer = tree(Group("g", [Pixel("p", size=(2, 2))]))._layers[0]._layers[0]
    real = filemanager.pinyin
    monkeypatch.setattr(infos.filemanager, "pinyin", lambda n: real(n) if n != "g" else 1 / 0)
    with pytest.raises(ZeroDivisionError):
        layer.imageName
    assert layer._imageName is None


def test_scale9_image_is_cropped_and_cached():
    plain, sliced = tree(Pixel("plain", image=IMAGE), Pixel("btn_3,4,5,6", image=IMAGE))
    sliced.name = "renamed"
    assert (plain.scale9Params, sliced.scale9Params) == (None, (3, 4, 5, 6))
    assert plain.image.size == (30, 20)
    assert sliced.image.tobytes() == infos.utils.crop2Scale9Image(sliced.layer.topil(), (3, 4, 5, 6)).tobytes()
    assert sliced.image is sliced._image


def test_pixelless_scale9_layer_has_no_image_and_saves_nothing(outdir, logged):
    layer, = tree(Pixel("empty_1,2,3,4", size=(0, 0)))
    assert layer.scale9Params == (1, 2, 3, 4) and layer.image is None
    layer.save("x.png")
    assert logged == ["图层为空 empty_1,2,3,4，无法保存图片..."]
    assert list(outdir.iterdir()) == []


@pytest.mark.parametrize("path", [None, ""], ids=["missing", "empty"])
def test_save_without_path_writes_png_under_image_name(outdir, logged, monkeypatch, path):
    monkeypatch.chdir(outdir)
    layer, = tree(Pixel("图", image=IMAGE))
    layer.save() if path is None else layer.save(path)
    assert logged == ["图保存图片到Root_tu"]
    with Image.open(outdir / "Root_tu") as saved:
        assert (saved.format, saved.size) == ("PNG", (30, 20))


@pytest.mark.parametrize("mode,written", [
    ("CMYK", "RGBA"), ("LAB", "RGBA"), ("F", "RGBA"), ("I", "RGBA"), ("YCbCr", "RGBA"),
    ("RGB", "RGB"), ("LA", "LA"), ("P", "P"), ("1", "1"),
])
def test_save_converts_only_modes_png_cannot_hold(tmp_path, logged, mode, written):
    layer, = tree(Pixel("p", image=IMAGE))
    layer._image = Image.new(mode, (5, 4))
    layer.save(str(tmp_path / "p.png"))
    with Image.open(tmp_path / "p.png") as saved:
        assert (saved.format, saved.mode, saved.size) == ("PNG", written, (5, 4))
    assert layer._image.mode == mode


# --- text layers ---------------------------------------------------------------------


def text_layer(**options):
    layer, = tree(Text("Label_t", options.pop("text", "Hello"), **options))
    assert type(layer) is YTextLayer
    return layer


def test_first_run_naming_a_property_decides_it():
    layer = text_layer(
        text="开始 😀\rWorld\r", runs=[Run(6, size=24.0), Run(3, size=36.0, font="Courier", color=(1.0, 0.5, 0.0, 1.0)),
                                     Run(4, font="Georgia", color=(1.0, 0.0, 1.0, 0.0))])
    data = layer.exportdata()
    assert layer.text == "开始 😀\rWorld\r" and data["text"] == "开始 😀\rWorld"
    assert (data["FontSize"], data["fontName"]) == (24.0, "Courier")
    assert [data[k] for k in COLOUR_KEYS] == [255, 128, 0, 255]
    assert layer.span == (0, len(layer.text))


def test_style_members_are_plain_values_with_sheet_fallback():
    layer = text_layer(style={"FauxBold": True, "Tracking": 50}, runs=[Run(6, style={"Tracking": 10})])
    assert (layer.FauxBold, layer.Tracking, layer.FontSize, layer.fontName) == (True, 50, 12.0, "MyriadPro-Regular")
    assert {type(layer.AntiAlias), type(layer.Justification), type(layer.Tracking)} == {int}
    assert [layer.exportdata()[k] for k in COLOUR_KEYS] == [255, 0, 0, 0]


@pytest.mark.parametrize("justification,alignment", [(0, "left"), (1, "right"), (2, "center"), (3, None)])
def test_alignment(justification, alignment):
    data = text_layer(justification=justification).exportdata()
    keys = [k for k in TEXT_KEYS if alignment or k != "alignment"]
    assert list(data)[12:] == keys
    assert (data.get("alignment"), data["Justification"]) == (alignment, justification)


@pytest.mark.parametrize("values,expected", [
    ([0.5 / 255, 1.5 / 255, 2.5 / 255, 3.5 / 255], [0, 2, 2, 4]),
    ([0.0, 0.2, 0.4, 0.6], [0, 51, 102, 153]),
    ([1, 0, 0.999, 0.001], [255, 0, 255, 0]),
], ids=["half-to-even", "fractions", "ints"])
def test_colour_rounding(values, expected):
    layer = text_layer()
    layer.FillColor = {"Values": values}
    data = layer.exportdata()
    assert [data[k] for k in COLOUR_KEYS] == expected and {type(data[k]) for k in COLOUR_KEYS} == {int}


@pytest.mark.parametrize("tx,x", [(12.9, 12), (-3.7, -3), (40.0, 40)], ids=["fraction", "negative", "whole"])
def test_text_x_is_the_truncated_transform_offset(tx, x):
    layer = text_layer(left=30, origin=(tx, 20.0), box=(40, 20))
    assert (layer.x, layer.layer.left, layer.exportdata()["left"]) == (x, 30, x)


def test_missing_style_member_exports_null():
    data = text_layer(omit=("CharacterDirection", "Underline")).exportdata()
    assert list(data) == SHARED_KEYS + ["id"] + TEXT_KEYS
    assert (data["CharacterDirection"], data["Underline"], data["FauxBold"]) == (None, None, False)


def test_init_text_on_a_bare_run():
    leaf = collections.namedtuple("Leaf", "value")
    run, font = YText(), {"Name": leaf("Arial")}
    meta = {leaf("FontSize"): leaf(10.0), leaf("Kerning"): leaf(1)}
    run.initText("abcdefgh", font, {"FontSize": leaf(20.0), "FillColor": {"Values": [1.0]}}, meta)
    assert (run.fontset, run.fontName, run.FontSize, run.Kerning) == (font, "Arial", 20.0, 1)
    assert run.FillColor == {"Values": [1.0]} and run.span == (0, 8)
    run.initText("abcdefgh", font, {}, startIdx=2, endIdx=5)
    assert run.span == (2, 5)


# --- memory --------------------------------------------------------------------------


@pytest.fixture(scope="module")
def big_psd():
    layers = [Group(f"组 {g}", [Pixel(f"p{g}_{i}", size=(4, 4)) for i in range(5)]
                    + [Text(f"t{g}_{i}", "ab") for i in range(4)]) for g in range(20)]
    psd = build_psd(Doc(100, 100, layers))
    assert len(list(psd.descendants())) == 200
    return psd


def _build_and_drop(psd):
    doc = YPSD(psd, "big.psd")
    doc.exportdata()
    for layer in (child for group in doc for child in group if isinstance(child, YLayer)):
        layer.image


def test_dropped_tree_is_collected(big_psd):
    doc = YPSD(big_psd, "big.psd")
    refs = [weakref.ref(doc), weakref.ref(doc._layers[3]._layers[0]), weakref.ref(doc._layers[3]._layers[7])]
    del doc
    gc.collect()
    assert [r() for r in refs] == [None, None, None]


def test_hundred_trees_do_not_grow_memory(big_psd):
    for _ in range(3):
        _build_and_drop(big_psd)
    gc.collect()
    tracemalloc.start()
    try:
        base = tracemalloc.get_traced_memory()[0]
        for _ in range(100):
            _build_and_drop(big_psd)
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - base
    finally:
        tracemalloc.stop()
    assert grown < 1_000_000  # one kept tree alone is about 250 kB


# --- documents written by other programs ------------------------------------------------


def _walk(group):
    for child in group:
        yield child
        if isinstance(child, YGroup):
            yield from _walk(child)


@pytest.mark.parametrize("path", SHARED_FILES, ids=lambda p: p.name)
def test_shared_document_builds_or_fails_cleanly(path, tmp_path, logged, capsys):
    try:
        doc = YPSD(PSDImage.open(path), str(path))
    except Exception:
        return
    doc.dump()
    assert doc.exportdata()["file"] == path.name
    for i, info in enumerate(_walk(doc)):
        if isinstance(info, YLayer):
            info.save(str(tmp_path / f"{i}.png"))
            assert (tmp_path / f"{i}.png").exists() == (info.image is not None)
        elif isinstance(info, YTextLayer):
            assert list(info.exportdata())[12:] in (TEXT_KEYS, TEXT_KEYS[:11] + TEXT_KEYS[12:])
