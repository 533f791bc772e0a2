"""What the preview draws for engine widgets: masks clip, page indicators show their run-time dots.

Every other widget draws as its nodes do: a button its target in the normal
state, a toggle its check mark when checked, a progress bar its bar as written.
"""



def clip(node, height):
    """The pixel box (left, top, right, bottom) a node is clipped to: its own with a cc.Mask, else its parent's."""
    outer = node.parent.clip if node.parent is not None else None
    if "cc.Mask" not in node.parts:
        return outer
    x0, y0, x1, y1 = node.box
    own = (x0, height - y1, x1, height - y0)
    if outer is None:
        return own
    return (max(own[0], outer[0]), max(own[1], outer[1]), min(own[2], outer[2]), min(own[3], outer[3]))


def count_dots(nodes, objects):
    """Tell each page indicator node how many pages its cc.PageView has: one dot per page at run time."""
    by_index = {node.index: node for node in nodes}
    for node in nodes:
        pager = node.parts.get("cc.PageView")
        if pager is None:
            continue
        content = by_index.get((pager.get("content") or {}).get("__id__"))
        indicator = (pager.get("_N$indicator") or {}).get("__id__")
        if content is None or not isinstance(indicator, int) or not 0 <= indicator < len(objects):
            continue
        owner = by_index.get((objects[indicator].get("node") or {}).get("__id__"))
        if owner is not None:
            owner.dots = len(content.children)


def dots(layout, node):
    """(sprite, pixel box, opacity) per dot of a page indicator, laid out as the engine lays them out.

    The engine's layout centres the row (or column) of dots on the indicator's
    anchor point; the first page's dot is opaque, the others half transparent.
    """
    indicator = node.parts.get("cc.PageViewIndicator")
    if indicator is None or not node.dots:
        return []
    cell = indicator.get("cellSize") or {}
    w, h = float(cell.get("width", 20)), float(cell.get("height", 20))
    spacing = float(indicator.get("spacing", 0))
    vertical = indicator.get("direction", 0) == 1
    count = node.dots
    total = count * (h if vertical else w) + (count - 1) * spacing
    cx, cy = node.world[0], layout.height - node.world[1]
    sprite = {"_spriteFrame": indicator.get("spriteFrame"), "_type": 0}
    out = []
    for i in range(count):
        if vertical:
            # The column runs top to bottom, as the engine's vertical layout does.
            box = (cx - w / 2, cy - total / 2 + i * (h + spacing), w, h)
        else:
            box = (cx - total / 2 + i * (w + spacing), cy - h / 2, w, h)
        out.append((sprite, box, node.opacity * (1 if i == 0 else 0.5)))
    return out


def composite_clipped(canvas, layer, box):
    """Composite the part of ``layer`` inside ``box`` onto ``canvas``."""
    left, top = max(0, round(box[0])), max(0, round(box[1]))
    right, bottom = min(canvas.width, round(box[2])), min(canvas.height, round(box[3]))
    if right <= left or bottom <= top:
        return
    canvas.alpha_composite(layer.crop((left, top, right, bottom)), dest=(left, top))




def pairs(group, layers, node):
    """The exported layers of a PSD group and the nodes that show them, in step, for `tessel check`.

    A widget's node tree differs from its group: state images and indicator
    dots have no node, a hidden check mark has an inactive one, and the items
    of a scroll view or list sit inside its view and content nodes, in the
    order the layout places them.
    """
    from tessel.widgets import arrange, names

    kids = [child for child in node.children if child.active]
    parts = node.parts
    if "cc.PageViewIndicator" in parts:
        return [], []
    if "cc.Button" in parts or "cc.Toggle" in parts:
        pixels = [layer for layer in layers if layer.kind == "pixel"]
        mark = next((p for p in pixels if names.is_role(p.name, names.MARK)), None) if "cc.Toggle" in parts else None
        frames, seen = set(), set()
        for layer in pixels:
            state = names.state_of(layer.name) if layer is not mark else None
            if state and state not in seen:
                seen.add(state)
                frames.add(id(layer))
        return [layer for layer in layers if id(layer) not in frames], kids
    pager = parts.get("cc.ScrollView") or parts.get("cc.PageView")
    if pager is None:
        return layers, kids
    content = next((n for n in _below(node) if n.index == (pager.get("content") or {}).get("__id__")), None)
    if content is None or content.parent is None:
        return layers, kids
    view = content.parent
    at = kids.index(view) if view in kids else len(kids)
    kids = kids[:at] + content.children + kids[at + 1:]
    view_layer = next((layer for layer in layers if names.is_role(layer.name, names.VIEW)), None)
    indicator = None
    if "cc.PageView" in parts:
        indicator = next((layer for layer in layers if layer.kind == "group"
                          and names.is_role(layer.name, names.INDICATOR)), None)
    items = [layer for layer in layers if layer is not view_layer and layer is not indicator]
    boxes = [(layer.left, layer.top, layer.width, layer.height) for layer in items]
    if "cc.PageView" in parts:
        items = [items[i] for i in arrange.order(arrange.HORIZONTAL, boxes)]
    elif names.widget_word(group.name) == "List" and items:
        view = view_layer or group
        kind = arrange.arrangement(boxes, (view.left, view.top, view.width, view.height))
        items = [items[i] for i in arrange.order(kind, boxes)]
    return [view_layer] * (view_layer is not None) + items + [indicator] * (indicator is not None), kids


def _below(node):
    for child in node.children:
        yield child
        yield from _below(child)
