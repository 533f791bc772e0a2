"""The record of a document's last export, so that exporting it again unchanged does no work.

The record is one small JSON file in the document's image folder, beside the
image cache.  It holds the key of the export (the sha1 of the PSD's bytes, the
versions of tessel and of the libraries whose output it writes, and every
export option that shapes the files), the size and sha1 of every file the export
wrote, and the numbers its result reported.  A document whose key is the same
and whose files all still hold those bytes is not parsed at all: its result is
the recorded one.  Anything else (another PSD, option or version, a file
deleted, edited or replaced, a damaged record) leads to a normal export.
"""

import dataclasses
import functools
import hashlib
import json
import os
from importlib import metadata

from tessel import __version__, filemanager
from tessel.road.imagecache import encoder

#: the record's name inside the image folder; hidden, so the game editor does not import it
FILENAME = ".tessel-export.json"
_FORMAT = 1
#: the numbers of a result that a skipped export reports again
RESULT_FIELDS = ("nodes", "images", "collisions", "skipped", "left_out", "warnings")
_CHUNK = 1 << 20


def record_path(outdir, name):
    """Where the record of document ``name`` exported into ``outdir`` lives."""
    return os.path.join(outdir, name, FILENAME)


def file_digest(path):
    """The sha1 and size of the file at ``path``, as the image cache records PNG bytes."""
    h = hashlib.sha1()
    size = 0
    with open(path, "rb") as f:
        while chunk := f.read(_CHUNK):
            h.update(chunk)
            size += len(chunk)
    return {"sha1": h.hexdigest(), "size": size}


def output_options(options):
    """Every option field that can change the files, by name.

    A field says it cannot with ``metadata={"output": False}`` (the image threads);
    every other field counts, so an option added later is covered without more code.
    Values that JSON cannot hold are kept by their repr.
    """
    chosen = {f.name: getattr(options, f.name) for f in dataclasses.fields(options) if f.metadata.get("output", True)}
    return json.loads(json.dumps(chosen, sort_keys=True, default=repr))


def export_key(psd_path, options):
    """What decides an export's files besides the files themselves: the PSD's bytes, the versions and the options."""
    return {
        "psd": file_digest(psd_path),
        "tessel": __version__,
        "build": build_digest(),
        "reader": _version("psd-tools"),
        "encoder": encoder(options.png_compression),
        "options": output_options(options),
    }


@functools.lru_cache(maxsize=None)
def build_digest():
    """sha1 over the tessel package's own code (Python and compiled modules).

    A rebuilt or patched package that kept its version number still writes
    other files, so it must not find documents unchanged.
    """
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    h = hashlib.sha1()
    for folder, dirs, names in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(names):
            if name.endswith((".py", ".so", ".pyd")):
                path = os.path.join(folder, name)
                h.update(os.path.relpath(path, root).encode("utf-8", "surrogatepass") + b"\0")
                h.update(file_digest(path)["sha1"].encode("ascii"))
    return h.hexdigest()


def _version(package):
    try:
        return metadata.version(package)
    except metadata.PackageNotFoundError:
        return None


class Record:
    """The record of one document's export into one output folder, as it was before this export."""

    def __init__(self, psd_path, outdir, name, options):
        # The export's files are real paths (see tessel.export.Inside): so is their base.
        self.outdir = os.path.realpath(outdir)
        self.path = record_path(self.outdir, name)
        self.content = _read(self.path)
        try:
            self.key = export_key(psd_path, options)
        except OSError:
            self.key = None  # the export itself reports the unreadable document

    def unchanged(self):
        """The recorded result's numbers when the key matches and every recorded file is as written, else None."""
        content = self.content
        if content is None or self.key is None or content.get("key") != self.key:
            return None
        files = content.get("files")
        result = content.get("result")
        if not isinstance(files, dict) or not files or not isinstance(result, dict):
            return None
        for relative, entry in files.items():
            path = self.full(relative)
            try:
                # The size first: a file of another size is not read at all.
                if not isinstance(entry, dict) or os.path.getsize(path) != entry.get("size") or \
                        file_digest(path)["sha1"] != entry.get("sha1"):
                    return None
            except OSError:
                return None
        return dict(result, files=[self.full(relative) for relative in files] + [self.path])

    def full(self, relative):
        return os.path.join(self.outdir, relative)

    def kept(self, files):
        """Of ``files`` (absolute paths), those the export left as the recorded export wrote them.

        A file rewritten by replacing it has a new inode or modification time; the
        rest were not touched (the image cache and the meta merge leave a file
        alone that already holds its bytes).
        """
        recorded = (self.content or {}).get("files")
        if not isinstance(recorded, dict):
            return []
        kept = []
        for path in files:
            entry = recorded.get(os.path.relpath(path, self.outdir))
            try:
                st = os.stat(path)
            except OSError:
                continue
            if isinstance(entry, dict) and [entry.get("ino"), entry.get("mtime_ns"), entry.get("size")] == [
                    st.st_ino, st.st_mtime_ns, st.st_size]:
                kept.append(path)
        return kept

    def save(self, result, known=None, once=()):
        """Record the export of ``result`` (an ExportResult).

        ``known`` maps file paths to the sha1 and size already computed for them
        (the image cache's PNG records), so those files are not read again.
        ``once`` are warnings about what this export did (the prefab merge's
        removals), which an unchanged re-export does not do again and so does not repeat.
        """
        if self.key is None:
            return
        known = known or {}
        files = {}
        for path in result.files:
            if path == self.path:
                continue
            st = os.stat(path)
            entry = known.get(path)
            if entry is None or entry.get("size") != st.st_size:
                entry = file_digest(path)
            files[os.path.relpath(path, self.outdir)] = dict(entry, mtime_ns=st.st_mtime_ns, ino=st.st_ino)
        content = {"format": _FORMAT, "key": self.key, "files": files,
                   "result": {name: getattr(result, name) for name in RESULT_FIELDS}}
        if "warnings" in content["result"]:
            content["result"]["warnings"] = [w for w in content["result"]["warnings"] if w not in once]
        filemanager._replace_file(self.path, json.dumps(content, indent=1, ensure_ascii=False).encode("utf-8"))


def png_records(cache):
    """The sha1 and size of every PNG an image cache holds, by absolute path (empty without a cache)."""
    if cache is None:
        return {}
    folder = os.path.dirname(cache.path)
    return {os.path.join(folder, name): entry["png"] for name, entry in cache.entries().items()
            if isinstance(entry.get("png"), dict)}


def _read(path):
    try:
        with open(path, "rb") as f:
            content = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError):
        return None
    if not isinstance(content, dict) or content.get("format") != _FORMAT:
        return None
    return content


