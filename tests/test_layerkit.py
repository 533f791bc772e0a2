"""Layer-name cleaning, scale-9 numbers and nine-slice images of tessel.layerkit."""

import re

import pytest
from PIL import Image

from tessel import layerkit


def _cases(table):
    return [pytest.param(*row[1:], id=row[0]) for row in table]


CLEAN = [
    ("type-word-after-scale9", "Button_ok_10,20,30,40", "ok"),
    ("image-path", "Image_bg_P,common/btn", "bg"),
    ("type-word-upper", "LABEL_Title", "Title"),
    ("type-word-lower", "label_title", "title"),
    ("two-type-words", "ProgressBar_Button_x", "x"),
    ("scale9-eats-the-underscore", "Button_10,10,10,10", "Button"),
    ("copy-number", "Layer 1 copy 2", "Layer1"),
    ("copy-at-end", "Layer 1 copy", "Layer1copy"),
    ("copy-alone", "copy", "copy"),
    ("copy-upper", "bg COPY 12", "bg"),
    ("copy-tab-digits", "Copy\t12name", "name"),
    ("copy-ideographic-space", "bg copy\u3000", "bg"),
    ("chinese-copy", "图层 1 拷贝 3", "图层1"),
    ("chinese-duplicate", "图层 1 副本", "图层1"),
    ("chinese-copy-fullwidth", "a 拷贝\u3000２", "a"),
    ("extension", "icon.PNG", "icon"),
    ("two-extensions", "a.jpg.png", "a"),
    ("hash", "btn #1", "btn1"),
    ("type-word-inside", "ListItem_x", "Listx"),
    ("every-scale9", "a_1,2,3,4_5,6,7,8", "a"),
    ("path-ends-at-comma", "x_P,a,b", "x,b"),
    ("path-ends-at-underscore", "x_p,abc_def", "x_def"),
    ("scale9-fullwidth", "bg_１０,２０,３０,４０", "bg"),
    ("empty", "", ""),
    ("type-word-only", "Label_", ""),
    ("hash-only", "#", ""),
    ("only-ascii-space", "a\u3000b\tc d", "a\u3000b\tcd"),
    ("lone-surrogate", "a\ud800 b", "a\ud800b"),
    ("emoji", "😀 btn_1,2,3,4", "😀btn"),
]


@pytest.mark.parametrize("name, expected", _cases(CLEAN))
def test_clean_layer_name(name, expected):
    assert layerkit.cleanLayerName(name) == expected


@pytest.mark.parametrize("name", [12, b"bytes", None], ids=["int", "bytes", "none"])
def test_clean_layer_name_of_non_text_fails_in_re(name):
    with pytest.raises(TypeError):
        layerkit.cleanLayerName(name)


def test_clean_layer_name_reads_the_list_the_host_put_in_place(monkeypatch):
    monkeypatch.setattr(layerkit, "nameRepList", [re.compile("x", re.I)])
    assert layerkit.cleanLayerName("aXb copy 1") == "ab copy 1"
    layerkit.nameRepList.append(re.compile(r"\d"))
    assert layerkit.cleanLayerName("x1y2") == "y"


def test_tables_share_the_pattern_objects():
    assert layerkit.nameRepList[1] is layerkit.scale9Param
    assert layerkit.nameRepList[2] is layerkit.reImgPath
    assert len(layerkit.nameRepList) == 9
    assert layerkit.reChinese.search("ab图层c").group() == "图层"
    assert layerkit.reImgPath.search("a_p,dir/x_y").group(1) == "dir/x"


@pytest.mark.parametrize(
    "items, expected",
    [
        ([], ""),
        (["A"], "(A_)"),
        (["A", "B"], "(A_)|(B_)"),
        ("AB", "(A_)|(B_)"),
        ((x for x in [1, None]), "(1_)|(None_)"),
    ],
    ids=["empty", "one", "two", "text", "generator"],
)
def test_combo_str(items, expected):
    assert layerkit.comboStr(items) == expected


SCALE9 = [
    ("plain", "bg_10,20,30,40", (10, 20, 30, 40)),
    ("inside", "Button_ok_10,20,30,40_x", (10, 20, 30, 40)),
    ("first-wins", "a_1,2,3,4_5,6,7,8", (1, 2, 3, 4)),
    ("leading-zeros", "a_007,2,3,4x", (7, 2, 3, 4)),
    ("five-numbers", "a_1,2,3,4,5", (1, 2, 3, 4)),
    ("fullwidth", "bg_１２,８,１２,８", (12, 8, 12, 8)),
    ("arabic-indic", "bg_\u0661,\u0662,\u0663,\u0664", (1, 2, 3, 4)),
    ("three-numbers", "a_1,2,3", None),
    ("no-digits", "background", None),
    ("space-after-comma", "a_1, 2,3,4", None),
]


@pytest.mark.parametrize("name, expected", _cases(SCALE9))
def test_get_scale9_params(name, expected):
    params = layerkit.getScale9Params(name)
    assert params == expected
    if expected is not None:
        assert type(params) is tuple and all(type(v) is int for v in params)


def _pixels(img):
    return [img.getpixel((x, y)) for y in range(img.height) for x in range(img.width)]


def _source(width, height, mode="RGBA"):
    """An image whose every column and every row differ; alpha varies too."""
    img = Image.new("RGBA", (width, height))
    img.putdata([(x, y, (3 * x + 7 * y) % 256, 60 + (x + y) % 190) for y in range(height) for x in range(width)])
    return img.convert(mode)


def _expected_scale9(src, top, right, bottom, left):
    """The nine-slice image pixel by pixel: columns up to `left` and rows up to `top`
    come from the start of the source, the rest from its right and bottom edges;
    pixels outside the source are the crop's fill, zero in the source's mode."""
    rgba = src.convert("RGBA")
    outside = Image.new(src.mode, (1, 1)).convert("RGBA").getpixel((0, 0))
    W, H = rgba.size
    w, h = left + right + 1, top + bottom + 1

    def pick(i, first, size, last):
        return i if i <= first else size - last + (i - first - 1)

    out = []
    for j in range(h):
        for i in range(w):
            x, y = pick(i, left, W, right), pick(j, top, H, bottom)
            out.append(rgba.getpixel((x, y)) if 0 <= x < W and 0 <= y < H else outside)
    return (w, h), out


@pytest.mark.parametrize(
    "size, params, mode",
    [
        ((100, 60), (10, 20, 30, 40), "RGBA"),
        ((100, 60), (10, 20, 30, 40), "RGB"),
        ((100, 60), (10, 20, 30, 40), "LA"),
        ((100, 60), (0, 0, 0, 0), "RGBA"),
        ((100, 60), (0, 7, 0, 5), "RGBA"),
        ((100, 60), (9, 0, 4, 0), "RGB"),
        ((5, 4), (1, 2, 1, 2), "RGBA"),
        ((20, 10), (50, 80, 50, 80), "RGBA"),
        ((20, 10), (3, 30, 2, 1), "RGB"),
    ],
    ids=["rgba", "rgb", "la", "zero", "no-rows", "no-columns", "borders-fill-source", "oversize", "oversize-rgb"],
)
def test_crop_to_scale9(size, params, mode):
    src = _source(*size, mode=mode)
    before = src.tobytes()
    result = layerkit.crop2Scale9Image(src, params)
    expected_size, expected_pixels = _expected_scale9(src, *params)
    assert result.mode == "RGBA" and result.size == expected_size
    assert _pixels(result) == expected_pixels
    assert src.tobytes() == before and src.mode == mode


def test_crop_to_scale9_matches_the_documented_columns_and_rows():
    src = _source(100, 60)
    result = layerkit.crop2Scale9Image(srcImg=src, params=[10, 20, 30, 40])
    assert result.size == (61, 41)
    column = lambda img, x, rows: [img.getpixel((x, y)) for y in rows]  # noqa: E731
    row = lambda img, y, cols: [img.getpixel((x, y)) for x in cols]  # noqa: E731
    assert column(result, 40, range(10)) == column(src, 40, range(10))
    assert [column(result, 41 + k, range(10)) for k in range(20)] == [column(src, 80 + k, range(10)) for k in range(20)]
    assert row(result, 10, range(40)) == row(src, 10, range(40))
    assert [row(result, 11 + k, range(40)) for k in range(30)] == [row(src, 30 + k, range(40)) for k in range(30)]


def test_crop_to_scale9_of_rgb_is_opaque_and_rgba_keeps_alpha():
    rgb = layerkit.crop2Scale9Image(Image.new("RGB", (8, 8), (1, 2, 3)), (2, 2, 2, 2))
    assert set(_pixels(rgb)) == {(1, 2, 3, 255)}
    rgba = layerkit.crop2Scale9Image(Image.new("RGBA", (8, 8), (1, 2, 3, 77)), (2, 2, 2, 2))
    assert set(_pixels(rgba)) == {(1, 2, 3, 77)}


@pytest.mark.parametrize(
    "params, error",
    [((1, 2, 3), IndexError), ((1.5, 1, 1, 1), TypeError), ((1, "2", 1, 1), TypeError)],
    ids=["three-items", "float", "text"],
)
def test_crop_to_scale9_rejects_bad_params(params, error):
    with pytest.raises(error):
        layerkit.crop2Scale9Image(_source(10, 10), params)
