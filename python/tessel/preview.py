"""Old home of tessel.see.preview, kept for one release; importing it warns."""

import sys
import warnings

from tessel.see import preview as _moved

warnings.warn("tessel.preview moved to tessel.see.preview; the old name goes in the next release",
              DeprecationWarning, stacklevel=2)
sys.modules[__name__] = _moved
