"""Check an export against its PSD.

``tessel check DESIGN.psd`` exports the document to a temporary folder, renders
that prefab, composites the PSD with the export's own layer filter, and reports
per exported layer how far its node's box lies from the layer's box, plus the
share of differing pixels; it writes the two images side by side with a
difference view.  A sprite that shows other pixels than its own layer's is a
problem too.  Pixel layers and groups must land exactly; text layers may be
off by one pixel, which is what the truncations of the position rules allow.  A
text layer's box is the pixels Photoshop drew for point text, and the text box
the designer drew for box text.  Point text is compared by its glyphs: where the
label draws them against the pixels, by the side its alignment pins and the
vertical middle, within three pixels (the preview's face is a stand-in with the
document face's advance widths, and another rasteriser).  In a document of odd width or height the
centre lies on a half pixel that whole-number positions cannot reach: that half
pixel is reported as such, not as a misplaced layer.  A label whose drawn text is
more than a fifth taller or shorter than Photoshop's text is misplaced too: its
font size or line distance is wrong even where its box lands.
"""

from __future__ import annotations

import sys
import tempfile
from dataclasses import dataclass, field, replace
from pathlib import Path
from typing import Callable, Optional

from PIL import Image

from tessel.road import fileids
from tessel.see import widgetview
from tessel.road.engine import DEFAULT_ENGINE, ENGINES, check_engine
from tessel.see.preview import (Fonts, Layout, Node, PreviewError, _number, _printable, load_prefab,
                            render)
from tessel.road.textplace import has_ink
from tessel.see.exported import exported_children, is_exported, layer_kind
from tessel.see.textmeasure import ink_box, measure_sizes, text_box
from tessel.see.labels import field as label_field
from tessel.see.picturediff import difference, side_by_side
from tessel.see.spritecheck import sprite_problems

# Exit codes of `tessel check`: every layer placed, some misplaced, no check possible.
EXIT_PLACED = 0
EXIT_MISPLACED = 1
EXIT_ERROR = 2

# Largest placement error, in pixels, that each kind of layer may show.
# Point text measured by its glyphs ("glyphs") is compared with Photoshop's rasterising, in
# the document's face or a stand-in with its advance widths but not its outlines.
PLACEMENT_LIMIT = {"group": 0.0, "pixel": 0.0, "text": 1.0, "glyphs": 3.0}

# Largest share by which a label's drawn text may be taller or shorter than Photoshop's,
# and the pixels it may be off in any case: small text of a stand-in font differs by
# a pixel or two of ascender and anti-aliasing.
SIZE_LIMIT = 0.2
SIZE_SLACK = 2

# ---------------------------------------------------------------------------
# Check against the PSD


@dataclass
class Placement:
    """Where one exported layer lies in the PSD and where its node lands in the preview."""

    path: str
    kind: str
    layer_box: tuple
    node_box: tuple
    layer: object = field(default=None, repr=False, compare=False)  #: the psd-tools layer
    node: Optional[Node] = field(default=None, repr=False, compare=False)
    #: the half pixel (x, y) an odd document width or height puts on every node
    rounding: tuple = (0.0, 0.0)
    #: (drawn, Photoshop's) height of a label's text in pixels; None where either draws nothing
    heights: Optional[tuple] = None

    @property
    def size_ratio(self) -> Optional[float]:
        """The label's drawn text height over Photoshop's, None where not measured."""
        return None if self.heights is None else self.heights[0] / self.heights[1]

    @property
    def missized(self) -> bool:
        """A label whose text is drawn more than a fifth (and a few pixels) taller or shorter than Photoshop's."""
        if self.heights is None:
            return False
        drawn, photoshop = self.heights
        return abs(drawn - photoshop) > max(SIZE_LIMIT * photoshop, SIZE_SLACK)
    #: for point text measured by its glyphs: the label's horizontal alignment (0 left, 1 centre, 2 right)
    pinned: Optional[int] = None

    @property
    def offset(self) -> tuple:
        """(dx, dy): the node box's top-left corner minus the layer box's, in pixels, y down."""
        return (self.node_box[0] - self.layer_box[0], self.node_box[1] - self.layer_box[1])

    def _distances(self) -> tuple:
        """(distance, its rounding slack) per compared side or middle."""
        if self.pinned is None:
            return tuple(zip((abs(n - l) for n, l in zip(self.node_box, self.layer_box)), self.rounding * 2))
        # Glyphs drawn in a stand-in face differ in width and height from Photoshop's: the side the
        # alignment pins (the middle for centred text) and the vertical middle say where the text is.
        (nl, nt, nr, nb), (ll, lt, lr, lb) = self.node_box, self.layer_box
        x = {0: nl - ll, 2: nr - lr}.get(self.pinned, (nl + nr - ll - lr) / 2)
        return ((abs(x), self.rounding[0]), (abs(nt + nb - lt - lb) / 2, self.rounding[1]))

    @property
    def error(self) -> float:
        """The largest distance between a side of the node box and the same side of the layer box
        (for glyph-measured point text: of the pinned side and of the vertical middle)."""
        return max(d for d, _ in self._distances())

    @property
    def limit(self) -> float:
        return PLACEMENT_LIMIT["glyphs" if self.pinned is not None else self.kind]

    @property
    def misplaced(self) -> bool:
        if self.missized:
            return True
        return any(d > self.limit + r for d, r in self._distances())

    @property
    def half_pixel(self) -> bool:
        """Placed, but only thanks to the odd document's half pixel."""
        return not self.misplaced and self.error > self.limit


def placements(psd, layout: Layout, components: bool = False, frames: Optional[set] = None,
               fonts: Optional[Fonts] = None) -> tuple:
    """Pair every exported layer with its node, walking both trees in step.

    The export makes one node per exported layer in document order, so the
    n-th exported child of a group is the n-th child of its node.  Returns the
    placements and the structural mismatches found.  With ``components`` the
    widgets' node trees are followed; the ids of the layers that became mere
    sprite frames (button states) are added to ``frames``.  With ``fonts``, a
    point text's node box is where its label draws the glyphs, compared with
    the glyphs Photoshop drew: the engine sizes such a node to the text.
    """
    found, problems = [], []
    rounding = tuple(0.5 if int(side) % 2 else 0.0 for side in (layout.width, layout.height))

    def walk(group, node: Node, prefix: str) -> None:
        layers = exported_children(group)
        children = [child for child in node.children if not fileids.by_hand(layout.root, child)]
        if components:
            kept, children = widgetview.pairs(group, layers, node)
            if frames is not None and "cc.PageViewIndicator" not in node.parts:
                # Indicator dots stay: the engine draws dots of the same frame there.
                frames.update(id(getattr(layer, "_origin", layer)) for layer in layers if layer not in kept)
            layers = kept
        if len(layers) != len(children):
            problems.append(
                f"{prefix or 'the document'}: {len(layers)} exported layers but {len(children)} child nodes"
            )
        for layer, child in zip(layers, children):
            path = f"{prefix}/{layer.name}" if prefix else str(layer.name)
            kind = layer_kind(layer)
            box = text_box(layer) if kind == "text" else None
            if box is None:
                box = (layer.left, layer.top, layer.left + layer.width, layer.top + layer.height)
            node_box, pinned = layout.pixel_box(child), None
            if kind == "text" and fonts is not None and text_box(layer) is None and child.label is not None \
                    and has_ink(layer):
                ink = ink_box(layout, child, fonts)
                if ink is not None:
                    node_box, pinned = ink, label_field(child.label, "horizontalAlign", 1)
            found.append(Placement(path=path, kind=kind, layer_box=box, node_box=node_box,
                                   layer=layer, node=child, rounding=rounding, pinned=pinned))
            if kind == "group":
                walk(layer, child, path)

    walk(psd, layout.root, "")
    return found, problems


def composite_psd(psd, options=None, frames=frozenset()) -> tuple:
    """The document as it looks with only the layers the export keeps, as RGBA, and what made it.

    When the export options keep every visible layer, that is the composite
    Photoshop stored in the file; otherwise psd-tools composites the kept ones.
    Layers whose ids are in ``frames`` are left out: their images are only
    sprite frames of a widget's other states.
    """
    shown = is_exported
    if options is not None and (options.all_layers or options.styles):
        from tessel.road import layerview

        def shown(layer):
            return layerview.shown(layer, options)

        if not frames and all(shown(layer) for layer in psd.descendants() if layer.is_visible()):
            return psd.composite().convert("RGBA"), "Photoshop's composite"
    image = psd.composite(layer_filter=lambda layer: shown(layer) and id(layer) not in frames, color=1.0, alpha=0.0)
    return image.convert("RGBA"), "psd-tools' composite of the exported layers"


@dataclass
class CheckResult:
    """What `tessel check` found for one document."""

    placements: list
    problems: list
    differing: Optional[float]
    sheet: Image.Image
    composite_error: Optional[str] = None
    notes: list = field(default_factory=list)  #: about the preview itself (a font without the labels' glyphs)
    reference: str = ""  #: what the preview was compared with

    @property
    def misplaced(self) -> list:
        return [p for p in self.placements if p.misplaced]

    @property
    def ok(self) -> bool:
        return not self.misplaced and not self.problems


def _font_files(options) -> dict:
    """{uuid: font file} of the project fonts the export's labels may refer to."""
    if not options.fonts:
        return {}
    from tessel.road.fonts import font_files

    return font_files(options.fonts)


def default_export(psd_path: str, outdir: str, options=None) -> Path:
    """Export ``psd_path`` into ``outdir`` with the library's export; returns the prefab's path.

    The export's error becomes the message of the PreviewError, so a refused
    document still ends the check with one line.
    """
    from tessel import export
    from tessel.errors import describe, layer_label

    try:
        result = export.export_psd(psd_path, outdir, options)
    except Exception as e:
        reason = describe(e)
        layer = getattr(e, "layer", None)
        if layer is not None:
            reason += f" [layer {layer_label(layer)}]"
        raise PreviewError(f"the export failed: {psd_path}: {reason}") from e
    return Path(result.prefab)


def check(psd_path, tolerance: int = 8, font: Optional[str] = None, boxes: bool = False,
          export: Optional[Callable[[str, str], Path]] = None, engine: str = DEFAULT_ENGINE,
          options=None, components: bool = False) -> CheckResult:
    """Export the PSD to a temporary folder, render it and compare it with the PSD's own composite.

    ``export(psd_path, outdir)`` writes the export and returns the prefab's
    path; by default it is `tessel export` for the runtime ``engine`` with
    ``options`` (an :class:`tessel.export.ExportOptions`), which also say which
    layers count as exported and where their boxes lie; the render places the
    nodes as that runtime does.  ``components`` makes and follows widgets
    (`tessel export --components`).
    """
    from psd_tools import PSDImage

    from tessel.road import layerview
    from tessel.export import ExportOptions

    check_engine(engine)
    options = replace(options or ExportOptions(), engine=engine)
    if components:
        options = replace(options, components=True)
    if export is None:
        export = lambda path, outdir: default_export(path, outdir, options)  # noqa: E731

    try:
        psd = PSDImage.open(psd_path)
    except Exception as e:
        detail = " ".join(str(e).split())
        raise PreviewError(f"{psd_path}: psd-tools cannot open it ({type(e).__name__}: {detail})") from e
    with tempfile.TemporaryDirectory(prefix="tessel-check-") as outdir:
        layout, frames = load_prefab(export(str(psd_path), outdir), engine, options.library)
        problems = []
        fonts = Fonts(font, _font_files(options))
        rendered = render(layout, frames, fonts=fonts, problems=problems)
        boxed = render(layout, frames, boxes=True, fonts=fonts) if boxes else rendered
        frame_layers = set()
        found, mismatches = placements(layerview.document_view(psd, options), layout, options.components, frame_layers,
                                       fonts)
        mismatches += sprite_problems(found, frames)
        measure_sizes(found, fonts)
    # Effects and fills may need optional packages psd-tools does not require;
    # without a composite the placements still stand, only the pixels go unmeasured.
    try:
        expected, reference = composite_psd(psd, options, frame_layers)
    except Exception as e:
        first = str(e).strip().splitlines()[0] if str(e).strip() else ""
        reason = f"{type(e).__name__}: {first}" if first else type(e).__name__
        return CheckResult(placements=found, problems=mismatches + problems, differing=None,
                           sheet=side_by_side(None, boxed, None), composite_error=reason, notes=fonts.notes)
    share, mask = difference(expected, rendered, tolerance)
    return CheckResult(placements=found, problems=mismatches + problems, differing=share,
                       sheet=side_by_side(expected, boxed, mask), notes=fonts.notes, reference=reference)


# ---------------------------------------------------------------------------
# Command line


def report(result: CheckResult, out=None) -> None:
    """Print the per-layer placement table and the summary lines."""
    out = out or sys.stdout
    rows = [("layer", "kind", "dx", "dy", "error", "size", "")]
    for p in result.placements:
        dx, dy = p.offset
        status = "MISPLACED" if p.misplaced else "ok, the odd document's half pixel" if p.half_pixel else "ok"
        size = "" if p.size_ratio is None else f"{p.size_ratio:.2f}"
        rows.append((_printable(p.path), p.kind, _number(dx), _number(dy), _number(p.error), size, status))
    widths = [max(len(row[i]) for row in rows) for i in range(6)]
    for row in rows:
        cells = [row[0].ljust(widths[0]), row[1].ljust(widths[1])] + [row[i].rjust(widths[i]) for i in (2, 3, 4, 5)]
        print("  ".join(cells + [row[6]]).rstrip(), file=out)
    for problem in result.problems:
        print(f"problem: {_printable(problem)}", file=out)
    if result.differing is None:
        print(f"differing pixels: not measured (psd-tools cannot composite the document: "
              f"{_printable(result.composite_error or '')})", file=out)
    else:
        against = f" (against {result.reference})" if result.reference else ""
        print(f"differing pixels: {result.differing:.2%}{against}", file=out)
    print(f"misplaced layers: {len(result.misplaced)} of {len(result.placements)}", file=out)


def _check_command(args, console=None) -> int:
    from tessel.export import ExportOptions

    try:
        options = ExportOptions(all_layers=args.all_layers, styles=args.styles, components=args.components,
                                engine=args.engine, library=args.library or [],
                                fonts=getattr(args, "fonts", None) or [], font_map=getattr(args, "font_map", None),
                                text_effects=getattr(args, "text_effects", False))
    except ValueError as e:  # a combination the engine has no form for
        print(f"tessel check: {_printable(str(e))}", file=sys.stderr)
        return EXIT_ERROR
    try:
        result = check(args.psd, tolerance=args.tolerance, font=args.font, boxes=args.boxes, engine=args.engine,
                       options=options)
        output = args.output or f"{Path(args.psd).stem}.check.png"
        result.sheet.save(output, format="PNG")
    except (PreviewError, OSError) as e:
        print(f"tessel check: {_printable(str(e))}", file=sys.stderr)
        return EXIT_ERROR
    for note in result.notes:
        print(f"tessel check: {_printable(note)}", file=sys.stderr)
    report(result)
    print(f"side by side: {output}")
    return EXIT_PLACED if result.ok else EXIT_MISPLACED


def register(subparsers) -> None:
    """Add the `check` command to an argparse subparsers object."""
    c = subparsers.add_parser("check", help="export a PSD and check that every node lands where its layer is",
                              description="Export DESIGN.psd to a temporary folder, render it, and compare it with "
                                          "the PSD. Exit status 0: every layer placed; 1: some layer misplaced; "
                                          "2: no check possible.")
    c.add_argument("psd", help="the PSD document")
    c.add_argument("-o", "--output", help="the side-by-side PNG to write (default: DESIGN.check.png)")
    c.add_argument("--tolerance", type=int, default=8,
                   help="largest channel difference (0-255) still counted as equal (default: 8)")
    c.add_argument("--boxes", action="store_true", help="outline the node boxes in the side-by-side preview")
    c.add_argument("--font", help="a TrueType/OpenType font file for the labels")
    c.add_argument("--engine", choices=list(ENGINES), default=DEFAULT_ENGINE,
                   help="export for this Creator runtime and place the nodes as it does (default: %(default)s)")
    c.add_argument("--all-layers", action="store_true", help="export shape, smart-object and fill layers too")
    c.add_argument("--styles", action="store_true", help="export each layer as Photoshop shows it (effects, masks, "
                                                         "clipping)")
    c.add_argument("--components", action="store_true",
                   help="export with working widgets (see `tessel export --components`) and check that")
    # A share folder of earlier exports is looked up like a library: the check exports into a folder of its own.
    c.add_argument("--library", "--share", action="append", metavar="DIR",
                   help="export against this library or share folder, as `tessel export --library` does; repeatable")
    c.set_defaults(func=_check_command, quiet=False, verbose=False)
