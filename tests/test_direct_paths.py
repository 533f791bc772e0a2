"""The passes' direct paths (own hooks and constructors, C++ arithmetic, cached names) answer as Python would."""

import re
from fractions import Fraction

import pytest

from tessel import layerkit, nodeweave
from tessel.infos import YPSD
from tessel.testing import Doc, Group, Pixel, build_psd


def open_doc():
    psd = YPSD(build_psd(Doc(750, 1334, [Group("G", [Pixel("P", size=(60, 30), left=320, top=520)]),
                                         Pixel("Q", size=(50, 40), left=101, top=200)])), "doc.psd")
    psd.name = "doc"
    return psd


def sprites(psd):
    return [o for o in psd.totalInfo if isinstance(o, nodeweave.CCSprite)]


def test_hooks_found_anywhere_but_the_class_itself_are_called(monkeypatch):
    calls = []
    original_read = nodeweave.CCPrefabInfo.read

    def read(self):
        calls.append("read")
        original_read(self)

    # A replaced class attribute, then an attribute of one object.
    monkeypatch.setattr(nodeweave.CCPrefabInfo, "read", read)
    psd = open_doc()
    nodeweave.initPsdInfo(psd)
    assert calls == ["read"] * 4
    first = sprites(psd)[0]
    first.createMeta = lambda: calls.append("createMeta")
    nodeweave.refleshIdAndCreateMeta(psd)
    assert calls[4:] == ["createMeta"]
    assert first.meta is None and sprites(psd)[1].meta is not None


def test_an_overridden_is_exportable_decides_the_tree():
    class OnlyQ(YPSD):
        def isExportable(self, layer):
            return layer.name == "Q"

    psd = OnlyQ(build_psd(Doc(750, 1334, [Group("G", [Pixel("P", size=(6, 3))]), Pixel("Q", size=(5, 4))])), "d.psd")
    assert [layer.name for layer in psd] == ["Q"]


def test_a_replaced_init_is_called(monkeypatch):
    original = nodeweave.CCSize.__init__

    def init(self):
        original(self)
        self.extra = 1

    monkeypatch.setattr(nodeweave.CCSize, "__init__", init)
    psd = open_doc()
    nodeweave.initPsdInfo(psd)
    assert all(o._contentSize.extra == 1 for o in psd.totalInfo if isinstance(o, nodeweave.CCNode))


class CountingPattern:
    """Not a compiled pattern: its results may change, so it is asked every time."""

    def __init__(self):
        self.calls = 0

    def sub(self, replacement, text):
        self.calls += 1
        return text + str(self.calls)


@pytest.mark.parametrize("change", ["replace item", "append", "new list"])
def test_clean_layer_name_sees_every_change_of_the_list(monkeypatch, change):
    monkeypatch.setattr(layerkit, "nameRepList", [re.compile("x")])
    assert layerkit.cleanLayerName("axb") == "ab"
    if change == "replace item":
        layerkit.nameRepList[0] = re.compile("a")
    elif change == "append":
        layerkit.nameRepList.append(re.compile("a"))
    else:
        monkeypatch.setattr(layerkit, "nameRepList", [re.compile("a")])
    assert layerkit.cleanLayerName("axb") == {"replace item": "xb", "append": "b", "new list": "xb"}[change]


def test_clean_layer_name_asks_other_patterns_every_time(monkeypatch):
    counting = CountingPattern()
    monkeypatch.setattr(layerkit, "nameRepList", [re.compile("x"), counting])
    assert [layerkit.cleanLayerName("axb") for _ in range(2)] == ["ab1", "ab2"]


@pytest.mark.parametrize(
    "width, height, ax, ay",
    [
        (750, 1334, 0.5, 0.5),
        (751, 1335, 0.5, 0.5),
        (750, 1334, 1, 0),
        (2**62 + 1, 2**62 + 3, 0.5, 0.5),
        (2**70, 2**70, 1, 1),
        (Fraction(751), Fraction(1335), Fraction(1, 2), 0.5),
        (750.0, True, 0.25, -0.5),
    ],
    ids=["even", "odd", "int-anchor", "beyond-double", "beyond-int64", "fraction", "float-bool"],
)
def test_positions_follow_python_arithmetic(width, height, ax, ay):
    psd = open_doc()
    nodeweave.initPsdInfo(psd)
    document = psd.info
    document._contentSize.width, document._contentSize.height = width, height
    document._anchorPoint.x, document._anchorPoint.y = ax, ay
    q = psd.totalInfo[[o.layer.name for o in psd.totalInfo].index("Q")]
    x0, y0, h = q._position.x, q._position.y, q._contentSize.height
    nodeweave.fixPosition(psd)
    x = x0 - width * ax
    y = height - (y0 + height * ay) - h
    for got, want in [(q._position.x, x), (q._position.y, y), (q._localPosition.x, int(x)),
                      (q._localPosition.y, int(y))]:
        assert got == want and type(got) is type(want)
