"""Point text placed by its own geometry: Photoshop-written text lands where Photoshop drew it."""

import os
from pathlib import Path

import pytest

from tessel import export
from tessel.see import check
from tessel.testing import Doc, Text, write_psd

SHARED = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
# Point text with leading blanks and a trailing blank line, runs of another weight, one, two and three lines,
# each justification, explicit leading, a centred glyph whose line box lies right of its origin.
POINT_TEXT = ["psd-more/texts-whitespaces.psd", "psd-more/texts-style-bold.psd", "psd/text.psd",
              "psd-more/texts-paragraph-shapetype0-justification0.psd",
              "psd-more/texts-paragraph-shapetype0-justification1.psd",
              "psd-more/texts-paragraph-shapetype0-justification2.psd", "psd/masks2.psd",
              "psd-more/effects-stroke-3-text.psd", "psd-more/layer-types-type-layer.psd"]


@pytest.mark.skipif(not SHARED.is_dir(), reason="the shared PSD files are absent")
@pytest.mark.parametrize("name", POINT_TEXT)
def test_photoshop_point_text_draws_its_glyphs_where_photoshop_drew_them(name):
    result = check.check(str(SHARED.parent / name))
    texts = [p for p in result.placements if p.kind == "text"]
    assert texts and all(p.pinned is not None for p in texts)
    assert all(p.error <= 3 for p in texts), [(p.path, p.node_box, p.layer_box) for p in texts]
    assert not result.misplaced


def test_text_without_drawn_glyphs_keeps_the_placement_by_its_box(tmp_path):
    # Another writer's layer: an empty pixel block, and an origin that says nothing about it.
    path = tmp_path / "plain.psd"
    write_psd(Doc(200, 120, [Text("t", "Hello\rWorld", left=20, top=30, box=(90, 70), size=20.0,
                                   origin=(20.0, 90.0))]), path)
    result = export.export_psd(path, tmp_path / "out")
    (placement,) = check.check(str(path)).placements
    assert placement.pinned is None and placement.error <= 0.5 and result.warnings == []
