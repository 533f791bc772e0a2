"""The document as the tree builder reads it with --all-layers and --styles.

The builder knows three kinds of reader layer: groups, type layers and pixel
layers; it leaves every other kind out with its "unknown type" line.  With the
options on, the export hands it a view of the document instead: groups whose
children are views too, and, in place of each layer that should become a
sprite, a :class:`Sprite`, a pixel layer whose box and image are the ones the
options ask for.  Everything else the builder reads (name, visibility, id,
opacity) comes from the layer's own record, so names, image names, metas and
nine-slice names are made exactly as for a pixel layer.  Without the options
the builder reads the document itself, unchanged.
"""

import sys

from tessel import infos
from tessel.road import styles


def _reader():
    # The reader module whose classes the builder tests against, so that a view
    # passes the same isinstance checks as the layers it stands for.
    return sys.modules[infos.PixelLayer.__module__]


def sprite_kind(layer):
    """Whether ``layer`` is of a kind that --all-layers makes a sprite: shape, smart object or fill."""
    reader = _reader()
    return isinstance(layer, (reader.ShapeLayer, reader.SmartObjectLayer, reader.FillLayer))


def document_view(psdimage, options):
    """What the builder should read for ``psdimage`` under ``options`` (the document itself when no option is on)."""
    if options is None or not (options.all_layers or options.styles):
        return psdimage
    return _view_of(psdimage, options)


def _bare_copy(cls, origin):
    # A view shares the origin's record and channels (its __dict__), so every
    # property it does not override reads what the origin reads.
    view = cls.__new__(cls)
    view.__dict__.update(origin.__dict__)
    view._origin = origin
    return view


class _Children:
    """Mixed into a copy of a group or document: iteration yields the views of its children."""

    def _views(self):
        if self._children is None:
            self._children = _child_views(self._origin, self._options)
        return self._children

    def __iter__(self):
        return iter(self._views())

    def __len__(self):
        return len(self._views())


_GROUP_VIEWS = {}


def _view_of(group, options):
    cls = type(group)
    if cls not in _GROUP_VIEWS:
        # Named like the origin's class, so its `kind` reads the same.
        _GROUP_VIEWS[cls] = type(cls.__name__, (_Children, cls), {"__module__": __name__})
    view = _bare_copy(_GROUP_VIEWS[cls], group)
    view._options = options
    view._children = None
    # A group's box is the union of its children's; computed afresh from the
    # views, it holds what an effect adds around a child.
    view._bbox = None
    return view


def _child_views(group, options):
    reader = _reader()
    views = []
    for layer in group:
        if isinstance(layer, reader.Group) and _becomes_sprite(layer, options):
            views.append(_rendered(layer, clipped=True))
        elif isinstance(layer, reader.Group):
            views.append(_view_of(layer, options))
        elif options.styles and layer.clipping and _merged(layer, options):
            continue
        elif _becomes_sprite(layer, options):
            views.append(_sprite(layer, options))
        else:
            views.append(layer)
    return views


def _becomes_sprite(layer, options):
    reader = _reader()
    if isinstance(layer, reader.Group):
        # A group Photoshop draws effects or clipped layers on is one image:
        # its effects trace, and its clipped layers clip to, all of it at once.
        return options.styles and styles.styled_group(layer)
    if isinstance(layer, reader.PixelLayer):
        return options.styles
    return options.all_layers and sprite_kind(layer)


def _merged(clipped, options):
    # A clipped layer goes into the image of the layer it clips to when that
    # layer becomes a sprite; above a type layer or a group, which make no
    # image, it stays a node of its own.
    base = _base_of(clipped)
    return base is not None and base.is_visible() and styles.exported_name(base) and _becomes_sprite(base, options)


def _base_of(clipped):
    siblings = list(clipped.parent)
    for layer in reversed(siblings[: siblings.index(clipped)]):
        if not layer.clipping:
            return layer
    return None


def _artboard(layer):
    """The box of the artboards ``layer`` lies in (Photoshop shows nothing of it outside), or None."""
    frame = None
    up = getattr(layer, "parent", None)
    while up is not None:
        if getattr(up, "kind", None) == "artboard":
            frame = tuple(up.bbox) if frame is None else styles.intersection(frame, up.bbox)
        up = getattr(up, "parent", None)
    return frame


def _sprite(layer, options):
    """What the builder reads for ``layer``, which becomes a sprite: a view with its box and image."""
    if options.styles and styles.changes_pixels(layer):
        return _rendered(layer, clipped=True)
    frame = _artboard(layer)
    if options.styles and frame is not None and styles.intersection(frame, layer.bbox) != tuple(layer.bbox):
        return _rendered(layer, clipped=False)
    if isinstance(layer, _reader().PixelLayer):
        # Shown as it is stored: the layer itself, exactly as without the options.
        return layer
    if layer.has_pixels():
        return Sprite(layer, layer.bbox, None)
    # A shape or fill layer Photoshop stored no pixels for: psd-tools draws it.
    return _rendered(layer, clipped=False)


def _rendered(layer, clipped):
    frame = _artboard(layer)
    box = tuple(layer.bbox) if frame is None else styles.intersection(frame, layer.bbox)
    empty = box[0] >= box[2] or box[1] >= box[3]
    margin = styles.reach(layer)

    def draw(viewport):
        return styles.render(layer, viewport, clipped)

    if not empty and margin == 0:
        return Sprite(layer, box, draw)
    # The image may reach past the layer's box (an outside stroke, a shadow), or
    # the layer has no box at all (a fill over the whole document, which is what
    # psd-tools draws on without a viewport): draw it on a larger canvas once,
    # and the box becomes what was painted, never less than the layer's own.
    canvas = None if empty else (box[0] - margin, box[1] - margin, box[2] + margin, box[3] + margin)
    if frame is not None:
        canvas = frame if canvas is None else styles.intersection(canvas, frame)
    image = draw(canvas)
    origin = (0, 0) if canvas is None else canvas[:2]
    painted = styles.painted_box(image, origin) if image is not None else None
    grown = painted if empty else styles.union(box, painted)
    if grown is None:
        return Sprite(layer, box, lambda viewport: None)
    crop = (grown[0] - origin[0], grown[1] - origin[1], grown[2] - origin[0], grown[3] - origin[1])
    return Sprite(layer, grown, draw, image.crop(crop))


class Sprite(infos.PixelLayer):
    """A layer of any kind, read by the tree builder as a pixel layer with a given box and image.

    ``draw(box)`` renders the image for ``box``; None means the origin's stored
    pixels.  ``image``, when given, is the first image handed out.
    """

    def __init__(self, origin, box, draw, image=None):
        self.__dict__.update(origin.__dict__)
        self._origin = origin
        self._box = tuple(int(v) for v in box)
        self._draw = draw
        self._ready = image

    @property
    def kind(self):
        return self._origin.kind

    @property
    def bbox(self):
        return self._box

    @property
    def left(self):
        return self._box[0]

    @property
    def top(self):
        return self._box[1]

    @property
    def right(self):
        return self._box[2]

    @property
    def bottom(self):
        return self._box[3]

    @property
    def width(self):
        return self._box[2] - self._box[0]

    @property
    def height(self):
        return self._box[3] - self._box[1]

    @property
    def size(self):
        return self.width, self.height

    @property
    def offset(self):
        return self.left, self.top

    def topil(self, channel=None, apply_icc=True):
        """The sprite's image: the one drawn when the view was made (handed out once), else drawn now."""
        if self._draw is None:
            return self._origin.topil(channel, apply_icc)
        image, self._ready = self._ready, None
        if image is None:
            image = self._draw(self._box)
        return image


def shown(layer, options):
    """Whether an export under ``options`` shows reader layer ``layer``, as a node or merged into its base."""
    if not layer.is_visible():
        return False
    up = layer
    while up is not None:
        if not styles.exported_name(up):
            return False
        up = getattr(up, "parent", None)
    if options.styles and layer.clipping and _merged(layer, options):
        return True
    reader = _reader()
    if isinstance(layer, (reader.Group, reader.TypeLayer, reader.PixelLayer)):
        return True
    return options.all_layers and sprite_kind(layer)


def effect_warnings(document, options):
    """One line for each effect of an exported layer that its sprite will not show (with --styles)."""
    if options is None or not options.styles:
        return []
    document = getattr(document, "_origin", document)
    reader = _reader()
    lines = []
    for layer in document.descendants():
        if not shown(layer, options) or not _becomes_sprite(layer, options):
            continue
        if layer.clipping and _merged(layer, options):
            continue
        if styles.changes_pixels(layer):
            lines += styles.undrawn_effects(layer)
    return lines
