"""Errors of the export road and their one-line accounts."""

import os
import unicodedata


class DocumentError(Exception):
    """A document that cannot be exported or shown; ``layer`` names the layer when known."""

    def __init__(self, message, layer=None):
        super().__init__(message)
        self.layer = layer


def one_line(text):
    """``text`` with line breaks and other control characters made visible, on one line.

    Beyond the ASCII controls this covers DEL and the C1 controls (U+0085 is a
    line break to many readers, U+009B starts a terminal escape), the Unicode
    line and paragraph separators, and lone surrogates: all of them can come
    from a layer name or a file name.
    """
    return "".join(repr(ch)[1:-1] if _breaks_line(ch) else ch for ch in str(text))


def _breaks_line(ch):
    return ch != "\t" and unicodedata.category(ch) in ("Cc", "Zl", "Zp", "Cs")


def describe(e):
    """A one-line account of an exception, with the notes the modules attach."""
    if isinstance(e, DocumentError):
        text = str(e)
    elif isinstance(e, OSError) and e.strerror:
        text = e.strerror + (f": {e.filename}" if e.filename is not None else "")
    else:
        detail = str(e)
        text = f"{type(e).__name__}: {detail}" if detail else type(e).__name__
    notes = [str(note) for note in getattr(e, "__notes__", ())]
    if notes:
        text += " [" + "; ".join(notes) + "]"
    return one_line(text)


def layer_label(layer):
    """A layer's name for a message line, or "?" when it cannot be read."""
    try:
        return one_line(layer.name)
    except Exception:
        return "?"


def error_line(prog, path, error):
    """The one line that reports ``error`` for the document at ``path``."""
    text = f"{prog}: error: {one_line(os.fspath(path))}: {describe(error)}"
    layer = getattr(error, "layer", None)
    if layer is not None:
        text += f" [layer {layer_label(layer)}]"
    return text
