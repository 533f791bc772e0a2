"""The documents of a run: PSD files named or found under folders, each with the folder it exports into.

A document found under a folder argument exports at its path relative to that
folder (``ui/shop/main.psd`` given ``ui`` lands in ``OUT/shop``); a file named
on its own exports into ``OUT``.  Documents that would write the same prefab
are found here, before anything is written.
"""

import fnmatch
import os
from dataclasses import dataclass
from typing import Optional

EXTENSION = ".psd"


def document_name(path):
    """The name a document exports under: its file name without the extension."""
    return os.path.splitext(os.path.basename(os.fspath(path)))[0]


@dataclass(frozen=True)
class Document:
    """One document of a run and where it goes."""

    psd: "str | os.PathLike"  #: the document's path, as given or found
    outdir: str  #: the folder its prefab and image folder go into
    refused: Optional[str] = None  #: why it is not exported (another document writes its prefab)

    @property
    def name(self):
        return document_name(self.psd)

    @property
    def prefab(self):
        return os.path.normpath(os.path.join(os.path.abspath(self.outdir), self.name + ".prefab"))


def find(paths, outdir, glob=None):
    """The :class:`Document` of every file in ``paths`` and every ``.psd`` below every folder in it.

    Folders are searched recursively in name order; hidden files and folders
    (editor and system leftovers such as ``._main.psd``) are passed over, and
    ``glob`` narrows what a folder gives to paths under it that match
    (``*`` also matches across folders).  A folder that holds no document, and
    a document whose prefab an earlier one already writes, carry the reason
    in ``refused``.
    """
    outdir = os.fspath(outdir)
    found = []
    for given in paths:
        path = os.fspath(given)
        if not os.path.isdir(path):
            found.append(Document(given, outdir))  # as given: the caller looks its result up by it
            continue
        below = list(_below(path, glob))
        if not below:
            narrowed = f" matching {glob!r}" if glob else ""
            found.append(Document(path, outdir, f"no {EXTENSION} document{narrowed} in this folder"))
        for relative in below:
            found.append(Document(os.path.join(path, relative), os.path.join(outdir, os.path.dirname(relative))))
    return refuse_collisions(found)


def _below(folder, glob):
    """Paths of the documents under ``folder``, relative to it, sorted."""
    hits = []
    for root, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in files:
            if name.startswith(".") or not name.lower().endswith(EXTENSION):
                continue
            relative = os.path.relpath(os.path.join(root, name), folder)
            if glob is None or fnmatch.fnmatch(relative.replace(os.sep, "/"), glob):
                hits.append(relative)
    return sorted(hits)


def refuse_collisions(documents):
    """``documents`` with every one whose prefab an earlier one writes marked as refused."""
    seen = {}
    checked = []
    for doc in documents:
        first = seen.setdefault(doc.prefab, doc)
        if first is not doc and doc.refused is None:
            doc = Document(doc.psd, doc.outdir, f"exports as {doc.name!r} into the same folder as {first.psd}; "
                           "export it into another folder")
        checked.append(doc)
    return checked
