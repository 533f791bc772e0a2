"""Text engine data and the type-tool block of the builder's text layers."""

from __future__ import annotations

import io
import math
from typing import Any

from psd_tools.psd import descriptor as _desc
from psd_tools.psd import engine_data as _eng
from psd_tools.psd.tagged_blocks import TypeToolObjectSetting

from tessel.testing.layers import ArgbFraction, Run, Text



def _engine_value(value: Any) -> Any:
    """Encode plain Python values as engine data elements."""
    if isinstance(value, dict):
        out = _eng.Dict()
        for key, item in value.items():
            out[key] = _engine_value(item)
        return out
    if isinstance(value, (list, tuple)):
        out = _eng.List()
        for item in value:
            out.append(_engine_value(item))
        return out
    if isinstance(value, bool):
        return _eng.Bool(value)
    if isinstance(value, int):
        return _eng.Integer(value)
    if isinstance(value, float):
        return _eng.Float(value)
    if isinstance(value, str):
        return _eng.String(value)
    raise TypeError(f"cannot store {type(value).__name__} in engine data")


def _fill(color: ArgbFraction) -> dict:
    values = [float(c) for c in color]
    if len(values) != 4:
        raise ValueError(f"a fill colour is (alpha, red, green, blue), got {color!r}")
    return {"Type": 1, "Values": values}


def _engine_text(text: str) -> str:
    return text if text.endswith("\r") else text + "\r"


def utf16_length(text: str) -> int:
    """Length of ``text`` in UTF-16 code units, the unit of engine run lengths."""
    return len(text.encode("utf-16-le")) // 2


def _paragraph_lengths(text: str) -> list:
    return [utf16_length(part) + 1 for part in text.split("\r")[:-1]]


def _runs(layer: Text, text: str) -> list:
    if layer.runs is not None:
        return list(layer.runs)
    return [Run(utf16_length(text), size=layer.size, font=layer.font, color=layer.color)]


def _font_list(runs: list, normal_font: str) -> list:
    fonts = []
    for name in [run.font for run in runs] + [normal_font, "AdobeInvisFont"]:
        if name is not None and name not in fonts:
            fonts.append(name)
    return fonts


def _normal_style(layer: Text, fonts: list) -> dict:
    data = {
        "Font": fonts.index(layer.normal_font),
        "FontSize": 12.0,
        "FauxBold": False,
        "FauxItalic": False,
        "AutoLeading": True,
        "Leading": 0.0,
        "HorizontalScale": 1.0,
        "VerticalScale": 1.0,
        "Tracking": 0,
        "AutoKerning": True,
        "Kerning": 0,
        "BaselineShift": 0.0,
        "FontCaps": 0,
        "FontBaseline": 0,
        "Underline": False,
        "Strikethrough": False,
        "Ligatures": True,
        "DLigatures": False,
        "BaselineDirection": 2,
        "Tsume": 0.0,
        "StyleRunAlignment": 2,
        "Language": 0,
        "NoBreak": False,
        "FillColor": _fill((1.0, 0.0, 0.0, 0.0)),
        "StrokeColor": _fill((1.0, 0.0, 0.0, 0.0)),
        "FillFlag": True,
        "StrokeFlag": False,
        "FillFirst": True,
        "YUnderline": 1,
        "OutlineWidth": 1.0,
        "CharacterDirection": 0,
        "HindiNumbers": False,
        "Kashida": 1,
        "DiacriticPos": 2,
    }
    data.update(layer.style or {})
    for name in layer.omit:
        data.pop(name, None)
    return data


def _paragraph_properties(justification: int) -> dict:
    return {
        "Justification": int(justification),
        "FirstLineIndent": 0.0,
        "StartIndent": 0.0,
        "EndIndent": 0.0,
        "SpaceBefore": 0.0,
        "SpaceAfter": 0.0,
        "AutoHyphenate": True,
        "HyphenatedWordSize": 6,
        "PreHyphen": 2,
        "PostHyphen": 2,
        "ConsecutiveHyphens": 8,
        "Zone": 36.0,
        "WordSpacing": [0.8, 1.0, 1.33],
        "LetterSpacing": [0.0, 0.0, 0.0],
        "GlyphSpacing": [1.0, 1.0, 1.0],
        "AutoLeading": 1.2,
        "LeadingType": 0,
        "Hanging": False,
        "Burasagari": False,
        "KinsokuOrder": 0,
        "EveryLineComposer": False,
    }


def _run_style(run: Run, fonts: list) -> dict:
    data = {}
    if run.font is not None:
        data["Font"] = fonts.index(run.font)
    if run.size is not None:
        data["FontSize"] = float(run.size)
    if run.color is not None:
        data["FillColor"] = _fill(run.color)
    data.update(run.style)
    return data


def _box(layer: Text) -> tuple:
    if layer.box is not None:
        return int(layer.box[0]), int(layer.box[1])
    lines = _engine_text(layer.text)[:-1].split("\r")
    longest = max(len(line) for line in lines)
    return (
        max(1, math.ceil(layer.size * longest)),
        max(1, math.ceil(layer.size * 1.2 * len(lines))),
    )


def _origin(layer: Text) -> tuple:
    if layer.origin is not None:
        return float(layer.origin[0]), float(layer.origin[1])
    if layer.area:
        return float(layer.left), float(layer.top)
    width, _ = _box(layer)
    shift = {1: width, 2: width / 2, 4: width, 5: width / 2}.get(layer.justification, 0)
    return float(layer.left + shift), float(layer.top + layer.size)


def engine_data(layer: Text) -> dict:
    """The engine data of a text layer as plain Python values.

    This is what ``Text.edit`` receives and what is encoded into the file.
    """
    text = _engine_text(layer.text)
    runs = _runs(layer, text)
    fonts = _font_list(runs, layer.normal_font)
    paragraphs = _paragraph_lengths(text)
    width, height = _box(layer)
    shape_type = 1 if layer.area else 0
    base = {
        "ShapeType": shape_type,
        "TransformPoint0": [1.0, 0.0],
        "TransformPoint1": [0.0, 1.0],
        "TransformPoint2": [0.0, 0.0],
    }
    cookie = {"ShapeType": shape_type, "Base": base}
    if layer.area:
        # The box is stored before the transform: scaled, it is ``box`` in the document.
        cookie["BoxBounds"] = [0.0, 0.0, width / float(layer.scale[0]), height / float(layer.scale[1])]
    else:
        cookie["PointBase"] = [0.0, 0.0]
    adjustments = {"Axis": [1.0, 0.0, 1.0], "XY": [0.0, 0.0]}
    paragraph_run = {
        "ParagraphSheet": {
            "DefaultStyleSheet": 0,
            "Properties": _paragraph_properties(layer.justification),
        },
        "Adjustments": adjustments,
    }
    resources = {
        "TheNormalStyleSheet": 0,
        "TheNormalParagraphSheet": 0,
        "ParagraphSheetSet": [
            {
                "Name": "Normal RGB",
                "DefaultStyleSheet": 0,
                "Properties": _paragraph_properties(0),
            }
        ],
        "StyleSheetSet": [
            {"Name": "Normal RGB", "StyleSheetData": _normal_style(layer, fonts)}
        ],
        "FontSet": [
            {
                "Name": name,
                "Script": 0,
                "FontType": 0 if name in ("AdobeInvisFont", "MyriadPro-Regular") else 1,
                "Synthetic": 0,
            }
            for name in fonts
        ],
        "SuperscriptSize": 0.583,
        "SuperscriptPosition": 0.333,
        "SubscriptSize": 0.583,
        "SubscriptPosition": 0.333,
        "SmallCapSize": 0.7,
    }
    grid_colour = {"Type": 1, "Values": [0.0, 0.0, 0.0, 1.0]}
    data = {
        "EngineDict": {
            "Editor": {"Text": text},
            "ParagraphRun": {
                "DefaultRunData": {
                    "ParagraphSheet": {"DefaultStyleSheet": 0, "Properties": {}},
                    "Adjustments": adjustments,
                },
                "RunArray": [paragraph_run for _ in paragraphs],
                "RunLengthArray": paragraphs,
                "IsJoinable": 1,
            },
            "StyleRun": {
                "DefaultRunData": {"StyleSheet": {"StyleSheetData": {}}},
                "RunArray": [
                    {"StyleSheet": {"StyleSheetData": _run_style(run, fonts)}}
                    for run in runs
                ],
                "RunLengthArray": [int(run.length) for run in runs],
                "IsJoinable": 2,
            },
            "GridInfo": {
                "GridIsOn": False,
                "ShowGrid": False,
                "GridSize": 18.0,
                "GridLeading": 22.0,
                "GridColor": grid_colour,
                "GridLeadingFillColor": grid_colour,
                "AlignLineHeightToGridFlags": False,
            },
            "AntiAlias": int(layer.anti_alias),
            "UseFractionalGlyphWidths": True,
            "Rendered": {
                "Version": 1,
                "Shapes": {
                    "WritingDirection": 0,
                    "Children": [
                        {
                            "ShapeType": shape_type,
                            "Procession": 0,
                            "Lines": {"WritingDirection": 0, "Children": []},
                            "Cookie": {"Photoshop": cookie},
                        }
                    ],
                },
            },
        },
        "ResourceDict": resources,
        "DocumentResources": _copy(resources),
    }
    if layer.edit is not None:
        layer.edit(data)
    return data


def _copy(value: Any) -> Any:
    if isinstance(value, dict):
        return {key: _copy(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_copy(item) for item in value]
    return value


# The engine's AntiAlias number and the descriptor's enumerated value say the
# same thing; editors write both.
_ANTI_ALIAS_ENUM = {0: b"Anno", 1: b"AnCr", 2: b"AnSt", 3: b"AnSm", 4: b"antiAliasSharp"}


def _pixel_rect(left: float, top: float, right: float, bottom: float) -> Any:
    rect = _desc.Descriptor(classID=b"bounds")
    for key, value in ((b"Left", left), (b"Top ", top), (b"Rght", right), (b"Btom", bottom)):
        rect[key] = _desc.UnitFloat(unit=b"#Pxl", value=value)
    return rect


def _type_tool_block(layer: Text) -> TypeToolObjectSetting:
    encoded = _eng.EngineData()
    for key, value in _engine_value(engine_data(layer)).items():
        encoded[key] = value
    stream = io.BytesIO()
    encoded.write(stream)

    width, height = _box(layer)
    tx, ty = _origin(layer)
    rel = (layer.left - tx, layer.top - ty, layer.left + width - tx, layer.top + height - ty)

    text_data = _desc.DescriptorBlock(classID=b"TxLr")
    text_data[b"Txt "] = _desc.String(_engine_text(layer.text)[:-1] + "\x00")
    text_data[b"textGridding"] = _desc.Enumerated(typeID=b"textGridding", enum=b"None")
    text_data[b"Ornt"] = _desc.Enumerated(typeID=b"Ornt", enum=b"Hrzn")
    text_data[b"AntA"] = _desc.Enumerated(
        typeID=b"Annt", enum=_ANTI_ALIAS_ENUM.get(layer.anti_alias, b"AnSm")
    )
    text_data[b"bounds"] = _pixel_rect(*rel)
    text_data[b"boundingBox"] = _pixel_rect(*rel)
    text_data[b"TextIndex"] = _desc.Integer(0)
    text_data[b"EngineData"] = _desc.RawData(stream.getvalue())

    warp = _desc.DescriptorBlock(classID=b"warp")
    warp[b"warpStyle"] = _desc.Enumerated(typeID=b"warpStyle", enum=b"warpNone")
    warp[b"warpValue"] = _desc.Double(0.0)
    warp[b"warpPerspective"] = _desc.Double(0.0)
    warp[b"warpPerspectiveOther"] = _desc.Double(0.0)
    warp[b"warpRotate"] = _desc.Enumerated(typeID=b"Ornt", enum=b"Hrzn")

    return TypeToolObjectSetting(
        version=1,
        transform=(float(layer.scale[0]), 0.0, 0.0, float(layer.scale[1]), tx, ty),
        text_version=50,
        text_data=text_data,
        warp_version=1,
        warp=warp,
        # Editors leave these zero; the bounds descriptors above hold the box.
        left=0,
        top=0,
        right=0,
        bottom=0,
    )
