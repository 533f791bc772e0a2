"""Progress of a run on the terminal: a bar over the documents and one over the images being saved (tqdm).

Message lines (warnings, summaries, log lines) go through :meth:`Terminal.line`,
which writes them above the bars.  Off a terminal, or when quiet, there are no
bars and lines go straight to the stream.
"""

import sys
import threading

from tqdm import tqdm


class Terminal:
    """stderr shared by the progress bars and whole message lines; safe to use from several threads."""

    def __init__(self, stream, bars):
        self.stream = stream
        self.bars = bars
        self._lock = threading.RLock()
        self._documents = None
        self._images = None
        self._counts = {}

    def line(self, text):
        """Write ``text`` as a line of its own, above the bars."""
        with self._lock:
            if self._documents is not None or self._images is not None:
                tqdm.write(text, file=self.stream)
            else:
                self.stream.write(text + "\n")
                self.stream.flush()

    def line_out(self, text):
        """Print ``text`` on standard output, keeping the bars whole."""
        with self._lock:
            if self._documents is not None or self._images is not None:
                tqdm.write(text, file=sys.stdout)
            else:
                print(text, flush=True)

    def documents(self, total):
        """Start the bar over ``total`` documents (none for a single document: the image bar says it all)."""
        if self.bars and total > 1:
            with self._lock:
                self._documents = self._bar(total, "documents", position=0)

    def document_done(self):
        with self._lock:
            if self._documents is not None:
                self._documents.update(1)

    def images(self, name, done, total):
        """The export's ``progress(name, done, total)``: images saved of the document ``name``.

        Documents exported side by side share the one bar, which counts the
        images of every document started so far.
        """
        if not self.bars:
            return
        with self._lock:
            self._counts[name] = (done, total)
            if self._images is None:
                self._images = self._bar(total, name, position=1 if self._documents is not None else 0)
            if len(self._counts) > 1:
                self._images.set_description_str("images", refresh=False)
            self._images.total = sum(t for _, t in self._counts.values())
            self._images.n = sum(d for d, _ in self._counts.values())
            if done >= total:
                self._images.refresh()  # the last image always shows, however soon it follows
            else:
                self._images.update(0)

    def close(self):
        """Remove the bars."""
        with self._lock:
            for bar in (self._images, self._documents):
                if bar is not None:
                    bar.close()
            self._images = self._documents = None
            self._counts = {}

    def _bar(self, total, desc, position):
        return tqdm(total=total, desc=desc, file=self.stream, leave=False, position=position, dynamic_ncols=True,
                    unit="", mininterval=0.05)
