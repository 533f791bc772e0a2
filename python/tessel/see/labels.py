"""Labels as the engine lays them out: fonts, line breaks, wrapping, shrinking and alignment.

The rules follow the engine's TTF label layout (cc.Label, 2.x): the string
breaks into paragraphs at "\\n" only; with wrapping on, each paragraph breaks
into lines that fit the node's width, at word boundaries where it can; the
overflow mode decides the box: NONE sizes the node to the text, RESIZE_HEIGHT
keeps the width and fits the height, CLAMP and SHRINK keep the node's size
(SHRINK lowers the font size until the wrapped text fits, CLAMP cuts off what
does not).  Baselines are placed as the engine's canvas places them.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from typing import Callable, Optional

from PIL import Image, ImageDraw, ImageFont

from tessel.see.fontfaces import Face, faces, locate
from tessel.see.labeleffects import LabelEffects
from tessel.see.nodelayout import PreviewError

# Free fonts tried for labels after the faces of the label's own family, in order;
# Pillow's own default font comes last.
# Fonts with CJK glyphs come first for text that needs them.
LATIN_FONTS = ("DejaVuSans.ttf", "LiberationSans-Regular.ttf", "NotoSans-Regular.ttf", "FreeSans.ttf")
CJK_FONTS = (
    "NotoSansCJK-Regular.ttc",
    "NotoSansCJKsc-Regular.otf",
    "NotoSansSC-Regular.otf",
    "wqy-microhei.ttc",
    "wqy-zenhei.ttc",
    "DroidSansFallbackFull.ttf",
)
_CJK = re.compile("[\u2e80-\u9fff\uac00-\ud7af\uf900-\ufaff\uff00-\uffef]")

# cc.Label.Overflow and the alignments, as the prefab stores them.
NONE, CLAMP, SHRINK, RESIZE_HEIGHT = 0, 1, 2, 3
LEFT, CENTER, RIGHT = 0, 1, 2
TOP, MIDDLE, BOTTOM = 0, 1, 2

# The engine's share of the font size below the baseline of the last line.
BASELINE_RATIO = 0.26

# A word never breaks inside: letters and digits of the scripts the engine knows
# run together; any other character that is not blank stands alone.
_TOKENS = re.compile(r"[A-Za-z0-9\u00c0-\u024f\u0400-\u04ff]+|\s+|.", re.S)
# Marks that may not begin a line: they go down together with the word before them.
_NO_LINE_START = set("!,.:;'}]%?>、‘“》？。，！")


def default_font(size: int):
    """Pillow's own font at ``size`` pixels (its fixed bitmap font before Pillow 10.1)."""
    try:
        return ImageFont.load_default(size)
    except TypeError:
        return ImageFont.load_default()


class Fonts:
    """Label fonts by size: the given font file, else the installed face closest to the label's
    family (tessel.see.fontfaces), else a free system font, else Pillow's own.

    A font is chosen per text among the candidates as the first that has a glyph
    for every character; when none has, the first loadable one draws boxes, and
    ``notes`` says so once, naming what to install.
    """

    def __init__(self, path: Optional[str] = None, files: Optional[dict] = None):
        self.path = path
        #: font asset UUID -> font file, for labels that refer to a project font
        self.files = files or {}
        self.notes = []
        self._fonts = {}
        self._covers = {}

    def get(self, size: int, text: str = "", family: str = "", bold: bool = False, italic: bool = False,
            asset: Optional[str] = None):
        """The font for ``text`` at ``size`` pixels: the label's font asset ``asset`` (a UUID), else the face
        closest to its ``family`` and style."""
        if self.path:
            candidates = (Face(self.path),)
        else:
            fallbacks = (CJK_FONTS if _CJK.search(text) else ()) + LATIN_FONTS
            candidates = tuple(faces(family, bold, italic)) + tuple(Face(name) for name in fallbacks)
            own = self.files.get(asset, "")
            if own.lower().endswith((".ttf", ".otf", ".ttc")):
                candidates = (Face(own),) + candidates
        first = None
        for face in candidates:
            font = self._load(face, size)
            if font is None:
                continue
            first = first or (face, font)
            if self._missing(face, font, text) == "":
                return font
        fallback = default_font(size)
        if first is None and self._missing(None, fallback, text) == "":
            return fallback
        face, font = first or (None, fallback)
        if not self.notes:
            missing = self._missing(face, font, text)
            if self.path:
                self.notes.append(f"{self.path} has no glyphs for {missing[:8]!r}: labels show boxes there; "
                                  "pass --font with a font that has them")
            else:
                self.notes.append(f"no installed font has glyphs for {missing[:8]!r}: labels show boxes there; "
                                  "install one that has them (for CJK text the package fonts-noto-cjk) "
                                  "or pass --font FILE")
        return font

    def _load(self, face, size: int):
        face = Face(face) if isinstance(face, str) else face
        key = (face, size)
        if key not in self._fonts:
            try:
                path = face.file if face.file == self.path else locate(face.file)
                self._fonts[key] = ImageFont.truetype(path, size, index=face.index)
            except OSError as e:
                if face.file == self.path:
                    raise PreviewError(f"{self.path}: not a font file Pillow can load ({e})") from e
                self._fonts[key] = None
        return self._fonts[key]

    def _missing(self, face, font, text: str) -> str:
        """The characters of ``text`` that ``font`` draws as its missing-glyph box."""
        if not isinstance(font, ImageFont.FreeTypeFont):
            return ""
        missing = []
        for ch in dict.fromkeys(text):
            if ch.isspace() or not ch.isprintable():
                continue
            key = (face, ch)
            if key not in self._covers:
                self._covers[key] = not _draws_notdef(font, ch)
            if not self._covers[key]:
                missing.append(ch)
        return "".join(missing)


def _draws_notdef(font, ch: str) -> bool:
    # Pillow cannot ask a font for its character map; a character it has no glyph
    # for is drawn as the font's missing-glyph box, the same as a noncharacter.
    try:
        mask = font.getmask(ch)
    except (UnicodeEncodeError, ValueError):
        return True
    notdef = font.getmask("\U0010fffe")
    return mask.size == notdef.size and bytes(mask) == bytes(notdef)


# ---------------------------------------------------------------------------
# Line breaking


def wrap_paragraph(text: str, width: float, measure: Callable[[str], float]) -> list:
    """The lines of one paragraph wrapped to ``width``, as the engine's text fragmenting breaks them.

    A paragraph that fits stays as it is; otherwise breaks fall between words
    (a word wider than the width breaks between characters), a mark that may not
    begin a line goes down with the word before it, and every wrapped line is
    trimmed of blanks, empty ones dropped.
    """
    if not text or width < 0 or measure(text) <= width:
        return [text]
    lines, line = [], ""
    for token in _TOKENS.findall(text):
        if token.isspace():
            line += token
            continue
        if line.strip() and measure(line + token) > width:
            carry = ""
            if token[0] in _NO_LINE_START:
                words = _TOKENS.findall(line)
                if len(words) > 1 and not words[-1].isspace():
                    carry = words[-1]
                    line = line[: -len(carry)]
            lines.append(line)
            line = carry
        while measure(line + token) > width and len(line + token) > 1:
            # Wider than the box on its own: break between characters, at least one a line.
            cut = max(1, _fitting(line + token, width, measure))
            both = line + token
            lines.append(both[:cut])
            line, token = "", both[cut:]
        line += token
    lines.append(line)
    return [kept for kept in (line.strip() for line in lines) if kept]


def _fitting(text: str, width: float, measure) -> int:
    """How many leading characters of ``text`` fit in ``width``."""
    low, high = 0, len(text)
    while low < high:
        mid = (low + high + 1) // 2
        if measure(text[:mid]) <= width:
            low = mid
        else:
            high = mid - 1
    return low


# ---------------------------------------------------------------------------
# Layout


@dataclass
class LabelLayout:
    """One label laid out: its lines and where its canvas lies, y up, in canvas units."""

    lines: list
    font: object
    font_size: int
    line_height: float
    left: float
    top: float
    width: float
    height: float
    halign: int
    valign: int
    overflow: int
    #: the node's scale: the engine draws the laid-out canvas stretched by it
    scale: tuple = (1.0, 1.0)

    def baseline(self, i: int) -> float:
        """Distance of line ``i``'s baseline below the canvas top."""
        n, fs, lh = len(self.lines), self.font_size, self.line_height
        first = fs * (1 - BASELINE_RATIO / 2)
        if self.valign != TOP:
            blank = lh * (n - 1) + fs - self.height
            if self.valign == BOTTOM:
                blank += BASELINE_RATIO / 2 * fs
                first -= blank
            else:
                first -= blank / 2
        return first + i * lh


def _measure(font) -> Callable[[str], float]:
    draw = ImageDraw.Draw(Image.new("RGBA", (1, 1)))
    return lambda text: draw.textlength(text, font=font)


def _wrapped(paragraphs: list, width: float, font) -> list:
    measure = _measure(font)
    return [line for p in paragraphs for line in wrap_paragraph(p, width, measure)]


def _line_height(label: dict, size: int, drawn: int) -> float:
    # A line height of 0 means the font size; a shrunk font shrinks it in proportion.
    lh = label.get("_lineHeight") or 0
    return int(lh * size / drawn) if lh else size


def field(label: dict, name: str, default):
    """A label's field ``name`` in either form: "_N$name" (2.x) or "_name" (3.x)."""
    return label.get("_N$" + name, label.get("_" + name, default))


def font_style(label: dict) -> tuple:
    """(family, bold, italic, asset) of a label: its font family, the engine's bold and italic switches,
    and the UUID of the font asset it uses instead of a system font (or None)."""
    family = label.get("_N$fontFamily") or label.get("_fontFamily") or ""
    file = label.get("_N$file") if label.get("_isSystemFontUsed") is False else None
    asset = file.get("__uuid__") if isinstance(file, dict) else None
    return str(family), bool(label.get("_isBold")), bool(label.get("_isItalic")), asset


def layout_label(node, fonts: Fonts) -> Optional[LabelLayout]:
    """Lay out the label of ``node`` (a preview Node); None for an empty string."""
    label = node.label
    # A "\r" the label kept draws as a blank, as a canvas does with it.
    text = str(label.get("_string") or "").replace("\r", " ")
    if not text:
        return None
    drawn = max(1, int(label.get("_fontSize") or 0))
    overflow = field(label, "overflow", NONE)
    wrap = overflow == RESIZE_HEIGHT or (overflow in (CLAMP, SHRINK) and label.get("_enableWrapText", True))
    paragraphs = text.split("\n")
    width, height = node.size
    size = drawn
    font = fonts.get(size, text, *font_style(label))
    lines = _wrapped(paragraphs, width, font) if wrap else paragraphs
    if overflow == SHRINK:
        size, font, lines = _shrink(paragraphs, width, height, drawn, wrap, label, fonts, text)
    lh = _line_height(label, size, drawn)
    if overflow == NONE:
        measure = _measure(font)
        width = max((measure(line) for line in lines), default=0)
        if label.get("_isItalic"):
            # The engine widens an italic label's canvas by the slant of a 12 degree oblique.
            width += size * math.tan(math.radians(12))
    if overflow in (NONE, RESIZE_HEIGHT):
        height = (len(lines) + BASELINE_RATIO) * lh
    sx, sy = getattr(node, "scale", (1.0, 1.0))
    left = node.world[0] - node.anchor[0] * width * sx
    top = node.world[1] + (1 - node.anchor[1]) * height * sy
    return LabelLayout(lines=lines, font=font, font_size=size, line_height=lh, left=left, top=top, width=width,
                       height=height, halign=field(label, "horizontalAlign", CENTER),
                       valign=field(label, "verticalAlign", BOTTOM), overflow=overflow, scale=(sx, sy))


def _shrink(paragraphs, width, height, drawn, wrap, label, fonts, text):
    """The largest font size, at most the label's, whose lines fit the box; with its font and lines."""

    def attempt(size):
        font = fonts.get(size, text, *font_style(label))
        lines = _wrapped(paragraphs, width, font) if wrap else paragraphs
        measure = _measure(font)
        fits = (len(lines) * _line_height(label, size, drawn) <= height
                and all(measure(line) <= width for line in lines))
        return fits, font, lines

    fits, font, lines = attempt(drawn)
    if fits:
        return drawn, font, lines
    low, high = 1, drawn - 1
    best = (1,) + attempt(1)[1:]
    while low <= high:
        mid = (low + high) // 2
        fits, font, lines = attempt(mid)
        if fits:
            best, low = (mid, font, lines), mid + 1
        else:
            high = mid - 1
    return best


# ---------------------------------------------------------------------------
# Drawing


def label_image(node, fonts: Fonts, fill: tuple, effects=None) -> tuple:
    """(layout, image, (margin x, margin y)) of the label of ``node`` drawn in ``fill`` on its own canvas,
    scaled as the node; (None, None, (0, 0)) for an empty string.

    ``effects`` (a LabelEffects) grow the canvas by their margin and draw the outline and shadow.
    """
    laid = layout_label(node, fonts)
    if laid is None:
        return None, None, (0, 0)
    # The engine draws into a canvas of the label's box, grown for its outline and shadow: nothing outside it shows.
    pad = effects.margin if effects is not None else 0
    options = effects.text_options() if effects is not None else {}
    w, h = max(1, int(round(laid.width))), max(1, int(round(laid.height)))
    box = Image.new("RGBA", (w + 2 * pad, h + 2 * pad), (0, 0, 0, 0))
    draw = ImageDraw.Draw(box)
    anchor_x = {LEFT: 0, RIGHT: laid.width}.get(laid.halign, laid.width / 2) + pad
    anchor = {LEFT: "ls", RIGHT: "rs"}.get(laid.halign, "ms")
    for i, line in enumerate(laid.lines):
        y = laid.baseline(i) + pad
        if isinstance(laid.font, ImageFont.FreeTypeFont):
            draw.text((anchor_x, y), line, font=laid.font, fill=fill, anchor=anchor, **options)
        else:
            _, y0, x1, y1 = laid.font.getbbox(line)
            x = {LEFT: 0, RIGHT: laid.width - x1}.get(laid.halign, (laid.width - x1) / 2) + pad
            draw.text((x, y - y1), line, font=laid.font, fill=fill)
    if effects is not None:
        box = effects.under(box)
    sx, sy = laid.scale
    if (sx, sy) != (1.0, 1.0):
        box = box.resize((max(1, int(round(box.width * abs(sx)))), max(1, int(round(box.height * abs(sy))))),
                         Image.LANCZOS)
    return laid, box, (pad * abs(sx), pad * abs(sy))


def draw_label(canvas: Image.Image, canvas_height: float, node, fonts: Fonts) -> Optional[LabelLayout]:
    """Draw the label of ``node`` onto ``canvas`` in the node's colour, with its outline and shadow; returns its layout."""
    r, g, b, _ = node.color
    laid, box, (px, py) = label_image(node, fonts, (r, g, b, int(round(255 * node.opacity))), LabelEffects.of(node))
    if laid is None:
        return None
    x, y = int(round(laid.left - px)), int(round(canvas_height - laid.top - py))
    layer = Image.new("RGBA", canvas.size, (0, 0, 0, 0))
    layer.paste(box, (x, y))
    canvas.alpha_composite(layer)
    return laid


def ink_height(node, fonts: Fonts) -> Optional[int]:
    """Height in pixels of what the label of ``node`` draws (its glyphs' ink); None when it draws nothing."""
    if node.label is None:
        return None
    _, box, _ = label_image(node, fonts, (0, 0, 0, 255))
    bounds = box.getchannel("A").getbbox() if box is not None else None
    return bounds[3] - bounds[1] if bounds else None
