"""Message lines of the export, through Python's logging (logger "tessel").

The host decides where the lines go (the command line shows them with -v).
"""

import logging

logger = logging.getLogger("tessel")


def i(message):
    """An information line."""
    logger.info(message)


def d(message):
    """A debug line."""
    logger.debug(message)
