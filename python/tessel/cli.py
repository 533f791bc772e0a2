"""The ``tessel`` command: export PSD documents as Cocos Creator prefabs, check or preview them, show their layer tree."""

import argparse
import dataclasses
import os
import sys
import time
import traceback

from tessel import settings
from tessel import export as road
from tessel.road import leftout
from tessel.road.engine import DEFAULT_ENGINE, ENGINES
from tessel.clilog import logging_to
from tessel.clioptions import (add_components_flag, add_config_options, add_font_options, add_layer_options,
                               add_max_objects, given_options, job_count, png_level, versions)
from tessel.errors import error_line, one_line
from tessel.run import report
from tessel.run.progress import Terminal

PROG = "tessel"

DESCRIPTION = "Export layered Photoshop documents as Cocos Creator prefabs, check them against the PSD, or show their layer tree."

EPILOG = """examples:
  tessel export ui/main.psd ui/shop.psd -o assets/ui --engine 2.4
  tessel check ui/main.psd -o main.check.png
  tessel config -o assets/ui      the options an export into assets/ui uses, and where each comes from

Options can be kept in the project: a tessel.toml (or [tool.tessel] in pyproject.toml) in the output
folder or a folder above it, or in the current folder or above; every ExportOptions field is a key."""


# ---------------------------------------------------------------------------
# Commands


def report_error(path, error, debug, console=None):
    """Print the one error line for ``path`` (after the traceback with --debug), above any progress bar."""
    if debug:
        traceback.print_exception(type(error), error, error.__traceback__, file=sys.stderr)
    if console is not None:
        console.line(error_line(PROG, path, error))
        return
    sys.stderr.write(error_line(PROG, path, error) + "\n")
    sys.stderr.flush()


def project_settings(args):
    """The settings file the command uses: --config, else the one found from OUTDIR, then from here."""
    if getattr(args, "no_config", False):
        return settings.Settings()
    path = getattr(args, "config", None) or settings.find(getattr(args, "outdir", None), os.getcwd())
    return settings.load(path, road.ExportOptions) if path else settings.Settings()


def resolved_options(args):
    """The library's export options, each with its source: the command line over the settings file over the defaults."""
    given = {f.name: getattr(args, f.name) for f in dataclasses.fields(road.ExportOptions)
             if f.name in getattr(args, "given", ())}
    return settings.resolve(road.ExportOptions, given, project_settings(args))


def export_options(args):
    """The library's export options from the parsed command line and the project's settings file."""
    return resolved_options(args)[0]


def _styles_missing(styles):
    """Report, once, that --styles cannot run here; True when it cannot."""
    if not styles:
        return False
    from tessel.road import styles

    try:
        styles.require()
    except styles.StylesUnavailable as e:
        sys.stderr.write(f"{PROG}: error: {one_line(e)}\n")
        return True
    return False


def _options_or_error(args):
    """The export options, or None after printing why the settings cannot be used."""
    try:
        return export_options(args)
    except ValueError as e:
        sys.stderr.write(f"{PROG}: error: {one_line(e)}\n")
        return None


def cmd_export(args, console):
    options = _options_or_error(args)
    if options is None or _styles_missing(options.styles):
        return 1
    on_skipped = console.line if args.verbose else None
    status = 0
    name_flag = not options.all_layers
    batch = road.export_many(args.psd, args.outdir, options, processes=args.processes, glob=args.glob,
                             progress=console.images, on_skipped=on_skipped)
    console.documents(len(batch))
    try:
        for path, result in batch:
            console.document_done()
            if isinstance(result, BaseException):
                report_error(path, result, args.debug, console)
                status = 1
                continue
            if args.quiet:
                continue
            for warning in result.warnings:
                console.line(f"{PROG}: warning: {one_line(os.fspath(path))}: {one_line(warning)}")
            console.line_out(summary(args.outdir, result, name_flag))
            # The flag is named on the first line that can use it, not on every one.
            name_flag = name_flag and not leftout.exportable(result.left_out)
    finally:
        console.close()
    if args.report:
        report.write(args.report, batch.report())
    return status


def cmd_watch(args, console):
    from tessel.run import watch

    options = _options_or_error(args)
    if options is None or _styles_missing(options.styles):
        return 1
    try:
        for path, outcome in watch.watch(args.psd, args.outdir, options, glob=args.glob,
                                         processes=args.processes):
            if isinstance(outcome, BaseException):
                report_error(path, outcome, args.debug, console)
            elif not args.quiet:
                console.line_out(time.strftime("%H:%M:%S ") + watch_line(path, outcome))
    except KeyboardInterrupt:
        console.line(f"{PROG}: stopped watching")
    return 0


def watch_line(path, outcome):
    """The line watch prints for one export of the document at ``path``."""
    if outcome == "removed":
        return f"removed {one_line(os.fspath(path))}; its output stays"
    if outcome.status == report.UNCHANGED:
        return f"unchanged {one_line(os.fspath(path))} ({outcome.seconds:.2f} s)"
    return (f"exported {one_line(os.fspath(path))} in {outcome.seconds:.2f} s: {len(outcome.written)} files written, "
            f"{len(outcome.kept)} kept")


def summary(outdir, result, name_flag=False):
    """The line printed for one exported document; ``name_flag``: say what --all-layers would add."""
    extra = ""
    if result.unchanged and result.status != report.UNCHANGED:
        extra += f", {result.unchanged} unchanged"
    if result.collisions:
        extra += f", {result.collisions} image name{'s' if result.collisions > 1 else ''} split between different images"
    if result.library:
        extra += f", {result.library} from the library"
    if result.shared:
        extra += f", {result.shared} shared"
    if result.library or result.shared:
        extra += f", {_size(result.bytes_saved)} not written"
    left_out = leftout.describe(result.left_out, name_flag)
    if left_out:
        extra += f"; {left_out}"
    shown = os.path.join(outdir, os.path.relpath(result.prefab, os.path.realpath(outdir)))
    verb = "unchanged" if result.status == report.UNCHANGED else "wrote"
    return f"{verb} {shown} ({result.nodes} nodes, {result.images} images{extra})"


def _size(count):
    """A byte count for people: 812 bytes, 41.2 KB, 3.5 MB."""
    if count < 1000:
        return f"{count} bytes"
    if count < 1000 ** 2:
        return f"{count / 1000:.1f} KB"
    return f"{count / 1000 ** 2:.1f} MB"


def cmd_tree(args, console):
    from tessel import layerkit

    options = _options_or_error(args)
    if options is None or _styles_missing(options.styles):
        return 1
    try:
        psd = road.open_document(args.psd, console.line, options)
        made = warned = None
        if options.components:
            from tessel.widgets.steps import survey

            made, warned = survey(psd)
        if args.json:
            data = psd.exportdata()
            if made is not None:
                data["widgets"] = {path: text for path, text in made}
                data["warnings"] = warned
            print(layerkit.exportDict2Json(data))
        else:
            psd.dump()
            for path, text in made or ():
                print(f"widget {path}: {text}")
            for line in warned or ():
                console.line(f"{PROG}: warning: {one_line(os.fspath(args.psd))}: {one_line(line)}")
    except Exception as e:
        report_error(args.psd, e, args.debug)
        return 1
    sys.stdout.flush()
    return 0


def build_parser():
    parser = argparse.ArgumentParser(prog=PROG, description=DESCRIPTION, epilog=EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=versions())
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    export = sub.add_parser(
        "export",
        help="export PSD documents as prefabs",
        description="Write OUTDIR/NAME.prefab, OUTDIR/NAME.prefab.meta and OUTDIR/NAME/*.png(.meta) "
        "for every DESIGN.psd (NAME is its file name without extension). "
        "UUIDs of an earlier export into the same folder are kept, and so are the settings "
        "that the editor or a developer put into its .meta files (unless --fresh-meta) and what the game "
        "team added to the prefab in the editor (unless --fresh-prefab). "
        "Options not given here come from the project's tessel.toml when there is one.",
    )
    export.add_argument("psd", nargs="+", metavar="DESIGN.psd|FOLDER",
                        help="documents to export; a folder gives every .psd below it, each exported at its path "
                             "relative to the folder (FOLDER/shop/main.psd: OUTDIR/shop/main.prefab)")
    export.add_argument("--glob", metavar="PATTERN",
                        help="of the documents in folders, only those whose path below the folder matches PATTERN "
                             "(* also matches across folders: 'shop/*.psd', '*_main.psd')")
    export.add_argument("-o", "--outdir", required=True, metavar="OUTDIR", help="output folder (created when missing)")

    layers = export.add_argument_group("what is exported")
    add_layer_options(layers)
    add_font_options(layers)

    engine = export.add_argument_group("engine and widgets")
    engine.add_argument(
        "--engine", choices=list(ENGINES), default=DEFAULT_ENGINE,
        help="the Creator runtime the prefab is for: 2.4 also writes the node fields that 2.2 and later read "
        "(\"_trs\", \"_eulerAngles\"), and still loads in 2.0 and 2.1; 3.8 writes the prefab and its metas "
        "in the Creator 3.x form (default: %(default)s)",
    )
    add_components_flag(engine)

    files = export.add_argument_group("re-export and files")
    files.add_argument(
        "--fresh-meta", action="store_true",
        help="write every .meta file afresh instead of keeping the settings an earlier file holds",
    )
    files.add_argument(
        "--fresh-prefab", action="store_true",
        help="write NAME.prefab from the export alone instead of merging into the one there, dropping the "
        "components, nodes and settings the game team added to it in the editor",
    )
    files.add_argument(
        "--no-image-cache", dest="image_cache", action="store_false",
        help="save every image, even one whose file already holds it (by default NAME/.tessel-images.json "
        "records what each image file holds, and a re-export leaves unchanged images alone), and export a "
        "document even when nothing changed since its last export (NAME/.tessel-export.json)",
    )
    files.add_argument(
        "--png-compression", type=png_level, metavar="N",
        help="zlib level of the PNG files, 0 (fastest, largest) to 9 (default: Pillow's, 6); "
        "1 saves images several times faster and some 5%% larger",
    )
    files.add_argument(
        "--library", action="append", metavar="DIR",
        help="a folder of the game project whose images (PNG with .png.meta) sprites refer to instead of a copy of "
        "the same pixels; repeatable; never written into (digests cached in OUTDIR/.tessel-library.json)",
    )
    files.add_argument(
        "--share", metavar="DIR",
        help="a folder, relative to OUTDIR, that images common to two or more documents (of this run or of the "
        "folder's earlier runs) are written to once, for every prefab to refer to",
    )
    add_config_options(files)

    speed = export.add_argument_group("speed and limits")
    speed.add_argument(
        "-j", "--jobs", dest="processes", type=job_count, metavar="N",
        help="export N documents at once, each in a process of its own (default: the number of CPUs, no more than "
             "there are documents); each saves its images on the CPUs left to it",
    )
    add_max_objects(speed)

    messages = export.add_argument_group("output and messages")
    noise = messages.add_mutually_exclusive_group()
    noise.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors (no warnings, no summary)")
    noise.add_argument("-v", "--verbose", action="store_true", help="show the log lines of the export on stderr")
    messages.add_argument("--debug", action="store_true", help="show the traceback of an error")
    export.set_defaults(func=cmd_export)
    # watch takes every option of export (those added above included), and adds none.
    watch = sub.add_parser(
        "watch", parents=[export], add_help=False, help="export PSD documents, then again each time one is saved",
        description="Export like export, then keep watching: a document saved again is exported again once the file "
        "is whole, one line per export. A failing document keeps its last good output; Ctrl-C ends. Uses watchfiles "
        "when installed (pip install 'tessel[watch]'), else looks at the files twice a second.")
    watch.set_defaults(func=cmd_watch)
    messages.add_argument("--report", metavar="FILE.json",
                        help="write an account of the run for CI: per document its status (exported, unchanged, "
                             "failed), files written and kept, warnings, left-out layers, errors and seconds")

    tree = sub.add_parser("tree", help="print the layer tree of a PSD document", description="Print the layer tree that an export would use.")
    tree.add_argument("psd", metavar="DESIGN.psd")
    tree.add_argument("--json", action="store_true", help="print the tree as JSON")
    tree.add_argument("-v", "--verbose", action="store_true", help="show log lines on stderr")
    tree.add_argument("--debug", action="store_true", help="show the traceback of an error")
    tree.add_argument("--engine", choices=list(ENGINES), default=DEFAULT_ENGINE,
                      help="accepted as export takes it; the layer tree is the same for every runtime")
    add_layer_options(tree)
    add_components_flag(tree)
    add_max_objects(tree)
    add_config_options(tree)
    tree.set_defaults(func=cmd_tree, quiet=False)

    config = sub.add_parser("config", help="print the options an export would use and where each comes from",
                            description="Print every export option an export into OUTDIR would use, and whether "
                                        "it comes from the default, a settings file or the command line.")
    config.add_argument("-o", "--outdir", metavar="OUTDIR", help="the output folder whose settings file counts")
    add_config_options(config)
    config.set_defaults(func=cmd_config, quiet=False, verbose=False, debug=False)

    from tessel.see import check, preview

    preview.register(sub)
    check.register(sub)
    add_font_options(sub.choices["check"])
    return parser


def cmd_config(args, console):
    try:
        options, sources = resolved_options(args)
    except ValueError as e:
        sys.stderr.write(f"{PROG}: error: {one_line(e)}\n")
        return 1
    width = max(len(name) for name in sources)
    for name, source in sources.items():
        print(f"{name:<{width}}  {getattr(options, name)!r:<12}  {source}")
    return 0


def main(argv=None):
    """Run the command line ``argv`` (default: sys.argv[1:]); returns the exit status."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        args.given = given_options(build_parser(), argv)
    except SystemExit as e:
        return e.code if isinstance(e.code, int) else 2
    console = Terminal(sys.stderr, bars=not args.quiet and _is_terminal(sys.stderr))
    try:
        with logging_to(console, args.verbose):
            return args.func(args, console)
    except KeyboardInterrupt:
        console.close()
        sys.stderr.write(f"{PROG}: interrupted\n")
        return 130


def _is_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


if __name__ == "__main__":
    sys.exit(main())
