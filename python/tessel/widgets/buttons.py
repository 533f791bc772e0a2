"""Button_ and Toggle_ groups: cc.Button, cc.Toggle, and cc.ToggleContainer over a row of toggles."""

from tessel.widgets import names
from tessel.widgets.objects import CCButton, CCToggle, CCToggleContainer


def _parts(widgets, entry, skip=()):
    """The target entry and the state frames {state: entry} of a button group."""
    pixels = [c for c in entry.children if c.is_pixel and c not in skip]
    states = {}
    for child in pixels:
        state = names.state_of(child.raw_name)
        if state and state not in states:
            states[state] = child
    framed = set(map(id, states.values()))
    plain = [c for c in pixels if id(c) not in framed]
    target = next((c for c in plain if names.is_role(c.raw_name, names.NORMAL)), plain[0] if plain else None)
    return target, states


def _make(widgets, entry, component, skip=()):
    """Fill the button keys of ``component``; returns the description, or None when the group does not fit."""
    target, states = _parts(widgets, entry, skip)
    if states and target is None:
        widgets.warn(entry, f"{type(component).__name__[2:]}_ has state images but no normal image; "
                            "exported as a plain group")
        return None
    for state in states.values():
        widgets.make_frame(state)
    if states:
        component._N_transition = CCButton.SPRITE
        widgets.refer(component, "_N_normalSprite", target.sprite, asset=True)
        for state, child in states.items():
            widgets.refer(component, f"_N_{state}Sprite", child.sprite, asset=True)
        how = "sprite " + ", ".join(sorted(states))
    else:
        component._N_transition = CCButton.SCALE
        component.zoomScale = 1.1
        # The engine scales the target about its anchor point: the centre keeps it in place.
        (target or entry).set_anchor(0.5, 0.5)
        how = "scale"
    widgets.refer(component, "_N_target", (target or entry).node)
    return f"target {target.node.name if target else '(itself)'}, transition {how}"


def button(widgets, entry, word):
    component = CCButton()
    description = _make(widgets, entry, component)
    if description is not None:
        widgets.add_component(entry, component, f"cc.Button ({description})")


def toggle(widgets, entry, word):
    mark = next((c for c in entry.children if c.is_pixel and names.is_role(c.raw_name, names.MARK)), None)
    if mark is None:
        widgets.warn(entry, "Toggle_ without a pixel layer named check, checked, mark or on; exported as a plain group")
        return
    component = CCToggle()
    description = _make(widgets, entry, component, skip=(mark,))
    if description is None:
        return
    checked = mark.layer not in widgets.hidden
    component._N_isChecked = checked
    # Nothing syncs the mark with the state when the prefab loads.
    mark.node._active = checked
    widgets.refer(component, "checkMark", mark.sprite)
    widgets.add_component(entry, component, f"cc.Toggle ({description}, mark {mark.node.name}, "
                                            f"{'checked' if checked else 'unchecked'})")


def containers(widgets, tree):
    """cc.ToggleContainer for every group of two or more children that are all toggles."""
    for entry in tree.root.walk():
        if entry.parent is None or not entry.is_group or len(entry.children) < 2:
            continue
        toggles = [next((c for c in child.components if isinstance(c, CCToggle)), None) for child in entry.children]
        if not all(toggles):
            continue
        checked = sum(t._N_isChecked for t in toggles)
        if checked == 0:
            widgets.warn(entry, "none of its toggles is checked; the engine checks the first when it starts")
        elif checked > 1:
            widgets.warn(entry, f"{checked} of its toggles are checked; the engine keeps only the first of them")
        widgets.add_component(entry, CCToggleContainer(), f"cc.ToggleContainer ({len(toggles)} toggles)")
