"""tessel: export layered PSD documents as Cocos Creator 2.x prefabs.

The modules ``tessel.infos``, ``tessel.layerkit`` and ``tessel.nodeweave`` are
compiled extension modules; ``filemanager`` and ``log`` are the host services
they call, and ``tessel.cli`` is the ``tessel`` command.
"""

import importlib.util as _util

__version__ = "0.1.0"

_COMPILED = ("layerkit", "infos", "nodeweave")
_missing = [name for name in _COMPILED if _util.find_spec(f"{__name__}.{name}") is None]
if _missing:
    raise ImportError(
        f"tessel's compiled modules are missing ({', '.join(_missing)}): build them with `pip install .`"
    )
