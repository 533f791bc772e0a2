"""Old home of tessel.road.styles, kept for one release; importing it warns."""

import sys
import warnings

from tessel.road import styles as _moved

warnings.warn("tessel.styles moved to tessel.road.styles; the old name goes in the next release",
              DeprecationWarning, stacklevel=2)
sys.modules[__name__] = _moved
