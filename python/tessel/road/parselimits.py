"""The PSD reader's parse limits: what they guard against, and raising them for a large genuine document.

psd-tools stops parsing a document after a million objects (descriptor items,
text engine data entries, ...) and at a nesting depth of 64, so that a small
crafted file cannot take all memory, minutes of time or the stack.  A real
document with about 1,000 text layers holds more than a million objects; the
export opens it when asked to with a higher object limit.
"""

import sys

#: psd-tools' own object limit
DEFAULT_MAX_OBJECTS = 1_000_000

#: the command-line option and the library field that raise the object limit
OPTION = "--max-objects"
FIELD = "ExportOptions.max_objects"

HELP = (
    "the most objects (descriptor items, text data entries) the PSD reader parses from one document "
    "(default: %(default)s; 0: no limit). The limit keeps a small crafted file from taking all memory "
    "and minutes of time; about 1,000 text layers need more"
)


def object_limit(text):
    """``--max-objects`` on the command line or in the settings: a positive count, or 0 for no limit (None)."""
    value = text if isinstance(text, int) else int(text.replace(",", "").replace("_", ""))
    if value < 0:
        raise ValueError("must be 0 or more")
    return value or None


def open_psd(reader, path, max_objects=DEFAULT_MAX_OBJECTS):
    """``reader.open(path)`` with the object limit ``max_objects`` (None: none).

    The reader's defaults are left untouched when the limit is its default or
    when the reader has no parse limits at all (then nothing is limited anyway).
    """
    if max_objects == DEFAULT_MAX_OBJECTS:
        return reader.open(path)
    limits = getattr(_package(reader), "ParseLimits", None)
    if limits is None:
        return reader.open(path)
    return reader.open(path, parse_limits=limits(max_objects=max_objects))


def refusal(error):
    """The one-line reason for a parse-limit error of the reader, or None for any other error."""
    if type(error).__name__ != "ParseLimitError":
        return None
    detail = str(error)
    if "max_objects" in detail:
        return (f"the document holds more objects than the PSD reader parses ({detail}); "
                f"if it is a genuine document, raise the limit with {OPTION} N ({FIELD}), 0 for none")
    return f"the PSD reader refuses the document's structure ({detail}), a limit against crafted files"


def _package(reader):
    return sys.modules.get(reader.__module__.split(".")[0])
