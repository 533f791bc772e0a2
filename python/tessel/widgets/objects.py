"""The engine's widget components as prefab objects: cc.Button, cc.Toggle, cc.ProgressBar, cc.ScrollView, ...

Each class lists the JSON keys in the order the engine's serializer writes
them, each with the field that holds its value.  Fields follow the prefab
objects' convention ("_N$x" is held in ``_N_x``); a key the runtime reads under
an old name (``transition`` for ``_N$transition``, ``content`` for
``_N$content``, ...) is written twice from one field, as the editor does, since
the runtime reads only the old name and the editor writes both.

Fields that point at other objects hold the reference dictionaries; the widget
pass fills them once the objects are numbered.
"""

from tessel import nodeweave


def color(r, g, b, a=255):
    """A cc.Color value."""
    value = nodeweave.CCColor()
    value.r, value.g, value.b, value.a = r, g, b, a
    return value


def size(width, height):
    """A cc.Size value."""
    value = nodeweave.CCSize()
    value.width, value.height = width, height
    return value


class Detached:
    """The layer of an object the widget pass adds: no parent, no objects of its own.

    The id pass wires nodes and components through their layer's objects; an
    added object has none there, so the pass leaves its references to the
    widget pass.
    """

    parent = None

    def __init__(self, name=""):
        self.name = name
        self.infolist = []


class Widget(nodeweave.CCComponent):
    """A component written from its KEYS table after the component frame."""

    KEYS = ()

    def __init__(self):
        super().__init__()
        self.layer = Detached()

    def fixdata(self, data):
        super().fixdata(data)
        for key, name in self.KEYS:
            data[key] = getattr(self, name)


def _keys(*names):
    """(key, field) pairs: "_N$x" is held in "_N_x", and "a=b" writes key a from field b."""
    pairs = []
    for name in names:
        key, _, held = name.partition("=")
        pairs.append((key, (held or key).replace("$", "_")))
    return tuple(pairs)


class CCButton(Widget):
    """cc.Button: touches on its own node, transition on the target node."""

    cctype = "cc.Button"
    NONE, COLOR, SPRITE, SCALE = 0, 1, 2, 3
    KEYS = _keys(
        "_normalMaterial", "_grayMaterial", "duration", "zoomScale", "clickEvents",
        "_N$interactable", "_N$enableAutoGrayEffect", "_N$transition", "transition=_N$transition",
        "_N$normalColor", "_N$pressedColor", "pressedColor=_N$pressedColor",
        "_N$hoverColor", "hoverColor=_N$hoverColor", "_N$disabledColor",
        "_N$normalSprite", "_N$pressedSprite", "pressedSprite=_N$pressedSprite",
        "_N$hoverSprite", "hoverSprite=_N$hoverSprite", "_N$disabledSprite", "_N$target",
    )

    def __init__(self):
        super().__init__()
        self._normalMaterial = None
        self._grayMaterial = None
        self.duration = 0.1
        self.zoomScale = 1.2
        self.clickEvents = []
        self._N_interactable = True
        self._N_enableAutoGrayEffect = False
        self._N_transition = self.NONE
        # Written always: the runtime's default turned from grey (214) to white with 2.2.
        self._N_normalColor = color(255, 255, 255)
        self._N_pressedColor = color(211, 211, 211)
        self._N_hoverColor = color(255, 255, 255)
        self._N_disabledColor = color(124, 124, 124)
        self._N_normalSprite = None
        self._N_pressedSprite = None
        self._N_hoverSprite = None
        self._N_disabledSprite = None
        self._N_target = None


class CCToggle(CCButton):
    """cc.Toggle: a button whose check mark node is shown while it is checked."""

    cctype = "cc.Toggle"
    KEYS = CCButton.KEYS + _keys("_N$isChecked", "toggleGroup", "checkMark", "checkEvents")

    def __init__(self):
        super().__init__()
        self._N_isChecked = True
        self.toggleGroup = None
        self.checkMark = None
        self.checkEvents = []


class CCToggleContainer(Widget):
    """cc.ToggleContainer: at most one of the toggles among its node's children is checked."""

    cctype = "cc.ToggleContainer"
    KEYS = _keys("allowSwitchOff", "checkEvents")

    def __init__(self):
        super().__init__()
        self.allowSwitchOff = False
        self.checkEvents = []


class CCProgressBar(Widget):
    """cc.ProgressBar; nothing recomputes the bar at load, so the bar node is written as it must look."""

    cctype = "cc.ProgressBar"
    HORIZONTAL, VERTICAL = 0, 1
    KEYS = _keys("_N$totalLength", "_N$barSprite", "_N$mode", "_N$progress", "_N$reverse")

    def __init__(self):
        super().__init__()
        self._N_totalLength = 1
        self._N_barSprite = None
        self._N_mode = self.HORIZONTAL
        self._N_progress = 1
        self._N_reverse = False


class CCScrollView(Widget):
    """cc.ScrollView: moves ``content`` inside its parent, the view."""

    cctype = "cc.ScrollView"
    KEYS = _keys(
        "horizontal", "vertical", "inertia", "brake", "elastic", "bounceDuration", "scrollEvents",
        "cancelInnerEvents", "_N$content", "content=_N$content", "_N$horizontalScrollBar", "_N$verticalScrollBar",
    )

    def __init__(self):
        super().__init__()
        self.horizontal = False
        self.vertical = True
        self.inertia = True
        self.brake = 0.75
        self.elastic = True
        self.bounceDuration = 0.23
        self.scrollEvents = []
        self.cancelInnerEvents = True
        self._N_content = None
        self._N_horizontalScrollBar = None
        self._N_verticalScrollBar = None


class CCPageView(CCScrollView):
    """cc.PageView: the children of ``content`` are its pages, one view wide each."""

    cctype = "cc.PageView"
    KEYS = CCScrollView.KEYS + _keys(
        "scrollThreshold", "autoPageTurningThreshold", "pageTurningEventTiming", "pageTurningSpeed",
        "pageEvents", "_N$sizeMode", "_N$direction", "_N$indicator",
    )

    def __init__(self):
        super().__init__()
        self.horizontal = True
        self.vertical = False
        self.brake = 0.5
        self.bounceDuration = 0.5
        self.scrollThreshold = 0.5
        self.autoPageTurningThreshold = 100
        self.pageTurningEventTiming = 0.1
        self.pageTurningSpeed = 0.3
        self.pageEvents = []
        self._N_sizeMode = 0
        self._N_direction = 0
        self._N_indicator = None


class CCPageViewIndicator(Widget):
    """cc.PageViewIndicator: makes one dot per page at run time, all from one sprite frame."""

    cctype = "cc.PageViewIndicator"
    KEYS = _keys("_layout", "_pageView", "_indicators", "spriteFrame", "direction", "cellSize", "spacing")

    def __init__(self):
        super().__init__()
        self._layout = None
        self._pageView = None
        self._indicators = []
        self.spriteFrame = None
        self.direction = 0
        self.cellSize = size(20, 20)
        self.spacing = 0


class CCMask(Widget):
    """cc.Mask: clips its node's subtree to the node's rectangle."""

    cctype = "cc.Mask"
    KEYS = _keys("_spriteFrame", "_type", "_segments", "_N$alphaThreshold", "_N$inverted")

    def __init__(self):
        super().__init__()
        self._spriteFrame = None
        self._type = 0
        self._segments = 64
        self._N_alphaThreshold = 0.1
        self._N_inverted = False


class CCLayout(Widget):
    """cc.Layout: lays its node's children out along one axis, or in a grid."""

    cctype = "cc.Layout"
    HORIZONTAL, VERTICAL, GRID = 1, 2, 3
    KEYS = _keys(
        "_layoutSize", "_resize", "_N$layoutType", "_N$cellSize", "_N$startAxis",
        "_N$paddingLeft", "_N$paddingRight", "_N$paddingTop", "_N$paddingBottom",
        "_N$spacingX", "_N$spacingY", "_N$verticalDirection", "_N$horizontalDirection", "_N$affectedByScale",
    )

    def __init__(self):
        super().__init__()
        self._layoutSize = size(300, 200)
        self._resize = 1  # CONTAINER: the content grows with its items, so it scrolls
        self._N_layoutType = 0
        self._N_cellSize = size(40, 40)
        self._N_startAxis = 0
        self._N_paddingLeft = 0
        self._N_paddingRight = 0
        self._N_paddingTop = 0
        self._N_paddingBottom = 0
        self._N_spacingX = 0
        self._N_spacingY = 0
        self._N_verticalDirection = 1
        self._N_horizontalDirection = 0
        self._N_affectedByScale = False
