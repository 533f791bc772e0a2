"""Where the command's log lines and the reader's warnings go while it runs: the terminal, or nowhere."""

import contextlib
import logging
import warnings

from tessel.errors import one_line


class ConsoleHandler(logging.Handler):
    """Logging handler that writes through a :class:`tessel.run.progress.Terminal`."""

    def __init__(self, console, level):
        super().__init__(level)
        self.console = console
        self.setFormatter(logging.Formatter("%(message)s"))

    def emit(self, record):
        try:
            self.console.line(one_line(self.format(record)))
        except Exception:
            self.handleError(record)


@contextlib.contextmanager
def logging_to(console, verbose):
    """Route the loggers "tessel" and "psd_tools" for the length of one command.

    Quiet by default: psd-tools would otherwise reach stderr through logging's
    last-resort handler with its warnings about blocks it skips, and an error
    must stay the one line on stderr.  With -v both show on the console.
    """
    ours = logging.getLogger("tessel")
    reader = logging.getLogger("psd_tools")
    if verbose:
        added = [(ours, ConsoleHandler(console, logging.DEBUG)), (reader, ConsoleHandler(console, logging.WARNING))]
    else:
        added = [(reader, logging.NullHandler())]
    old_level = ours.level
    for logger, handler in added:
        logger.addHandler(handler)
    if verbose:
        ours.setLevel(logging.DEBUG)
    try:
        with warnings.catch_warnings():
            # Reader warnings (unknown blocks, unsupported modes) are notes about
            # the document, not failures: they go to the log like the rest.
            warnings.simplefilter("always")
            warnings.showwarning = _log_warning
            yield
    finally:
        for logger, handler in added:
            logger.removeHandler(handler)
        ours.setLevel(old_level)


def _log_warning(message, category, filename, lineno, file=None, line=None):
    logging.getLogger("tessel").debug("warning: %s: %s", category.__name__, message)
