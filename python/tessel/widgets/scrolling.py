"""ScrollView_, List_ and ScrollPage_ groups: a masked view node, a content node, and the items laid out in it.

The shape the engine needs is ``widget > view (cc.Mask) > content > items``:
the scroll view moves ``content`` inside its parent, and a mask cannot share a
node with a sprite.  A child named view or mask gives the view's rectangle and
stays in front of the view as the scroll area's background.
"""

from tessel.widgets import arrange, names
from tessel.widgets.objects import CCLayout, CCMask, CCPageView, CCPageViewIndicator, CCScrollView, size


def _view(widgets, entry, view_layer, box):
    """Put the view and content nodes under ``entry``; returns (view, content)."""
    tree = widgets.tree
    entry.children = [view_layer] if view_layer is not None else []
    view = tree.add(entry, "view", "view")
    view.set_box(*box)
    view.components.append(CCMask())
    content = tree.add(view, "content", "content")
    return view, content


def _layout(content, kind, pads, spacing):
    layout = CCLayout()
    layout._N_layoutType = {arrange.VERTICAL: CCLayout.VERTICAL, arrange.HORIZONTAL: CCLayout.HORIZONTAL,
                            arrange.GRID: CCLayout.GRID}[kind]
    layout._N_paddingLeft, layout._N_paddingRight, layout._N_paddingTop, layout._N_paddingBottom = pads
    layout._N_spacingX, layout._N_spacingY = spacing
    layout._layoutSize = size(*content.size)
    content.components.append(layout)
    return layout


def _lay_out(kind, items, left, top, width):
    """Place the items (in layout order) as the layout will; returns (pads, spacing, content size).

    Padding is the first item's distance from the view's edge, repeated at the
    far end; spacing is the gap between the first two items.
    """
    boxes = [item.box for item in items]
    first = boxes[0]
    pad_x, pad_y = max(0, first[0] - left), max(0, top - (first[1] + first[3]))
    if kind == arrange.HORIZONTAL:
        gap = boxes[1][0] - (first[0] + first[2]) if len(boxes) > 1 else 0
        x = left + pad_x
        for item, box in zip(items, boxes):
            item.move(x - box[0], 0)
            x += box[2] + gap
        return (pad_x, pad_x, 0, 0), (gap, 0), (x - gap + pad_x - left, None)
    if kind == arrange.GRID:
        cols = arrange.columns([item.page_box for item in items])
        cw, ch = first[2], first[3]
        gap_x = boxes[1][0] - (first[0] + cw)
        below = boxes[cols] if cols < len(boxes) else None
        gap_y = (first[1] - (below[1] + below[3])) if below else 0
        pad_right = max(0, width - pad_x - cols * cw - (cols - 1) * gap_x)
        for k, (item, box) in enumerate(zip(items, boxes)):
            # The engine's grid places a row's items by their anchor's height
            # measured down from the row's top: only a centred anchor lands the box there.
            item.set_anchor(0.5, 0.5)
            row, col = divmod(k, cols)
            item.move(left + pad_x + col * (cw + gap_x) - box[0], top - pad_y - row * (ch + gap_y) - ch - box[1])
        rows = -(-len(items) // cols)
        return (pad_x, pad_right, pad_y, pad_y), (gap_x, gap_y), (width, 2 * pad_y + rows * ch + (rows - 1) * gap_y)
    gap = first[1] - (boxes[1][1] + boxes[1][3]) if len(boxes) > 1 else 0
    y = top - pad_y
    for item, box in zip(items, boxes):
        item.move(0, y - (box[1] + box[3]))
        y -= box[3] + gap
    return (0, 0, pad_y, pad_y), (0, gap), (width, top - y - gap + pad_y)


def scroll_view(widgets, entry, word):
    view_layer = next((c for c in entry.children if names.is_role(c.raw_name, names.VIEW)), None)
    items = [c for c in entry.children if c is not view_layer]
    box = view_layer.box if view_layer is not None else entry.box
    left, bottom, width, height = box
    top = bottom + height
    kind = arrange.arrangement([i.page_box for i in items], (0, 0, width, height))
    if word == "List" and items:
        ordered = arrange.order(kind, [i.page_box for i in items])
        items = [items[i] for i in ordered]
    view, content = _view(widgets, entry, view_layer, box)
    content.children = items
    for item in items:
        item.parent = content
    horizontal = kind == arrange.HORIZONTAL
    if word == "List" and items:
        pads, spacing, (cw, chh) = _lay_out(kind, items, left, top, width)
    else:
        pads = spacing = None
        boxes = [i.box for i in items]
        if horizontal:
            pad = max(0, min(b[0] for b in boxes) - left)
            cw, chh = max(b[0] + b[2] for b in boxes) - left + pad, None
        else:
            pad = max(0, top - max((b[1] + b[3] for b in boxes), default=top))
            cw, chh = width, top - min((b[1] for b in boxes), default=top) + pad
    if horizontal:
        content.node._anchorPoint.x, content.node._anchorPoint.y = 0, 0.5
        content.set_box(left, bottom, cw, height)
    else:
        content.node._anchorPoint.x, content.node._anchorPoint.y = 0.5, 1
        content.set_box(left, top - chh, width, chh)
    what = "cc.ScrollView"
    if pads is not None:
        _layout(content, kind, pads, spacing)
        what += f", cc.Layout {kind}"
    component = CCScrollView()
    component.horizontal, component.vertical = horizontal, not horizontal
    widgets.refer(component, "_N_content", content.node)
    widgets.add_component(entry, component, f"{what} ({'horizontal' if horizontal else 'vertical'}, "
                                            f"{len(items)} items, view {width}x{height})")


def _indicator(widgets, entry):
    """cc.PageViewIndicator on an indicator group of dot images, or None when it does not fit."""
    dots = list(entry.children)
    if not dots or not all(d.is_pixel for d in dots):
        widgets.warn(entry, "a page indicator holds only its dot images; exported as a plain group")
        return None
    boxes = [d.page_box for d in dots]
    kind = arrange.arrangement(boxes)
    ordered = [dots[i] for i in arrange.order(kind, boxes)]
    component = CCPageViewIndicator()
    component.direction = 1 if kind == arrange.VERTICAL and len(dots) > 1 else 0
    first = ordered[0].box
    component.cellSize = size(first[2], first[3])
    if len(ordered) > 1:
        second = ordered[1].box
        component.spacing = max(0, second[0] - first[0] - first[2]) if component.direction == 0 else \
            max(0, first[1] - second[1] - second[3])
    # The engine makes the dots at run time, centred on the indicator's anchor point.
    entry.set_anchor(0.5, 0.5)
    for dot in dots:
        widgets.make_frame(dot)
    widgets.refer(component, "spriteFrame", ordered[0].sprite, asset=True)
    widgets.add_component(entry, component, f"cc.PageViewIndicator ({len(dots)} dot images)")
    return component


def page_view(widgets, entry, word):
    view_layer = next((c for c in entry.children if names.is_role(c.raw_name, names.VIEW)), None)
    indicator = next((c for c in entry.children if c.is_group and names.is_role(c.raw_name, names.INDICATOR)), None)
    pages = [c for c in entry.children if c is not view_layer and c is not indicator]
    if not pages:
        widgets.warn(entry, "ScrollPage_ without pages; exported as a plain group")
        return
    pages = [pages[i] for i in arrange.order(arrange.HORIZONTAL, [p.page_box for p in pages])]
    box = view_layer.box if view_layer is not None else pages[0].box
    left, bottom, width, height = box
    view, content = _view(widgets, entry, view_layer, box)
    if indicator is not None:
        entry.children.append(indicator)
    content.children = pages
    # Pages sit edge to edge, one view apart: page i shows at scroll offset i views.
    for i, page in enumerate(pages):
        page.parent = content
        pl, pb, pw, ph = page.box
        shift = (left + i * width + width / 2 - (pl + pw / 2), bottom + height / 2 - (pb + ph / 2))
        for child in page.children:
            child.move(*shift)
        page.set_box(left + i * width, bottom, width, height) if page.is_group else page.move(*shift)
    content.node._anchorPoint.x, content.node._anchorPoint.y = 0, 0.5
    content.set_box(left, bottom, width * len(pages), height)
    _layout(content, arrange.HORIZONTAL, (0, 0, 0, 0), (0, 0))
    component = CCPageView()
    widgets.refer(component, "_N_content", content.node)
    made = _indicator(widgets, indicator) if indicator is not None else None
    widgets.refer(component, "_N_indicator", made)
    widgets.add_component(entry, component, f"cc.PageView ({len(pages)} pages, view {width}x{height}"
                                            f"{', indicator' if made else ''})")
