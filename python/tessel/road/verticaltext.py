"""Vertical text: the engine's label lays text out in rows only, so the export names such layers."""

from tessel.errors import layer_label

#: The text engine's writing direction of vertical text (0 is horizontal).
VERTICAL = 2


def vertical_text_layers(group, prefix=""):
    """(path, layer-info) of every text layer below ``group`` written vertically, in document order."""
    from tessel import infos

    for child in group:
        path = f"{prefix}/{layer_label(child)}" if prefix else layer_label(child)
        if isinstance(child, infos.YGroup):
            yield from vertical_text_layers(child, path)
        elif isinstance(child, infos.YTextLayer) and getattr(child, "WritingDirection", 0) == VERTICAL:
            yield path, child


def vertical_text_warning(psd):
    """The one warning line naming the vertical text layers of ``psd``, or None when it has none."""
    paths = [path for path, _ in vertical_text_layers(psd)]
    if not paths:
        return None
    return ("vertical text is exported as horizontal labels (the engine's label has no vertical layout): "
            + ", ".join(repr(path) for path in paths))
