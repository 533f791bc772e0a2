"""How designed items are arranged: along a column, along a row, or in a grid.

Boxes are (left, top, width, height) with y growing downwards, as the document
measures them; only differences between boxes matter, so any origin will do.
"""

VERTICAL, HORIZONTAL, GRID = "vertical", "horizontal", "grid"


def _bands(spans):
    """How many bands the (start, end) spans form when overlapping spans share one."""
    bands = 0
    end = None
    for start, stop in sorted(spans):
        if end is None or start >= end:
            bands += 1
            end = stop
        else:
            end = max(end, stop)
    return bands


def arrangement(boxes, view=None):
    """VERTICAL, HORIZONTAL or GRID for the item boxes.

    Items in several rows and several columns, more of them than rows or
    columns, form a grid; items side by side in one row run horizontally; all
    else runs vertically.  A single item follows the view's longer side.
    """
    if len(boxes) < 2:
        if view is not None and view[2] > view[3]:
            return HORIZONTAL
        return VERTICAL
    rows = _bands([(b[1], b[1] + b[3]) for b in boxes])
    cols = _bands([(b[0], b[0] + b[2]) for b in boxes])
    if rows > 1 and cols > 1 and len(boxes) > max(rows, cols):
        return GRID
    if rows == 1 and cols > 1:
        return HORIZONTAL
    return VERTICAL


def order(kind, boxes):
    """The item indices in the order a layout places them: top to bottom, left to right, rows of a grid."""
    indices = range(len(boxes))
    if kind == HORIZONTAL:
        return sorted(indices, key=lambda i: (boxes[i][0], boxes[i][1]))
    if kind == GRID:
        first = sorted(indices, key=lambda i: (boxes[i][1], boxes[i][0]))
        rows = []
        for i in first:
            if rows and boxes[i][1] < boxes[rows[-1][0]][1] + boxes[rows[-1][0]][3]:
                rows[-1].append(i)
            else:
                rows.append([i])
        return [i for row in rows for i in sorted(row, key=lambda i: boxes[i][0])]
    return sorted(indices, key=lambda i: (boxes[i][1], boxes[i][0]))


def columns(boxes):
    """How many items of a grid (in layout order) share the first row."""
    top, height = boxes[0][1], boxes[0][3]
    count = 1
    while count < len(boxes) and boxes[count][1] < top + height and boxes[count][0] > boxes[count - 1][0]:
        count += 1
    return count
