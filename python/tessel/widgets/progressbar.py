"""ProgressBar_ groups: cc.ProgressBar with the bar written as it must look at its designed progress."""

from tessel.widgets import names
from tessel.widgets.objects import CCProgressBar


def progress_bar(widgets, entry, word):
    pixels = [c for c in entry.children if c.is_pixel]
    bar = next((c for c in pixels if names.is_role(c.raw_name, names.BAR)), None)
    if bar is None:
        widgets.warn(entry, "ProgressBar_ without a pixel layer named bar, fill or progress; exported as a plain group")
        return
    track = next((c for c in pixels if c is not bar), None)
    tleft, tbottom, twidth, theight = (track or entry).box
    left, bottom, width, height = bar.box
    component = CCProgressBar()
    # The bar's length at progress 1 is the track's length inside the margin the
    # bar keeps at its start; the designed bar shows the designed progress.
    if twidth >= theight:
        component._N_mode = CCProgressBar.HORIZONTAL
        total = twidth - 2 * max(0, left - tleft)
        length = width
        bar.set_anchor(0, 0.5)
    else:
        component._N_mode = CCProgressBar.VERTICAL
        total = theight - 2 * max(0, bottom - tbottom)
        length = height
        bar.set_anchor(0.5, 0)
    if total <= 0:
        total = length
    component._N_totalLength = total
    component._N_progress = round(min(1.0, length / total), 6) if total else 1
    # The runtime resizes the bar node; a trimmed sprite would snap back to its frame.
    bar.sprite._sizeMode = 0
    widgets.refer(component, "_N_barSprite", bar.sprite)
    mode = "horizontal" if component._N_mode == CCProgressBar.HORIZONTAL else "vertical"
    widgets.add_component(entry, component, f"cc.ProgressBar (bar {bar.node.name}, {mode}, "
                                            f"length {total}, progress {component._N_progress:g})")
