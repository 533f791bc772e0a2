"""See what an export made: render a prefab as the engine lays it out, and check it against its PSD.

``tessel preview OUTDIR/NAME.prefab -o preview.png`` walks the node tree of the
prefab file and draws it: every node sits at its parent's anchor point plus its
own "_position" (y up), its box spans ``position - anchor * size`` to
``position + (1 - anchor) * size``, and the root node sits at the canvas centre
with the document's size.  Sprites draw their PNG (a sliced sprite stretches its
nine-slice image back to the node's size, corners kept), labels draw their text
in the node's colour, wrapped and aligned as the engine lays it out (tessel.see.labels).
``--engine`` places the nodes as that Creator runtime
does (tessel.see.nodelayout).
"""

from __future__ import annotations

import json
import math
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

from PIL import Image, ImageDraw

from tessel.see import widgetview
from tessel.road.engine import ENGINES
from tessel.see.labels import Fonts, default_font, draw_label
# Layout, Node, PreviewError and layout_prefab stay reachable here: check and hosts import them from the preview.
from tessel.see.nodelayout import Layout, Node, PreviewError, layout_prefab



# ---------------------------------------------------------------------------
# Sprite images


@dataclass
class Frame:
    """A sprite frame found through its meta file: the PNG and its sub-meta."""

    png: Path
    submeta: dict

    @property
    def borders(self) -> tuple:
        """(top, right, bottom, left) slice borders in pixels."""
        return tuple(int(self.submeta.get(k, 0) or 0) for k in ("borderTop", "borderRight", "borderBottom", "borderLeft"))


def sprite_frames(folder: Path, below: bool = False) -> dict:
    """Map every sprite-frame UUID of the .png.meta files in ``folder`` (``below``: and its subfolders) to its frame.

    The PNG of "X.png.meta" is "X.png" beside it; sub-meta entries without a
    UUID are skipped, and an unreadable meta file is an error that names it.
    A 3.x sub-meta keeps the frame's trims and borders in its "userData".
    """
    frames = {}
    if not folder.is_dir():
        return frames
    for meta in sorted(folder.rglob("*.png.meta") if below else folder.glob("*.png.meta")):
        try:
            data = json.loads(meta.read_text(encoding="utf-8"))
        except (OSError, ValueError) as e:
            raise PreviewError(f"{meta}: not a readable meta file ({e})") from e
        subs = data.get("subMetas") if isinstance(data, dict) else None
        for sub in (subs or {}).values():
            if isinstance(sub, dict) and isinstance(sub.get("uuid"), str):
                user = sub.get("userData")
                frames[sub["uuid"]] = Frame(png=meta.with_name(meta.name[: -len(".meta")]),
                                            submeta=user if isinstance(user, dict) else sub)
    return frames


def _split(length: int, first: int, last: int) -> tuple:
    # Borders wider than the target shrink in proportion, as the engine does;
    # the middle gets whatever is left.
    if first + last > length and first + last > 0:
        scale = length / (first + last)
        first = int(round(first * scale))
        last = length - first
    return first, max(length - first - last, 0), last


def nine_slice(image: Image.Image, size: tuple, borders: tuple) -> Image.Image:
    """Stretch a nine-slice image to ``size``: corners kept, edges stretched along one axis, centre both."""
    top, right, bottom, left = borders
    sw, sh = image.size
    tw, th = int(round(size[0])), int(round(size[1]))
    out = Image.new("RGBA", (max(tw, 0), max(th, 0)), (0, 0, 0, 0))
    if tw <= 0 or th <= 0 or sw == 0 or sh == 0:
        return out
    src_x = (0, min(left, sw), max(sw - right, min(left, sw)), sw)
    src_y = (0, min(top, sh), max(sh - bottom, min(top, sh)), sh)
    l, cw, r = _split(tw, left, right)
    t, ch, b = _split(th, top, bottom)
    dst_x = (0, l, l + cw, tw)
    dst_y = (0, t, t + ch, th)
    for row in range(3):
        for col in range(3):
            box = (src_x[col], src_y[row], src_x[col + 1], src_y[row + 1])
            dw, dh = dst_x[col + 1] - dst_x[col], dst_y[row + 1] - dst_y[row]
            if box[2] <= box[0] or box[3] <= box[1] or dw <= 0 or dh <= 0:
                continue
            piece = image.crop(box)
            if piece.size != (dw, dh):
                piece = piece.resize((dw, dh), Image.Resampling.NEAREST)
            out.paste(piece, (dst_x[col], dst_y[row]))
    return out


# ---------------------------------------------------------------------------
# Drawing


def _snap(value: float) -> int:
    # Half pixels go up, the same way for negative and positive coordinates.
    return math.floor(value + 0.5)


def _composite(canvas: Image.Image, image: Image.Image, x: int, y: int) -> None:
    """Alpha-composite ``image`` onto ``canvas`` with its top-left corner at (x, y), clipped."""
    cw, ch = canvas.size
    w, h = image.size
    sx, sy = max(0, -x), max(0, -y)
    x0, y0 = max(0, x), max(0, y)
    x1, y1 = min(cw, x + w), min(ch, y + h)
    if x1 <= x0 or y1 <= y0:
        return
    canvas.alpha_composite(image, dest=(x0, y0), source=(sx, sy, sx + x1 - x0, sy + y1 - y0))


def _fade(image: Image.Image, opacity: float) -> Image.Image:
    if opacity >= 1:
        return image
    alpha = image.getchannel("A").point(lambda a: int(round(a * opacity)))
    faded = image.copy()
    faded.putalpha(alpha)
    return faded


def _draw_sprite(canvas: Image.Image, layout: Layout, node: Node, frames: dict, problems: list) -> None:
    left, top, right, bottom = layout.pixel_box(node)
    draw_frame(canvas, node.sprite, (left, top, right - left, bottom - top), node.opacity, frames, problems,
               node.path or node.name)


def draw_frame(canvas: Image.Image, sprite: dict, box: tuple, opacity: float, frames: dict, problems: list,
               what: str) -> None:
    """Draw the sprite frame of ``sprite`` into ``box`` (left, top, width, height in pixels)."""
    w, h = (int(round(v)) for v in box[2:])
    if w <= 0 or h <= 0:
        # A node of no size shows nothing, whatever its sprite.
        return
    ref = sprite.get("_spriteFrame") or {}
    uuid = ref.get("__uuid__") if isinstance(ref, dict) else None
    frame = frames.get(uuid)
    if frame is None:
        problems.append(f"{what}: no meta file holds the sprite frame {uuid}")
        return
    try:
        with Image.open(frame.png) as png:
            image = png.convert("RGBA")
    except OSError as e:
        problems.append(f"{what}: cannot read {frame.png} ({e})")
        return
    if sprite.get("_type", 0) == 1:
        image = nine_slice(image, (w, h), frame.borders)
    elif image.size != (w, h):
        image = image.resize((w, h), Image.Resampling.BILINEAR)
    _composite(canvas, _fade(image, opacity), _snap(box[0]), _snap(box[1]))


def _draw_boxes(canvas: Image.Image, layout: Layout) -> None:
    draw = ImageDraw.Draw(canvas)
    font = default_font(11)
    palette = ((230, 40, 40, 255), (40, 150, 40, 255), (40, 80, 230, 255), (200, 120, 0, 255))
    for node in layout.nodes:
        if node.parent is None or not node.active:
            continue
        depth = node.path.count("/")
        colour = palette[depth % len(palette)]
        left, top, right, bottom = (_snap(v) for v in layout.pixel_box(node))
        draw.rectangle((left, top, max(left, right - 1), max(top, bottom - 1)), outline=colour)
        draw.text((left + 2, top + 1), node.name, font=font, fill=colour)


def render(layout: Layout, frames: dict, boxes: bool = False, fonts: Optional[Fonts] = None, problems: Optional[list] = None) -> Image.Image:
    """Draw the laid-out prefab on a transparent canvas of the document's size.

    Nodes draw in tree order, a parent before its children, siblings in list
    order (later on top), as the engine renders them.  Sprites whose frame
    cannot be found are left out and described in ``problems``.
    """
    fonts = fonts or Fonts()
    problems = problems if problems is not None else []
    canvas = Image.new("RGBA", (max(1, _snap(layout.width)), max(1, _snap(layout.height))), (0, 0, 0, 0))
    for node in layout.nodes:
        if not node.active:
            continue
        # A masked node draws on a layer of its own, cut to the mask's box.
        target = canvas if node.clip is None else Image.new("RGBA", canvas.size, (0, 0, 0, 0))
        if node.sprite is not None:
            _draw_sprite(target, layout, node, frames, problems)
        if node.label is not None:
            draw_label(target, layout.height, node, fonts)
        for sprite, box, opacity in widgetview.dots(layout, node):
            draw_frame(target, sprite, box, opacity, frames, problems, node.path or node.name)
        if target is not canvas:
            widgetview.composite_clipped(canvas, target, node.clip)
    if boxes:
        _draw_boxes(canvas, layout)
    return canvas


def load_prefab(path, engine: Optional[str] = None, libraries=()) -> tuple:
    """The laid-out prefab at ``path`` and the sprite frames of its image folder and the ``libraries`` folders."""
    path = Path(path)
    try:
        objects = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError) as e:
        raise PreviewError(f"{path}: not a readable prefab ({e})") from e
    name = path.name[: -len(".prefab")] if path.name.endswith(".prefab") else path.stem
    frames = {}
    for folder in libraries:
        frames.update(sprite_frames(Path(folder), below=True))
    frames.update(sprite_frames(path.parent / name))
    return layout_prefab(objects, engine), frames


def preview(prefab, output, boxes: bool = False, font: Optional[str] = None, engine: Optional[str] = None,
            libraries=(), font_dirs=()) -> list:
    """Render the prefab file ``prefab`` into the PNG ``output``; returns the problems met.

    A label whose characters no font has is one of them, said once.  Sprites may
    show images of the ``libraries`` folders (library and share folders); labels that
    refer to a font asset are drawn with its file when ``font_dirs`` hold it.
    """
    layout, frames = load_prefab(prefab, engine, libraries)
    problems = []
    files = {}
    if font_dirs:
        from tessel.road.fonts import font_files

        files = font_files(font_dirs)
    fonts = Fonts(font, files)
    image = render(layout, frames, boxes=boxes, fonts=fonts, problems=problems)
    image.save(output, format="PNG")
    return problems + fonts.notes


# ---------------------------------------------------------------------------
# Command line


def _printable(text: str) -> str:
    # Layer names may hold lone surrogates, which no terminal encoding takes.
    return text.encode("utf-8", "backslashreplace").decode("utf-8")


def _number(value: float) -> str:
    # Hundredths are plenty for pixel offsets; "-0" reads as 0.
    return f"{round(value, 2) + 0.0:g}"


def _preview_command(args, console=None) -> int:
    try:
        problems = preview(args.prefab, args.output, boxes=args.boxes, font=args.font, engine=args.engine,
                           libraries=args.library or (), font_dirs=args.fonts or ())
    except (PreviewError, OSError) as e:
        print(f"tessel preview: {_printable(str(e))}", file=sys.stderr)
        return 1
    for problem in problems:
        print(f"tessel preview: {_printable(problem)}", file=sys.stderr)
    return 0


def register(subparsers) -> None:
    """Add the `preview` command to an argparse subparsers object.

    Each command's ``func(args, console=None)`` runs it and returns the exit status.
    """
    p = subparsers.add_parser("preview", help="render an exported prefab as the engine lays it out",
                              description="Render OUTDIR/NAME.prefab, with its images from OUTDIR/NAME/, into a PNG.")
    p.add_argument("prefab", help="the .prefab file of an export")
    p.add_argument("-o", "--output", default="preview.png", help="the PNG to write (default: preview.png)")
    p.add_argument("--boxes", action="store_true", help="outline every node's box with its name")
    p.add_argument("--font", help="a TrueType/OpenType font file for the labels")
    p.add_argument("--fonts", action="append", metavar="DIR",
                   help="a folder with the font assets the labels refer to (repeatable; as given to export)")
    p.add_argument("--engine", choices=list(ENGINES),
                   help="place nodes as this Creator runtime does (default: by \"_trs\" when a node has it)")
    p.add_argument("--library", "--share", action="append", metavar="DIR",
                   help="a library or share folder of the export whose images sprites may show; repeatable")
    p.set_defaults(func=_preview_command, quiet=False, verbose=False)
