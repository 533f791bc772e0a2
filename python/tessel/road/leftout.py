"""The layers an export left out, counted by kind, and what the summary line says of them."""

import ast

#: Kinds --all-layers turns into sprites (psd-tools' `kind` names).
SPRITE_KINDS = frozenset({"shape", "smartobject", "solidcolorfill", "gradientfill", "patternfill"})
FLAG = "--all-layers"


def kind_of_line(line):
    """The kind named by one of the tree builder's "unknown type" lines, or None for another line."""
    try:
        value = ast.literal_eval(line)
    except (ValueError, SyntaxError, MemoryError, RecursionError):
        return None
    if isinstance(value, tuple) and len(value) == 2 and value[0] == "unknown type":
        return str(value[1])
    return None


def count_kinds(lines):
    """{kind: count} over the builder's lines, kinds in the order first met."""
    counts = {}
    for line in lines:
        kind = kind_of_line(line)
        if kind is not None:
            counts[kind] = counts.get(kind, 0) + 1
    return counts


def exportable(counts):
    """How many of the counted layers --all-layers would export."""
    return sum(n for kind, n in counts.items() if kind in SPRITE_KINDS)


def describe(counts, name_flag):
    """ "left out: 12 shape, 3 smartobject, 1 curves", naming the flag when ``name_flag`` and it would help."""
    if not counts:
        return ""
    text = "left out: " + ", ".join(f"{n} {kind}" for kind, n in counts.items())
    could = exportable(counts)
    if name_flag and could:
        text += f"; {FLAG} exports {could} of them"
    return text
