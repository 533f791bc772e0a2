"""Layer style effects tessel draws itself: each family against Photoshop's composite, and what it cannot draw."""

import importlib.util
import os
from pathlib import Path

import pytest
from psd_tools import PSDImage

from tessel.export import ExportOptions, export_psd
from tessel.road import styles
from tessel.see.check import check

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
PSD_MORE = SHARED_PSD.parent / "psd-more"
BOTH = ExportOptions(jobs=1, all_layers=True, styles=True)

pytestmark = pytest.mark.skipif(any(importlib.util.find_spec(name) is None for name in styles.EXTRAS),
                                reason="psd-tools' composite packages (tessel[styles]) are not installed")


def shared(name):
    path = PSD_MORE / name
    if not path.is_file():
        pytest.skip(f"{name} is not in the shared PSD folders")
    return path


@pytest.mark.parametrize("name", [
    "effects-multiple-overlays-1-duplicate-colors.psd",  # several colour overlays, the first on top
    "effects-color-overlay-3.psd",  # overlays on a shape, under its own stroke
    "effects-drop-shadow-5.psd",  # a fully spread shadow under an outside stroke
    "effects-inner-shadow-2.psd",  # multiplied
    "effects-inner-glow-1.psd",  # screened, from the edge
    "effects-inner-glow-3.psd",  # screened, from the centre, choked
    "effects-stroke-2-vector-color.psd",  # a stroke effect along a shape's own stroke
    "clipping-shape-with-clip-stroke.psd",  # a shape's stroke over the layer clipped to it
    "layer-types-artboard.psd",  # fills shown only within their artboards
])
def test_effects_look_as_photoshop_draws_them(name):
    result = check(str(shared(name)), tolerance=24, options=BOTH)
    assert result.reference == "Photoshop's composite"
    assert result.differing <= 0.02


def _turned_on(descriptor, mode=None):
    from psd_tools.psd.descriptor import Bool, Enumerated

    descriptor[b"present"] = Bool(True)
    descriptor[b"enab"] = Bool(True)
    if mode is not None:
        descriptor[b"Md  "] = Enumerated(b"BlnM", mode)


def test_an_effect_tessel_cannot_draw_is_one_warning_and_the_rest_is_drawn(tmp_path):
    psd = PSDImage.open(shared("effects-color-overlay-3.psd"))
    star = psd[1]
    block = next(value for value in star.tagged_blocks.values() if b"masterFXSwitch" in getattr(value, "data", {}))
    _turned_on(block.data[b"ChFX"])
    _turned_on(block.data[b"OrGl"], b"Scrn")
    _turned_on(block.data[b"dropShadowMulti"][0])
    path = tmp_path / "styled.psd"
    psd.save(path)

    result = export_psd(path, tmp_path / "out", BOTH)
    lines = [line for line in result.warnings if "Star 1" in line]
    assert len(lines) == 2
    assert any("satin" in line for line in lines) and any("outer glow" in line and "screen" in line for line in lines)
    image = next((tmp_path / "out").rglob("*_Star1.png"))
    from PIL import Image

    with Image.open(image) as drawn:
        # The drop shadow is drawn: the sprite reaches below and right of the star (global light from 30 degrees).
        assert drawn.size[0] > star.width and drawn.size[1] > star.height
