"""The face a label is drawn in: its family's own file, a metric-compatible stand-in, or the fallbacks."""

import shutil
from types import SimpleNamespace

import pytest

from tessel.see import fontfaces, labels
from tessel.see.fontfaces import Face


@pytest.mark.parametrize("family, flags, first", [
    ("Times-Roman", (), Face("LiberationSerif-Regular.ttf")),
    ("TimesNewRomanPS-BoldItalicMT", (), Face("LiberationSerif-BoldItalic.ttf")),
    ("Arial-BoldMT", (), Face("LiberationSans-Bold.ttf")),
    ("ArialMT", (True, False), Face("LiberationSans-Bold.ttf")),
    ("Helvetica-Oblique", (), Face("LiberationSans-Italic.ttf")),
    ("Arial Narrow", (), Face("LiberationSansNarrow-Regular.ttf")),
    ("CourierNewPSMT", (), Face("LiberationMono-Regular.ttf")),
    ("NotoSansCJKjp-Regular", (), Face("NotoSansCJK-Regular.ttc", 0)),
    ("MicrosoftYaHei-Bold", (), Face("NotoSansCJK-Bold.ttc", 2)),
    ("SourceHanSansTW-Regular", (), Face("NotoSansCJK-Regular.ttc", 3)),
    ("SimSun", (), Face("NotoSerifCJK-Regular.ttc", 2)),
], ids=["times", "times-new-roman-bold-italic", "arial-bold", "engine-bold-switch", "helvetica-oblique",
        "arial-narrow", "courier-new", "noto-cjk-jp", "yahei-bold", "source-han-tw", "simsun"])
def test_families_map_to_their_metric_compatible_face_with_the_regular_one_behind(monkeypatch, family, flags, first):
    monkeypatch.setattr(fontfaces, "installed", dict)
    found = fontfaces.faces(family, *flags)
    assert found[0] == first
    # A style the free family lacks on this machine falls back to its regular face, not to another family.
    family_file, _, rest = first.file.partition("-")
    assert Face(f"{family_file}-Regular.{rest.rpartition('.')[2]}", first.index) in found


@pytest.mark.parametrize("family", ["Futura-Medium", "AdobeInvisFont", ""], ids=["futura", "invisible", "none"])
def test_families_without_a_stand_in_keep_the_fallbacks(monkeypatch, family):
    monkeypatch.setattr(fontfaces, "installed", dict)
    assert fontfaces.faces(family) == []


def _any_font():
    return next((path for name, path in fontfaces.installed().items() if name.endswith(".ttf")), None)


@pytest.mark.skipif(_any_font() is None, reason="no TrueType font installed here")
def test_the_familys_own_file_in_the_user_font_folder_wins(tmp_path, monkeypatch):
    own = tmp_path / "fonts" / "deep" / "Futura-Medium.ttf"
    own.parent.mkdir(parents=True)
    shutil.copy(_any_font(), own)
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path))
    fontfaces.installed.cache_clear()
    try:
        assert fontfaces.faces("Futura Medium")[0] == Face(str(own))
        node = SimpleNamespace(label={"_string": "Hi", "_fontSize": 20, "_N$fontFamily": "Futura-Medium"},
                               size=(0, 0), anchor=(0.5, 0.5), world=(50, 50))
        assert labels.layout_label(node, labels.Fonts()).font.path == str(own)
    finally:
        monkeypatch.undo()
        fontfaces.installed.cache_clear()


@pytest.mark.skipif("LiberationSerif-Regular.ttf" not in fontfaces.installed(), reason="fonts-liberation is not installed")
def test_a_times_label_is_measured_in_liberation_serif_italic_when_it_says_so_unless_a_font_is_given():
    node = SimpleNamespace(label={"_string": "Lorem Ipsum", "_fontSize": 32, "_N$fontFamily": "Times-Roman"},
                           size=(0, 0), anchor=(0, 0.5), world=(0, 50))
    laid = labels.layout_label(node, labels.Fonts())
    assert laid.font.path.endswith("LiberationSerif-Regular.ttf")
    # Times' own advance widths (L 611, o 500, r 333, ... per 1000 units) add up to 5416 units.
    assert laid.width == pytest.approx(5416 * 32 / 1000, abs=0.5)
    node.label["_isItalic"] = True
    italic = labels.layout_label(node, labels.Fonts())
    assert italic.font.path.endswith("LiberationSerif-Italic.ttf")
    assert italic.width == pytest.approx(labels._measure(italic.font)("Lorem Ipsum") + 32 * 0.2126, abs=0.01)
    given = fontfaces.installed().get("LiberationMono-Regular.ttf") or _any_font()
    assert labels.layout_label(node, labels.Fonts(given)).font.path == given
