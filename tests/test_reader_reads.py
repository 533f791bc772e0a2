"""Layer names, kinds and text styles read straight from psd-tools' items agree with what its own methods answer."""

import pytest
from psd_tools.api import layers as reader_layers
from psd_tools.constants import Tag
from psd_tools.psd import engine_data

from tessel.infos import YPSD, YTextLayer
from tessel.testing import Doc, Group, Pixel, Run, Text, build_psd


def document():
    return build_psd(Doc(200, 100, [
        Group("组 G", [Pixel("P 👽", size=(6, 3))]),
        Text("T", "Hello", runs=[Run(5, size=20.0, font="Arial-BoldMT", color=(1.0, 0.2, 0.4, 0.6))],
             justification=2),
    ]))


def reading(psdimage):
    """Everything the tree build took from the reader, per layer."""
    out = []
    stack = [YPSD(psdimage, "d.psd")]
    while stack:
        node = stack.pop()
        row = [type(node).__name__, node.name]
        if isinstance(node, YTextLayer):
            row += [node.text, node.fontName, node.FontSize, node.Justification, node.AntiAlias,
                    list(node.FillColor["Values"]), node.ShapeType, node.WritingDirection]
        out.append(row)
        stack.extend(getattr(node, "_layers", []))
    return out


def count_calls(monkeypatch, cls, name, calls):
    original = getattr(cls, name)

    def wrapper(self, *args):
        calls.append(name)
        return original(self, *args)

    monkeypatch.setattr(cls, name, wrapper)


@pytest.mark.parametrize("cls, methods", [
    (engine_data.Dict, ("__getitem__", "__contains__", "get", "items")),
    (type(document()._record.layer_and_mask_information.layer_info.layer_records[0].tagged_blocks), ("get_data",)),
], ids=["engine-dict-methods", "tagged-blocks-get-data"])
def test_replaced_reader_methods_are_called_and_agree(monkeypatch, cls, methods):
    direct = reading(document())
    calls = []
    for name in methods:
        count_calls(monkeypatch, cls, name, calls)
    assert reading(document()) == direct
    assert set(calls) == set(methods)


def test_a_replaced_name_property_is_honoured(monkeypatch):
    psdimage = document()
    monkeypatch.setattr(reader_layers.PixelLayer, "name", property(lambda self: "renamed"), raising=False)
    assert ["YLayer", "renamed"] in reading(psdimage)


def test_a_layer_without_a_unicode_name_reads_its_legacy_name():
    psdimage = document()
    pixel = next(layer for layer in psdimage.descendants() if layer.kind == "pixel")
    del pixel._record.tagged_blocks[Tag.UNICODE_LAYER_NAME]
    pixel._record.name = "legacy"
    assert ["YLayer", "legacy"] in reading(psdimage)


def test_a_registered_virtual_subclass_changes_the_kind_at_once():
    psdimage = document()
    assert reading(psdimage)[-1][0] == "YLayer"

    class Odd(reader_layers.PixelLayer):
        pass

    pixel = next(layer for layer in psdimage.descendants() if layer.kind == "pixel")
    pixel.__class__ = Odd
    reader_layers.Group.register(Odd)
    try:
        # Now read as a group: a pixel layer has no children to iterate.
        with pytest.raises(TypeError, match="not iterable"):
            reading(psdimage)
    finally:
        reader_layers.Group._abc_registry_clear()
