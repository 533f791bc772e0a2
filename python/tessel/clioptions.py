"""The options the command's subcommands share, and which of them a command line sets itself."""

import argparse

from tessel import __version__
from tessel.road import parselimits

def add_components_flag(parser):
    """The --components flag, shared by every command that exports or shows an export."""
    parser.add_argument(
        "--components", action="store_true",
        help="make working widgets of groups named Button_, Toggle_, ProgressBar_, ScrollView_, List_ "
        "and ScrollPage_ (cc.Button, cc.Toggle, ...; see the README)",
    )


def add_font_options(parser):
    """--fonts, --font-map and --text-effects, shared by export and check."""
    parser.add_argument("--fonts", action="append", metavar="DIR",
                        help="a folder of the game project with font assets (.ttf/.otf/.fnt and their .meta; "
                             "repeatable): labels whose font matches one refer to it instead of a system font")
    parser.add_argument("--font-map", metavar="FILE",
                        help="JSON or TOML file mapping font names (as the PSD stores them) to font files "
                             "relative to a --fonts folder; tried before the names inside the font files")
    parser.add_argument("--text-effects", action="store_true",
                        help="a text layer's stroke and drop shadow become cc.LabelOutline and cc.LabelShadow")


def _max_objects(text):
    try:
        return parselimits.object_limit(text)
    except ValueError:
        raise argparse.ArgumentTypeError("must be a count of 0 or more") from None


def add_max_objects(parser):
    parser.add_argument("--max-objects", type=_max_objects, default=parselimits.DEFAULT_MAX_OBJECTS,
                        metavar="N", help=parselimits.HELP)


def png_level(text):
    value = int(text)
    if not 0 <= value <= 9:
        raise argparse.ArgumentTypeError("must be 0 to 9")
    return value


def job_count(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more")
    return value


def add_layer_options(parser):
    """--all-layers and --styles, which choose the layers exported and what their images show."""
    parser.add_argument("--all-layers", action="store_true",
                        help="export shape, smart-object and fill layers as sprites too (adjustment layers stay out)")
    parser.add_argument("--styles", action="store_true",
                        help="images show each layer as Photoshop does: layer style effects, masks, and the layers "
                             "clipped to it merged in (needs pip install 'tessel[styles]')")


def add_config_options(parser):
    """--config and --no-config: which settings file the command reads."""
    parser.add_argument("--config", metavar="FILE",
                        help="read the options from FILE (a tessel.toml, or a pyproject.toml with [tool.tessel]) "
                             "instead of the one found from OUTDIR or the current folder upwards")
    parser.add_argument("--no-config", action="store_true", help="ignore every settings file")


def versions():
    from importlib import metadata

    def version(name):
        try:
            return metadata.version(name)
        except metadata.PackageNotFoundError:
            return "not installed"

    return f"tessel {__version__} (psd-tools {version('psd-tools')}, Pillow {version('Pillow')})"


def given_options(parser, argv):
    """The names of the options ``argv`` sets itself (defaults left out), for the settings file to fill in."""
    _suppress_defaults(parser)
    return set(vars(parser.parse_args(argv)))


def _suppress_defaults(parser):
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for sub in action.choices.values():
                _suppress_defaults(sub)
        elif action.dest != "help":
            action.default = argparse.SUPPRESS
    parser._defaults.clear()
