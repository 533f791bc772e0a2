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
    "effects-stroke-1-raster-pattern.psd",  # a pattern stroke, tiled from the layer's reference point
    "effects-pattern-overlay-3.psd",  # an indexed-colour pattern on a shape
    "clipping-shape-with-clip-stroke.psd",  # a shape's stroke over the layer clipped to it
    "clipping-group-with-clip-stroke-effect.psd",  # a group's stroke over the layer clipped to the group
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


@pytest.mark.parametrize("angle, expected", [(90, (0, 4)), (0, (-4, 0)), (180, (4, 0)), (-90, (0, -4)), (45, (-3, 3))])
def test_a_shadow_falls_away_from_the_light(angle, expected):
    from tessel.road.effects.coverage import offset

    assert offset(4, angle) == expected


def test_spread_grows_round_not_square():
    import numpy as np

    from tessel.road.effects.coverage import grow

    dot = np.zeros((21, 21), np.float32)
    dot[10, 10] = 1.0
    grown = grow(dot, 6)
    assert grown[10, 16] > 0.9 and grown[4, 10] > 0.9
    assert grown[4, 4] == 0.0  # a square would reach the corner, 8.5 px away


def test_an_indexed_colour_pattern_keeps_its_colours(tmp_path):
    import numpy as np
    from PIL import Image

    export_psd(shared("effects-pattern-overlay-1.psd"), tmp_path, BOTH)
    with Image.open(next(tmp_path.rglob("*_Star1.png"))) as drawn:
        pixels = np.asarray(drawn.convert("RGBA"), np.float32)
    shown = pixels[pixels[..., 3] == 255][:, :3]
    # Grass and leaves: far from grey.
    assert (shown.max(axis=1) - shown.min(axis=1)).mean() > 40


def test_several_shadows_of_the_multi_key_are_all_drawn(tmp_path):
    import copy

    import numpy as np
    from PIL import Image
    from psd_tools.psd.descriptor import Bool, Double

    psd = PSDImage.open(shared("effects-color-overlay-3.psd"))
    block = next(value for value in psd[1].tagged_blocks.values()
                 if b"masterFXSwitch" in getattr(value, "data", {}))
    first = block.data[b"dropShadowMulti"][0]
    _turned_on(first, b"Nrml")
    first[b"Opct"].value = 100.0
    second = copy.deepcopy(first)
    # Black falls down-right (global light), blue straight up.
    second[b"uglg"], second[b"lagl"].value = Bool(False), -90.0
    second[b"Clr "][b"Bl  "] = Double(255.0)
    block.data[b"dropShadowMulti"].append(second)
    path = tmp_path / "shadows.psd"
    psd.save(path)

    export_psd(path, tmp_path / "out", BOTH)
    with Image.open(next((tmp_path / "out").rglob("*_Star1.png"))) as drawn:
        pixels = np.asarray(drawn.convert("RGBA"))
    colours = {tuple(int(v) for v in pixel[:3]) for pixel in pixels[pixels[..., 3] > 0]}
    assert (0, 0, 0) in colours and (0, 0, 255) in colours
