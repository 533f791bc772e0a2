"""tessel: export layered PSD documents as Cocos Creator 2.x prefabs.

The modules ``tessel.infos``, ``tessel.layerkit`` and ``tessel.nodeweave`` are
compiled extension modules; ``filemanager`` and ``log`` are the host services
they call, and ``tessel.cli`` is the ``tessel`` command.
"""

import sys as _sys

__version__ = "0.1.0"

_COMPILED = frozenset(f"{__name__}.{name}" for name in ("layerkit", "infos", "nodeweave", "_jsonwriter"))


class _MissingBuild:
    """Last on sys.meta_path: a compiled module that no finder found was never built."""

    @staticmethod
    def find_spec(fullname, path=None, target=None):
        if fullname in _COMPILED:
            raise ImportError(f"{fullname} is not built: build it with `pip install .`", name=fullname)
        return None


if not any(isinstance(f, type) and f.__name__ == "_MissingBuild" for f in _sys.meta_path):
    _sys.meta_path.append(_MissingBuild)
