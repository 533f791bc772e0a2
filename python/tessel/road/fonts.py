"""The game project's fonts: labels whose font has an asset in the given folders refer to it by UUID.

A text layer names its font by the PostScript name Photoshop stores
("SourceHanSansCN-Bold", "Arial-BoldMT").  It is matched to a font asset of
the folders, in this order: the map file (PostScript name -> path relative to
a folder, JSON or TOML), the names inside each font file (its PostScript
name, then family + style, read with fontTools), then the file name.  A bitmap
font (.fnt) matches by its file name or the map.  The label then refers to the
asset by the "uuid" of its .meta file and stops using the system font.

Folders are walked on every export, but a font file is opened only when it is
new or changed since the last scan in this process, and a problem with a file
(unreadable, a meta without UUID) is reported by the export that first meets
it, not by every document of a batch.
"""

import json
import os
import re
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

from tessel.errors import DocumentError, describe

#: Font files the engine imports as a cc.TTFFont, and its bitmap fonts.
VECTOR = (".ttf", ".otf")
BITMAP = (".fnt",)

# name-table ids: family, style, full name, PostScript name, typographic family and style
_FAMILY, _STYLE, _FULL, _POSTSCRIPT, _TYPO_FAMILY, _TYPO_STYLE = 1, 2, 4, 6, 16, 17


def key(name: str) -> str:
    """``name`` compared without case, blanks, hyphens or underscores: "Source Han Sans CN" ~ "SourceHanSansCN"."""
    return re.sub(r"[\s_\-]+", "", str(name)).lower()


def _keys_of_postscript(name: str) -> List[str]:
    # Photoshop's names often end in a foundry tag the name table's family and
    # style lack ("Arial-BoldMT", "TimesNewRomanPSMT"); a plain family is the
    # regular style.
    base = key(name)
    found = [base]
    for tag in ("mt", "ps", "psmt"):
        if base.endswith(tag):
            found.append(base[: -len(tag)])
    return found + [k + "regular" for k in list(found)]


@dataclass
class Asset:
    """One font asset of a folder: its file, its UUID (None without a usable meta) and the names it answers to."""

    path: str
    uuid: Optional[str]
    postscript: Tuple[str, ...] = ()  #: PostScript names inside the file
    styled: Tuple[str, ...] = ()  #: keys of family + style inside the file


@dataclass
class _Scanned:
    stamp: tuple
    asset: Asset
    warning: Optional[str]


# path -> what a scan found, kept for the life of the process
_SCANNED: Dict[str, _Scanned] = {}
_WARNED = set()


def _stamp(path):
    stats = []
    for p in (path, path + ".meta"):
        try:
            st = os.stat(p)
            stats.append((st.st_mtime_ns, st.st_size))
        except OSError:
            stats.append(None)
    return tuple(stats)


def _names(path):
    """(PostScript names, family + style keys) of the font file ``path``."""
    from fontTools.ttLib import TTFont

    postscript, styled = [], []
    # The file is opened here so that it is closed again whatever fontTools makes of it.
    with open(path, "rb") as f:
        # lazy: only the name table is read, not the whole file
        for font in [TTFont(f, lazy=True)]:
            table = font["name"]

            def name(i):
                record = table.getDebugName(i)
                return record.strip() if record else ""

            if name(_POSTSCRIPT):
                postscript.append(name(_POSTSCRIPT))
            for family, style in ((_FAMILY, _STYLE), (_TYPO_FAMILY, _TYPO_STYLE)):
                if name(family):
                    styled.append(key(name(family) + (name(style) or "Regular")))
            if name(_FULL):
                styled.append(key(name(_FULL)))
    return tuple(postscript), tuple(dict.fromkeys(styled))


def _meta_uuid(path):
    """The asset's UUID from ``path``.meta, or (None, why not)."""
    meta = path + ".meta"
    try:
        with open(meta, encoding="utf-8") as f:
            data = json.load(f)
    except FileNotFoundError:
        return None, f"{meta} is missing (open the project in the editor to import the font); not used"
    except (OSError, ValueError) as e:
        return None, f"{meta} is not readable JSON ({describe(e)}); the font is not used"
    uuid = data.get("uuid") if isinstance(data, dict) else None
    if not isinstance(uuid, str) or not uuid:
        return None, f"{meta} has no \"uuid\"; the font is not used"
    return uuid, None


def _scan_file(path):
    uuid, warning = _meta_uuid(path)
    asset = Asset(path=path, uuid=uuid)
    if path.lower().endswith(VECTOR):
        try:
            asset.postscript, asset.styled = _names(path)
        except Exception as e:  # fontTools raises many kinds on a damaged file
            asset.uuid = None
            warning = f"cannot read the font {path} ({describe(e)}); not used"
    return asset, warning


def scan(folder) -> Tuple[List[Asset], List[str]]:
    """Every font asset below ``folder`` (sorted by path), and the warnings not given before in this process."""
    assets, warnings = [], []
    for root, dirs, names in os.walk(folder):
        dirs.sort()
        for name in sorted(names):
            if not name.lower().endswith(VECTOR + BITMAP):
                continue
            path = os.path.join(root, name)
            stamp = _stamp(path)
            known = _SCANNED.get(path)
            if known is None or known.stamp != stamp:
                asset, warning = _scan_file(path)
                known = _SCANNED[path] = _Scanned(stamp, asset, warning)
            assets.append(known.asset)
            if known.warning and (path, stamp) not in _WARNED:
                _WARNED.add((path, stamp))
                warnings.append(known.warning)
    return assets, warnings


def load_map(path) -> Dict[str, str]:
    """The map file: PostScript name -> font path relative to a fonts folder; JSON, or TOML by its extension."""
    path = os.fspath(path)
    try:
        if path.lower().endswith(".toml"):
            try:
                import tomllib
            except ImportError:  # Python before 3.11
                import tomli as tomllib
            with open(path, "rb") as f:
                data = tomllib.load(f)
        else:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
    except (OSError, ValueError) as e:
        raise DocumentError(f"the font map {path} cannot be read ({describe(e)})") from e
    if not isinstance(data, dict) or not all(isinstance(v, str) for v in data.values()):
        raise DocumentError(f"the font map {path} must map font names to font file paths (strings)")
    return dict(data)


@dataclass
class Library:
    """The font assets of the given folders and the map, ready to match names."""

    folders: List[str]
    mapping: Dict[str, str] = field(default_factory=dict)
    warnings: List[str] = field(default_factory=list)
    assets: List[Asset] = field(default_factory=list)
    _mapped: Dict[str, Asset] = field(default_factory=dict)

    @classmethod
    def open(cls, folders, map_path=None):
        if isinstance(folders, (str, os.PathLike)):
            folders = [folders]
        folders = [os.path.abspath(os.fspath(f)) for f in folders]
        if not folders:
            raise DocumentError("a font map needs the fonts folders its paths are relative to")
        for folder in folders:
            if not os.path.isdir(folder):
                raise DocumentError(f"the fonts folder {folder} does not exist")
        try:
            import fontTools  # noqa: F401
        except ImportError:
            raise DocumentError("--fonts reads the names inside font files with fontTools: "
                                "pip install 'tessel[fonts]'") from None
        library = cls(folders, load_map(map_path) if map_path else {})
        for folder in folders:
            assets, warnings = scan(folder)
            library.assets += assets
            library.warnings += warnings
        library._mapped = library._resolve_map(map_path)
        return library

    def _resolve_map(self, map_path):
        by_path = {os.path.normcase(a.path): a for a in self.assets}
        mapped = {}
        for name, relative in self.mapping.items():
            for folder in self.folders:
                asset = by_path.get(os.path.normcase(os.path.normpath(os.path.join(folder, relative))))
                if asset is not None:
                    mapped[name] = asset
                    break
            else:
                warning = f"the font map {map_path} names {relative!r} for {name!r}, which no fonts folder holds"
                if warning not in _WARNED:
                    _WARNED.add(warning)
                    self.warnings.append(warning)
        return mapped

    def match(self, name: str) -> Optional[Asset]:
        """The asset for the font ``name``: by the map, the PostScript name, family + style, then the file name."""
        usable = [a for a in self.assets if a.uuid]
        found = self._mapped.get(name)
        if found is not None:
            return found if found.uuid else None
        keys = _keys_of_postscript(name)
        for test in (lambda a: name in a.postscript,
                     lambda a: any(k in a.styled for k in keys),
                     lambda a: key(os.path.splitext(os.path.basename(a.path))[0]) in keys):
            for asset in usable:
                if test(asset):
                    return asset
        return None


def apply_fonts(psd, library) -> List[str]:
    """Point every label whose font has an asset at it; returns the warning lines.

    A label without an asset keeps the system font; one line names those fonts
    with the number of labels each.
    """
    from tessel import nodeweave

    unmatched = {}
    for obj in psd.totalInfo:
        if not isinstance(obj, nodeweave.CCLabel):
            continue
        name = str(obj._N_fontFamily)
        asset = library.match(name)
        if asset is None:
            unmatched[name] = unmatched.get(name, 0) + 1
            continue
        obj._N_file = {"__uuid__": asset.uuid}
        obj._isSystemFontUsed = False
    warnings = list(library.warnings)
    if unmatched:
        counts = ", ".join(f"{name} ({n} label{'s' if n > 1 else ''})" for name, n in unmatched.items())
        warnings.append(f"no font asset for {counts}: these labels keep the system font")
    return warnings


def font_files(folders) -> Dict[str, str]:
    """{uuid: font file} of every usable font asset below ``folders``, for drawing labels that refer to one."""
    files = {}
    for folder in folders:
        for asset in scan(os.fspath(folder))[0]:
            if asset.uuid:
                files.setdefault(asset.uuid, asset.path)
    return files
