"""Labels at the size, case and line distance Photoshop draws the text with: scaled text, capitals, leading."""

import json
import os
from pathlib import Path

import pytest

from tessel import cli, export
from tessel.see import check, labels
from tessel.testing import Doc, Run, Text, write_psd

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))


def labels_of(tmp_path, *layers):
    """Export a document of ``layers``; returns its path and {node name: (node, label)}."""
    path = tmp_path / "design.psd"
    write_psd(Doc(400, 300, list(layers)), path)
    objects = json.loads(Path(export.export_psd(path, tmp_path / "out").prefab).read_text(encoding="utf-8"))
    found = {}
    for node in objects:
        if node["__type__"] == "cc.Node":
            for ref in node["_components"]:
                if objects[ref["__id__"]]["__type__"] == "cc.Label":
                    found[node["_name"]] = (node, objects[ref["__id__"]])
    return path, found


@pytest.mark.parametrize("area", [False, True], ids=["point", "box"])
@pytest.mark.parametrize("scale, x_scale", [((1.0, 1.0), 1), ((2.0, 2.0), 1), ((1.5, 2.0), 0.75)],
                         ids=["unscaled", "2x", "1.5x2"])
def test_scaled_text_draws_at_its_transformed_size(tmp_path, scale, x_scale, area):
    text = Text("t", "Scaled", left=40, top=50, box=(200, 60), size=20.0, area=area, scale=scale)
    path, found = labels_of(tmp_path, text)
    node, label = found["t"]
    assert (label["_fontSize"], label["_lineHeight"]) == (20 * scale[1], 20 * scale[1] + 4)
    assert node["_scale"]["x"] == x_scale
    # The scaled box is still the layer's box in the document.
    assert node["_contentSize"]["width"] * x_scale == pytest.approx(200, abs=0.01)
    result = check.check(path)
    assert not result.misplaced, check.report(result)


def test_capitals_are_written_in_capitals_and_the_tree_keeps_the_text(tmp_path, capsys):
    # Runs: "sign " small caps, "in " all caps, "now" as typed (lengths count the final "\r").
    runs = [Run(5, size=16.0, style={"FontCaps": 1}), Run(3, size=16.0, style={"FontCaps": 2}),
            Run(4, size=16.0, style={"FontCaps": 0})]
    path, found = labels_of(tmp_path, Text("caps", "sign in now", left=10, top=10, runs=runs),
                            Text("all", "a\rß", left=10, top=100, style={"FontCaps": 2}))
    assert found["caps"][1]["_string"] == found["caps"][1]["_N$string"] == "SIGN IN now"
    assert found["all"][1]["_string"] == "A\nSS"
    assert cli.main(["tree", "--json", str(path)]) == 0
    tree = json.loads(capsys.readouterr().out)
    assert {c["name"]: c["text"] for c in tree["children"]} == {"caps": "sign in now", "all": "a\rß"}


@pytest.mark.parametrize("style, scale, line_height", [
    ({"AutoLeading": False, "Leading": 30.0}, 1.0, 30),
    ({"AutoLeading": False, "Leading": 30.5}, 2.0, 61),
    ({"AutoLeading": False, "Leading": 25.25}, 1.0, 25.25),
    ({"AutoLeading": True, "Leading": 30.0}, 1.0, 24),
], ids=["explicit", "explicit-scaled", "fractional", "auto"])
def test_explicit_leading_is_the_line_height(tmp_path, style, scale, line_height):
    text = Text("lines", "one\rtwo\rthree", left=20, top=20, size=20.0, scale=(scale, scale),
                runs=[Run(14, size=20.0, style=style)])
    _, found = labels_of(tmp_path, text)
    assert found["lines"][1]["_lineHeight"] == line_height


@pytest.mark.skipif(not (SHARED_PSD / "masks.psd").is_file(), reason="no shared PSD files beside the checkout")
def test_photoshop_scaled_labels_are_drawn_at_photoshops_size():
    result = check.check(SHARED_PSD / "masks.psd")
    texts = [p for p in result.placements if p.kind == "text"]
    assert texts and all(0.8 <= p.size_ratio <= 1.2 for p in texts), check.report(result)


@pytest.mark.parametrize("scale", [1.0, 2.0], ids=["unscaled", "2x"])
def test_lines_of_explicit_leading_lie_on_photoshops_baselines(tmp_path, scale):
    # Three lines, 40 pt apart at 20 pt: the first baseline is the text's origin.
    text = Text("lines", "one\rtwo\rthree", left=20, top=35, box=(90, 100 * scale), size=20.0, origin=(20.0, 50.0),
                scale=(scale, scale), runs=[Run(14, size=20.0, style={"AutoLeading": False, "Leading": 40.0})])
    path, _ = labels_of(tmp_path, text)
    result = check.check(path)
    placement = next(p for p in result.placements if p.kind == "text")
    assert not result.misplaced, check.report(result)
    laid = labels.layout_label(placement.node, labels.Fonts())
    baselines = [300 - laid.top + laid.baseline(i) for i in range(3)]
    assert baselines == pytest.approx([50, 50 + 40 * scale, 50 + 80 * scale], abs=1)
