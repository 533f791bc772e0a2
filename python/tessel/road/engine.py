"""The Creator runtimes a prefab is written for, and the node fields each of them reads.

The 2.0 and 2.1 runtimes place a node by its "_position" and "_scale".  From 2.2
on the runtime reads position, rotation and scale only from "_trs", a typed
array [px, py, pz, qx, qy, qz, qw, sx, sy, sz], and rebuilds its quaternion from
"_eulerAngles"; it ignores "_position" and "_scale", so a node without "_trs"
loads at (0, 0).  The older runtimes ignore "_trs", so a node carrying both sets
of fields loads in the same place in every 2.x runtime.

The 3.x runtimes (3.8 is their long-term line) read another form altogether:
sizes and anchors in a cc.UITransform, position, rotation and scale in "_lpos",
"_lrot", "_lscale" and "_euler", and metas with sub-assets.  That form is
translated from the finished 2.x object list just before writing (tessel.road.cc3).
"""

import math

#: The runtimes an export can be written for, with the Creator versions each serves.
ENGINES = {
    "2.1": "Creator 2.0 and 2.1",
    "2.4": "Creator 2.0 to 2.4",
    "3.8": "Creator 3.8",
}
DEFAULT_ENGINE = "2.1"

#: ExportOptions fields whose output has no 3.x form yet, with the flag that names
#: them: such a combination is refused before anything is written.  The CLI checks
#: its parsed arguments (same names) against this table too; a field an options
#: object lacks counts as off.
NOT_CARRIED = {
    "3.8": {"components": "--components", "library": "--library", "share": "--share", "fonts": "--fonts",
            "font_map": "--font-map", "text_effects": "--text-effects"},
}


def check_engine(engine):
    """``engine`` when it is one of :data:`ENGINES`; a ValueError naming the choices otherwise."""
    if not isinstance(engine, str) or engine not in ENGINES:
        raise ValueError(f"unknown engine {engine!r}: use one of {', '.join(ENGINES)}")
    return engine


def check_options(options):
    """Refuse, with a ValueError of one line, export options that ``options.engine`` cannot carry."""
    engine = check_engine(options.engine)
    for name, flag in NOT_CARRIED.get(engine, {}).items():
        if getattr(options, name, None):
            raise ValueError(f"{flag} is not written in the Creator {engine} form yet: "
                             f"export without it, or with --engine 2.4")
    return options


def is_3x(engine):
    """Whether ``engine`` is a 3.x runtime, whose prefabs and metas have the 3.x form."""
    return check_engine(engine).startswith("3.")


def reads_trs(engine):
    """Whether the runtime of ``engine`` places nodes by "_trs" rather than "_position"."""
    return check_engine(engine) == "2.4"


def merge_refusal(engine, prefab_exists):
    """The one-line reason a re-export for ``engine`` cannot merge into an existing prefab, or None.

    Merging keeps the game team's edits of a prefab by reading it back, which only
    the 2.x form can do so far: a 3.x prefab has to be written afresh.
    """
    if prefab_exists and is_3x(engine):
        return (f"the Creator {engine} prefab here differs from this export and is not merged with it yet: "
                "writing over it would lose what the game team changed in it")
    return None


def apply_engine(psd, engine):
    """Give every node of the document's object list the fields the runtime of ``engine`` reads.

    Runs after fixPosition, which sets the positions the nodes write; for the
    default engine and the 3.x ones (translated later, from the 2.1 fields) it
    changes nothing.
    """
    if not reads_trs(engine):
        return
    from tessel import nodeweave

    for obj in psd.totalInfo:
        if isinstance(obj, nodeweave.CCNode):
            set_transform(obj)


def set_transform(node):
    """Set the node's "_trs" and "_eulerAngles" from the position, rotation and scale it writes."""
    from tessel import nodeweave

    position, quat, scale = node._localPosition, node._quat, node._scale
    # "_position" is written without z: the node lies in its parent's plane.
    node._trs = nodeweave.CCTypedArray("Float64Array", [
        position.x, position.y, 0,
        quat.x, quat.y, quat.z, quat.w,
        scale.x, scale.y, scale.z,
    ])
    node._eulerAngles = nodeweave.CCVec3(*euler_angles(quat.x, quat.y, quat.z, quat.w))


def euler_angles(x, y, z, w):
    """The rotation of the quaternion (x, y, z, w) as the engine's Euler angles, in degrees.

    The 2.2+ runtime rebuilds the quaternion in "_trs" from these, so they must
    describe the same rotation.  No rotation gives integer zeros, as the engine
    writes them.
    """
    if x == y == z == 0:
        return (0, 0, 0)
    if x == y == 0:
        # A turn in the plane: a 2D node draws by the z angle alone, so it must not
        # be spread over x and y as the general form does past 90 degrees.
        return (0, 0, math.degrees(2 * math.atan2(z, w)))
    test = x * y + z * w
    if abs(test) > 0.499999:  # facing straight up or down: only one angle is free
        sign = 1 if test > 0 else -1
        return (0, sign * math.degrees(2 * math.atan2(x, w)), sign * 90)
    bank = math.atan2(2 * (x * w - y * z), 1 - 2 * (x * x + z * z))
    heading = math.atan2(2 * (y * w - x * z), 1 - 2 * (y * y + z * z))
    attitude = math.asin(2 * test)
    return (math.degrees(bank), math.degrees(heading), math.degrees(attitude))
