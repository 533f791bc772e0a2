"""Which layers of a PSD the export turns into nodes, read from psd-tools' layers."""

from __future__ import annotations

from typing import Optional

# The layer-name prefix that drops a layer and everything below it from the export.
NOT_EXPORT = "NotExport"


def layer_kind(layer) -> Optional[str]:
    """"group", "text" or "pixel" for the layers the export turns into nodes, else None."""
    from psd_tools.api.layers import Group, PixelLayer, TypeLayer

    if isinstance(layer, Group):
        return "group"
    if isinstance(layer, TypeLayer):
        return "text"
    if isinstance(layer, PixelLayer):
        return "pixel"
    return None


def is_exported(layer) -> bool:
    """Whether the export makes a node of ``layer``: shown, not "NotExport", of a known kind, and so are its groups."""
    while layer is not None and layer_kind(layer) is not None:
        if not layer.visible or str(layer.name).startswith(NOT_EXPORT):
            return False
        parent = getattr(layer, "parent", None)
        if parent is None or layer_kind(parent) is None:
            return True
        layer = parent
    return False


def exported_children(group) -> list:
    """The children of a document or group that the export keeps, in document order."""
    return [child for child in group if child.visible and not str(child.name).startswith(NOT_EXPORT) and layer_kind(child)]
