"""Old home of tessel.see.check, kept for one release; importing it warns."""

import sys
import warnings

from tessel.see import check as _moved

warnings.warn("tessel.check moved to tessel.see.check; the old name goes in the next release",
              DeprecationWarning, stacklevel=2)
sys.modules[__name__] = _moved
