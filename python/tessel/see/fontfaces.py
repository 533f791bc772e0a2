"""Which installed font file draws a label's font family: the family's own file, else a metric-compatible free one.

A label keeps the font name Photoshop stored, mostly a PostScript name such as
"Times-Roman", "ArialMT" or "TimesNewRomanPS-BoldItalicMT": a family with the
style glued on.  The files are found by name in the usual font folders, the
same folders Pillow searches, so no font library beyond Pillow is needed.
"""

from __future__ import annotations

import os
import re
import sys
from functools import lru_cache
from typing import NamedTuple

# Families with a free font of the same advance widths, by the start of their
# squeezed, lower-cased name; longer names are tried first.
_LATIN = {
    "times": "LiberationSerif", "timesnewroman": "LiberationSerif", "tinos": "LiberationSerif",
    "arial": "LiberationSans", "helvetica": "LiberationSans", "arimo": "LiberationSans",
    "arialnarrow": "LiberationSansNarrow", "helveticanarrow": "LiberationSansNarrow",
    "courier": "LiberationMono", "couriernew": "LiberationMono", "cousine": "LiberationMono",
    "calibri": "Carlito", "cambria": "Caladea",
    "liberationserif": "LiberationSerif", "liberationsans": "LiberationSans", "liberationmono": "LiberationMono",
    "liberationsansnarrow": "LiberationSansNarrow",
}
# CJK families, Noto's by design or in kind (gothic/hei → sans, mincho/song/ming → serif),
# each with the language whose glyph forms it uses.
_CJK = {
    "notosanscjk": ("Sans", ""), "sourcehansans": ("Sans", ""), "notoserifcjk": ("Serif", ""),
    "sourcehanserif": ("Serif", ""),
    "microsoftyahei": ("Sans", "sc"), "simhei": ("Sans", "sc"), "pingfangsc": ("Sans", "sc"),
    "heiti": ("Sans", "sc"), "stheiti": ("Sans", "sc"), "dengxian": ("Sans", "sc"), "wenquanyi": ("Sans", "sc"),
    "wqy": ("Sans", "sc"), "黑体": ("Sans", "sc"), "微软雅黑": ("Sans", "sc"),
    "microsoftjhenghei": ("Sans", "tc"), "pingfangtc": ("Sans", "tc"), "pingfanghk": ("Sans", "hk"),
    "hiraginosans": ("Sans", "jp"), "hiraginokakugothic": ("Sans", "jp"), "msgothic": ("Sans", "jp"),
    "mspgothic": ("Sans", "jp"), "meiryo": ("Sans", "jp"), "yugothic": ("Sans", "jp"), "kozgo": ("Sans", "jp"),
    "malgungothic": ("Sans", "kr"), "nanumgothic": ("Sans", "kr"), "applesdgothicneo": ("Sans", "kr"),
    "simsun": ("Serif", "sc"), "nsimsun": ("Serif", "sc"), "songti": ("Serif", "sc"), "stsong": ("Serif", "sc"),
    "宋体": ("Serif", "sc"), "mingliu": ("Serif", "tc"), "pmingliu": ("Serif", "tc"),
    "msmincho": ("Serif", "jp"), "mspmincho": ("Serif", "jp"), "hiraginomincho": ("Serif", "jp"),
    "yumincho": ("Serif", "jp"), "kozmin": ("Serif", "jp"), "batang": ("Serif", "kr"),
}
_KEYS = sorted({*_LATIN, *_CJK}, key=len, reverse=True)
# Face order inside Noto's CJK collections (.ttc), and the region words other families use.
_TTC_INDEX = {"jp": 0, "kr": 1, "sc": 2, "tc": 3, "hk": 4}
_REGIONS = {"jp": "jp", "j": "jp", "kr": "kr", "k": "kr", "sc": "sc", "cn": "sc", "tc": "tc", "tw": "tc", "hk": "hk"}

_BOLD = re.compile("bold|black|heavy")
_ITALIC = re.compile(r"italic|oblique|(^|-|bold|light|medium)it(mt)?$")


class Face(NamedTuple):
    """One face to try: a font file name (or path) and the face's index inside a collection."""

    file: str
    index: int = 0


def squeeze(name: str) -> str:
    """``name`` lower-cased without blanks and underscores, the way names are compared here."""
    return re.sub(r"[\s_]+", "", name).lower()


def _file_key(name: str) -> str:
    # "Futura-Medium", "Futura Medium" and the file Futura_Medium.otf all name one face.
    return re.sub(r"[\s_-]+", "", name).lower()


def style(name: str) -> tuple:
    """(bold, italic) as a font name such as "Arial-BoldItalicMT" or "Helvetica Oblique" says."""
    squeezed = squeeze(name)
    key = next((k for k in _KEYS if squeezed.startswith(k)), "")
    # Style words count only after the family: "Arial Black" is bold, "Blackadder ITC" is not.
    rest = squeezed[len(key):] if key else squeezed.partition("-")[2]
    return bool(_BOLD.search(rest)), bool(_ITALIC.search(rest))


def faces(family: str, bold: bool = False, italic: bool = False) -> list:
    """The faces to try for ``family``, closest first; empty when no rule knows the family.

    The family's own file comes first where one is installed under its name;
    a style missing from a free family falls back to that family's regular face.
    """
    if not family:
        return []
    named_bold, named_italic = style(family)
    bold, italic = bold or named_bold, italic or named_italic
    found = []
    own = installed().get(_file_key(family))
    if own:
        found.append(Face(own))
    squeezed = squeeze(family)
    key = next((k for k in _KEYS if squeezed.startswith(k)), None)
    if key in _LATIN:
        base = _LATIN[key]
        wanted = ("Bold" if bold else "") + ("Italic" if italic else "") or "Regular"
        found += [Face(f"{base}-{s}.ttf") for s in dict.fromkeys((wanted, "Bold" if bold else "Regular", "Regular"))]
    elif key in _CJK:
        kind, region = _CJK[key]
        if not region:
            match = re.match(r"(jp|kr|sc|tc|hk|cn|tw)|(j|k)(?![a-z])", squeezed[len(key):])
            region = _REGIONS[match.group(0)] if match else "jp"
        for weight in dict.fromkeys(("Bold" if bold else "Regular", "Regular")):
            found += [Face(f"Noto{kind}CJK-{weight}.ttc", _TTC_INDEX[region]),
                      Face(f"Noto{kind}CJK{region}-{weight}.otf"),
                      Face(f"Noto{kind}{region.upper()}-{weight}.otf")]
    return found


def font_folders() -> list:
    """The folders searched for font files, in Pillow's order for this platform, plus the old ~/.fonts."""
    if sys.platform == "win32":
        return [os.path.join(os.environ.get("WINDIR", r"C:\Windows"), "Fonts")]
    if sys.platform == "darwin":
        return ["/Library/Fonts", "/System/Library/Fonts", os.path.expanduser("~/Library/Fonts")]
    data_home = os.environ.get("XDG_DATA_HOME") or os.path.expanduser("~/.local/share")
    data_dirs = (os.environ.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share").split(":")
    return [os.path.join(d, "fonts") for d in [data_home, *data_dirs]] + [os.path.expanduser("~/.fonts")]


@lru_cache(maxsize=1)
def installed() -> dict:
    """Every installed font file by its file name and by its stem without case or separators; the first found wins.

    Folders are walked in sorted order so that two copies of a file (one from an
    older package) resolve the same way on every run.
    """
    files = {}
    for folder in font_folders():
        for root, dirs, names in os.walk(folder):
            dirs.sort()
            for name in sorted(names):
                stem, ext = os.path.splitext(name)
                if ext.lower() in (".ttf", ".otf", ".ttc"):
                    path = os.path.join(root, name)
                    files.setdefault(name, path)
                    files.setdefault(_file_key(stem), path)
    return files


def locate(name: str) -> str:
    """The path of the font file ``name`` when installed, else ``name`` itself for Pillow to try."""
    return installed().get(name, name)
