"""Build real layered PSD files from a small declarative description.

Tests, benchmarks and the bundled example need PSD documents with known
content.  This module describes a document as a tree of plain objects and
writes it through psd-tools' own writer, so what comes back is exactly what
any psd-tools reader sees::

    from tessel.testing import Doc, Group, Pixel, Text, Run, build_psd, write_psd

    doc = Doc(750, 1334, [
        Pixel("bg", size=(750, 1334), color=(30, 30, 60, 255)),
        Group("Button_ok", [
            Pixel("btn_12,8,12,8", image=some_rgba_image, left=100, top=500),
            Text("Label_caption", "开始\\r", left=120, top=510, box=(80, 30),
                 font="ArialMT", size=24.0, color=(1.0, 1.0, 0.5, 0.0),
                 justification=2,
                 runs=[Run(1, font="ArialMT"), Run(2, size=20.0)]),
        ]),
        Pixel("hidden", size=(10, 10), visible=False),
        Pixel("empty", size=(0, 0)),
    ])
    psd = build_psd(doc)          # psd_tools.PSDImage, saved and re-opened
    write_psd(doc, "screen.psd")  # the same bytes, written to a file

Layers
    ``Doc(width, height, layers, compression="rle")``
        The canvas.  ``layers`` is the top level of the layer tree.  Layer
        channels are stored RLE-compressed as editors store 8-bit layers,
        or zlib-compressed with ``compression="zip"`` (much smaller for
        large flat or gradient layers); the merged image is always RLE.
    ``Group(name, layers, visible=True, opacity=255, open=True)``
        A layer group; groups nest to any depth.
    ``Pixel(name, image=None, size=None, color=(128, 128, 128, 255),
    left=0, top=0, visible=True, opacity=255)``
        A pixel layer from a Pillow image (any mode Pillow can convert to
        RGBA), or a block of ``size`` filled with ``color`` (RGBA or RGB,
        0..255).  ``size=(0, 0)`` gives a layer without pixels, whose
        ``topil()`` is ``None``.
    ``Text(name, text, left=0, top=0, box=None, font="ArialMT", size=12.0,
    color=(1.0, 0.0, 0.0, 0.0), normal_font="MyriadPro-Regular",
    justification=0, runs=None, anti_alias=1, origin=None, area=False,
    scale=(1.0, 1.0), style=None, omit=(), image=None, edit=None, visible=True, opacity=255)``
        A type layer carrying real text engine data (see below).

Order: the first layer listed in a group is the first one psd-tools yields
when iterating that group, which is the bottom of the stack in an editor.
Names may hold any Unicode (CJK, emoji, "bg copy 2", "_12,8,12,8"); the
legacy Pascal name holds "?" when the name does not fit Mac Roman, and the
Unicode name block holds the real one, which is what ``layer.name`` reads.
Every layer gets a layer id (``layer.layer_id``), counted from 2 upwards in
the order the layers are written.

Text layers
    ``text`` is the text as the engine stores it: paragraphs end with
    ``"\\r"``, and one is appended when the text does not already end with
    it.  ``layer.text`` reads the same text without that final ``"\\r"``
    (the "Txt " descriptor holds it null-terminated, as editors write it).

    The engine data holds ``EngineDict`` (Editor/Text, ParagraphRun,
    StyleRun, AntiAlias, GridInfo, Rendered), ``ResourceDict`` and
    ``DocumentResources`` (FontSet, StyleSheetSet, ParagraphSheetSet,
    TheNormalStyleSheet, TheNormalParagraphSheet).

    * ``font``, ``size`` and ``color`` make the single style run that
      covers the whole text when ``runs`` is not given.
    * The normal style sheet (``ResourceDict/StyleSheetSet[0]``, the one
      ``TheNormalStyleSheet`` names) holds the editor's defaults, as in
      files an editor writes: ``normal_font``, size 12.0, opaque black,
      no faux styles, auto leading, and the other usual members.
    * ``color`` and every run colour are fractions (alpha, red, green, blue)
      in 0..1, as the engine stores ``FillColor/Values``.
    * ``runs``: a list of :class:`Run`.  A run member left at ``None`` is
      not written into that run's ``StyleSheetData``, so readers must fall
      back to the normal style sheet.  Run lengths are written as given;
      they should add up to the length of the engine text (final ``"\\r"``
      included).  Lengths count UTF-16 code units, as an editor writes them:
      a character outside the Basic Multilingual Plane (most emoji) counts
      2, so Python string lengths differ; :func:`utf16_length` helps.
    * ``FontSet`` lists every run font in order of first use, then
      ``normal_font`` and ``AdobeInvisFont`` (an editor always lists it);
      ``Font`` members are indices into that list.
    * ``anti_alias`` is the engine's AntiAlias number (0 none, 1 crisp,
      2 strong, 3 smooth, 4 sharp); the "AntA" descriptor gets the match.
    * ``justification`` (0 left, 1 right, 2 center, 3.. justified) goes into
      every paragraph run; ``DefaultStyleSheet`` is 0.
    * ``style`` overrides or adds members of the normal style sheet data
      (e.g. ``{"FauxBold": True, "Tracking": 50}``); ``omit`` names members
      to leave out of it (e.g. ``("CharacterDirection",)``).  ``Run.style``
      adds members to one run the same way.  Values are plain Python: a
      float is written as an engine real, an int as an engine integer, so
      write ``30.0`` for a size.
    * ``edit`` is called with the whole engine data as plain Python values
      (dict, list, str, int, float, bool) just before it is encoded, to
      build documents no option above describes.
    * ``box=(width, height)`` is the layer's bounding box at ``left``/``top``
      (estimated from the text and font size when not given).  The layer
      carries a transparent pixel block of that size, or ``image``.
    * ``origin=(tx, ty)`` is the text origin stored in the type tool
      transform ``(1, 0, 0, 1, tx, ty)``; floats are kept.  By default, for
      point text, tx is the box's left edge, centre or right edge following
      the justification (the justified codes 3 to 6 by their last line: 3 and
      6 left, 4 right, 5 centre) and ty is ``top + size``; for box text it is
      the box's top-left corner, as an editor writes it.
    * ``area=True`` marks paragraph (box) text instead of point text: the
      text box is ``box`` at ``left``/``top`` (``BoxBounds`` 0, 0, width,
      height from the origin).
    * ``scale=(sx, sy)`` goes into the type tool transform ``(sx, 0, 0, sy,
      tx, ty)``, as Free Transform leaves a resized text; the runs keep their
      sizes, and a box text's ``BoxBounds`` are divided by it so that the box
      in the document stays ``box``.

Only psd-tools, Pillow and the standard library are used.  Writing needs a
psd-tools with ``PixelLayer.frompil`` and ``Group.new``; the files read back
with any psd-tools 1.9 or newer.
"""

from tessel.testing.images import gradient, solid
from tessel.testing.layers import ArgbFraction, Doc, Group, Layer, Pixel, Run, Text
from tessel.testing.textenginedata import engine_data, utf16_length
from tessel.testing.writer import build_psd, psd_bytes, write_psd

__all__ = [
    "Doc",
    "Group",
    "Pixel",
    "Text",
    "Run",
    "build_psd",
    "write_psd",
    "psd_bytes",
    "engine_data",
    "solid",
    "gradient",
    "utf16_length",
]
