"""The words in layer names that make widgets: type words in front, role words in children's names.

Type words are matched at the start of the raw layer name, in any case, as the
name cleaning matches them; roles are read from the cleaned name, in any case.
"""

import re

from tessel import layerkit

#: The type words that make a widget, in the order they are tried.
WIDGETS = ("ScrollPage", "ScrollView", "ProgressBar", "Button", "Toggle", "List")
_TYPE = re.compile("(%s)_" % "|".join(WIDGETS), re.IGNORECASE)
_CANON = {word.lower(): word for word in WIDGETS}

#: Button and toggle state frames: the cleaned name ends in one of these words.
STATES = (
    ("pressed", ("pressed", "press", "down")),
    ("hover", ("hover", "over")),
    ("disabled", ("disabled", "gray")),
)
NORMAL = ("normal",)
MARK = ("check", "checked", "mark", "on")
BAR = ("bar", "fill", "progress")
VIEW = ("view", "mask")
INDICATOR = ("indicator",)


def widget_word(raw_name):
    """The widget type word that starts ``raw_name`` ("Button", ...), or None."""
    match = _TYPE.match(str(raw_name))
    return _CANON[match.group(1).lower()] if match else None


def clean(raw_name):
    """The cleaned name, lower case, that roles are read from."""
    return layerkit.cleanLayerName(str(raw_name)).lower()


def is_role(raw_name, words):
    """Whether the cleaned name is one of ``words``."""
    return clean(raw_name) in words


def state_of(raw_name):
    """"pressed", "hover" or "disabled" when the cleaned name ends in a state word, else None."""
    name = clean(raw_name)
    for state, endings in STATES:
        if name.endswith(endings):
            return state
    return None
