"""Documents written by tessel.testing read back through psd-tools as described."""

import pytest
from PIL import Image
from psd_tools import PSDImage

from tessel.testing import (
    Doc, Group, Pixel, Run, Text, build_psd, gradient, solid, utf16_length, write_psd,
)

RGBA = gradient((6, 5), (255, 0, 0, 255), (0, 0, 255, 64))
RGB = Image.new("RGB", (4, 3), (10, 200, 30))

TREE = Doc(120, 90, [
    Pixel("bg", size=(120, 90), color=(30, 30, 60)),
    Group("Button_start", [
        Pixel("btn_12,8,12,8", image=RGBA, left=10, top=20, opacity=128),
        Group("层 二", [
            Group("third 😀", [Pixel("图层 1 拷贝", image=RGB, left=1, top=2)]),
            Pixel("bg copy 2", size=(5, 5), left=50, top=60),
        ], opacity=200),
    ]),
    Group("NotExport_guides", [Pixel("line", size=(1, 90), left=60)], visible=False),
    Pixel("hidden", size=(7, 8), left=3, top=4, visible=False, opacity=0),
    Pixel("empty", size=(0, 0)),
])


@pytest.fixture(scope="module")
def tree():
    return build_psd(TREE)


def find(group, path):
    layer = group
    for name in path.split("/"):
        layer = next(child for child in layer if child.name == name)
    return layer


@pytest.mark.parametrize("path,kind,bbox,visible,opacity", [
    ("bg", "pixel", (0, 0, 120, 90), True, 255),
    ("Button_start", "group", None, True, 255),
    ("Button_start/btn_12,8,12,8", "pixel", (10, 20, 16, 25), True, 128),
    ("Button_start/层 二", "group", None, True, 200),
    ("Button_start/层 二/third 😀", "group", None, True, 255),
    ("Button_start/层 二/third 😀/图层 1 拷贝", "pixel", (1, 2, 5, 5), True, 255),
    ("Button_start/层 二/bg copy 2", "pixel", (50, 60, 55, 65), True, 255),
    ("NotExport_guides", "group", None, False, 255),
    ("hidden", "pixel", (3, 4, 10, 12), False, 0),
    ("empty", "pixel", (0, 0, 0, 0), True, 255),
], ids=lambda v: v if isinstance(v, str) else None)
def test_layer_attributes(tree, path, kind, bbox, visible, opacity):
    layer = find(tree, path)
    assert (layer.kind, layer.visible, layer.opacity) == (kind, visible, opacity)
    if bbox is not None:
        assert tuple(layer.bbox) == bbox


@pytest.mark.parametrize("path,names", [
    ("", ["bg", "Button_start", "NotExport_guides", "hidden", "empty"]),
    ("Button_start", ["btn_12,8,12,8", "层 二"]),
    ("Button_start/层 二", ["third 😀", "bg copy 2"]),
], ids=["top", "group", "nested"])
def test_children_keep_the_given_order(tree, path, names):
    group = find(tree, path) if path else tree
    assert [child.name for child in group] == names


def test_layer_ids_are_unique(tree):
    ids = [layer.layer_id for layer in tree.descendants()]
    assert len(set(ids)) == len(ids) and min(ids) > 0


@pytest.mark.parametrize("path,source", [
    ("Button_start/btn_12,8,12,8", RGBA),
    ("Button_start/层 二/third 😀/图层 1 拷贝", RGB.convert("RGBA")),
], ids=["rgba", "rgb-becomes-opaque"])
def test_pixels_round_trip(tree, path, source):
    image = find(tree, path).topil()
    assert image.convert("RGBA").tobytes() == source.tobytes()


def test_layer_without_pixels_has_no_image(tree):
    assert find(tree, "empty").topil() is None


def test_merged_preview_shows_visible_layers(tree):
    preview = tree.topil().convert("RGBA")
    assert preview.getpixel((100, 5)) == (30, 30, 60, 255)
    assert preview.getpixel((5, 6)) == (30, 30, 60, 255)  # under the hidden layer
    # grey at the group's opacity 200 over the background
    blend = [round(128 * 200 / 255 + c * 55 / 255) for c in (30, 30, 60)]
    assert list(preview.getpixel((52, 62))[:3]) == pytest.approx(blend, abs=1)


@pytest.mark.parametrize("compression", ["rle", "zip"])
def test_write_psd_writes_a_readable_file(tmp_path, compression):
    path = tmp_path / "doc.psd"
    write_psd(Doc(TREE.width, TREE.height, TREE.layers, compression=compression), path)
    psd = PSDImage.open(path)
    assert [layer.name for layer in psd][:2] == ["bg", "Button_start"]
    assert find(psd, "Button_start/btn_12,8,12,8").topil().tobytes() == RGBA.tobytes()


# --- text layers -----------------------------------------------------------

def read_text(layer):
    """Walk the engine data the way the exporter does; return what it finds."""
    ed, rd = layer.engine_dict, layer.resource_dict
    fonts = [font["Name"].value for font in rd["FontSet"]]
    normal = rd["StyleSheetSet"][rd["TheNormalStyleSheet"].value]["StyleSheetData"]
    paragraphs = ed["ParagraphRun"]
    default = paragraphs["DefaultRunData"]["ParagraphSheet"]["DefaultStyleSheet"].value
    runs = []
    for length, run in zip(ed["StyleRun"]["RunLengthArray"], ed["StyleRun"]["RunArray"]):
        data = run["StyleSheet"]["StyleSheetData"]
        pick = lambda key: (data if key in data else normal)[key]  # noqa: E731
        runs.append((length.value, fonts[pick("Font").value], pick("FontSize").value,
                     tuple(v.value for v in pick("FillColor")["Values"])))
    return {
        "text": ed["Editor"]["Text"].value,
        "anti_alias": ed["AntiAlias"].value,
        "justification": paragraphs["RunArray"][default]["ParagraphSheet"]["Properties"]
        ["Justification"].value,
        "paragraphs": [v.value for v in paragraphs["RunLengthArray"]],
        "runs": runs,
        "normal": {key: normal[key] for key in normal},
        "fonts": fonts,
    }


WHITE = (1.0, 1.0, 1.0, 1.0)
RED = (1.0, 1.0, 0.0, 0.0)
TEXTS = [
    ("single-run", Text("Label_caption", "开始\r", left=12, top=40, box=(50, 24),
                        font="ArialMT", size=24.0, color=WHITE, justification=2, anti_alias=3),
     {"text": "开始\r", "justification": 2, "anti_alias": 3, "paragraphs": [3],
      "runs": [(3, "ArialMT", 24.0, WHITE)],
      "fonts": ["ArialMT", "MyriadPro-Regular", "AdobeInvisFont"]}),
    ("runs-inherit-from-normal-sheet",
     Text("标题", "开始游戏", normal_font="PingFangSC-Medium", justification=1,
          style={"FontSize": 30.0, "FillColor": {"Type": 1, "Values": list(RED)}},
          runs=[Run(2, font="ArialMT"), Run(3, size=18.5, color=WHITE)]),
     {"text": "开始游戏\r", "justification": 1, "paragraphs": [5],
      "runs": [(2, "ArialMT", 30.0, RED), (3, "PingFangSC-Medium", 18.5, WHITE)],
      "fonts": ["ArialMT", "PingFangSC-Medium", "AdobeInvisFont"]}),
    ("paragraphs-and-emoji", Text("t", "hi 😀\rok", size=10.0, justification=3),
     {"text": "hi 😀\rok\r", "justification": 3, "paragraphs": [6, 3],
      "runs": [(9, "ArialMT", 10.0, (1.0, 0.0, 0.0, 0.0))]}),
    ("escaped-characters", Text("t", "a(b)\\c", size=12.0),
     {"text": "a(b)\\c\r", "paragraphs": [7]}),
]


@pytest.mark.parametrize("layer,expected", [case[1:] for case in TEXTS],
                         ids=[case[0] for case in TEXTS])
def test_text_engine_data(layer, expected):
    read = build_psd(Doc(200, 100, [layer]))[0]
    assert read.kind == "type" and read.name == layer.name
    assert read.text == expected["text"].rstrip("\r")
    found = read_text(read)
    assert {key: found[key] for key in expected} == expected
    assert found["fonts"][-1] == "AdobeInvisFont"
    assert sum(length for length, *_ in found["runs"]) == utf16_length(found["text"])


@pytest.mark.parametrize("layer,transform,bbox", [
    (Text("a", "x", left=12, top=40, box=(50, 24), origin=(12.9, 60.5)),
     (1, 0, 0, 1, 12.9, 60.5), (12, 40, 62, 64)),
    (Text("c", "x", left=10, top=20, box=(40, 30), size=16.0, justification=2),
     (1, 0, 0, 1, 30.0, 36.0), (10, 20, 50, 50)),
    (Text("r", "x", left=10, top=20, box=(40, 30), size=16.0, justification=1),
     (1, 0, 0, 1, 50.0, 36.0), (10, 20, 50, 50)),
], ids=["explicit-origin", "centred", "right"])
def test_text_placement(layer, transform, bbox):
    read = build_psd(Doc(200, 100, [layer]))[0]
    assert read._data.transform == pytest.approx(transform)
    assert tuple(read.bbox) == bbox


@pytest.mark.parametrize("options,present,absent", [
    ({}, {"CharacterDirection": 0, "FauxBold": False, "Leading": 0.0, "FontSize": 12.0}, ()),
    ({"omit": ("CharacterDirection", "Leading")}, {"FauxBold": False},
     ("CharacterDirection", "Leading")),
    ({"style": {"FauxBold": True, "Tracking": 50}}, {"FauxBold": True, "Tracking": 50}, ()),
], ids=["full", "omitted", "overridden"])
def test_normal_style_sheet_members(options, present, absent):
    normal = read_text(build_psd(Doc(50, 50, [Text("t", "x", **options)]))[0])["normal"]
    assert {key: normal[key].value for key in present} == present
    assert not set(absent) & set(normal)
    for key in ("Font", "FontSize", "FauxItalic", "AutoLeading", "Underline",
                "OutlineWidth", "FillColor", "BaselineShift"):
        assert key in normal


def test_edit_hook_reaches_the_file():
    def drop_anti_alias(data):
        del data["EngineDict"]["AntiAlias"]
    read = build_psd(Doc(50, 50, [Text("t", "x", edit=drop_anti_alias)]))[0]
    assert "AntiAlias" not in read.engine_dict and "Editor" in read.engine_dict


@pytest.mark.parametrize("layer", [
    Pixel("no pixels given"),
    Pixel("mismatch", image=solid((2, 2), (0, 0, 0)), size=(3, 3)),
    Text("wrong image", "x", box=(4, 4), image=solid((2, 2), (0, 0, 0))),
], ids=["pixel-without-source", "pixel-size-mismatch", "text-image-mismatch"])
def test_inconsistent_descriptions_are_refused(layer):
    with pytest.raises(ValueError):
        build_psd(Doc(10, 10, [layer]))
