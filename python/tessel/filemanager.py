"""Files, JSON, digests and names: the host services the export modules call.

Relative paths resolve against ``outputDir`` (set it with :func:`setOutputDir`);
without one they resolve against the current directory.  A relative path may
never leave the output folder, whatever a layer name makes of it.
"""

import contextlib
import functools
import json
import os
import re
import tempfile

from pypinyin import Style, lazy_pinyin

try:
    from . import _jsonwriter
except ImportError:  # loaded as a top-level host module beside the compiled writer
    import _jsonwriter

outputDir = None

# Folders that the running export created: nothing in them predates it, so a
# file not there yet is created at its own name instead of being renamed into
# place (there is no earlier file to keep; the export removes the folder if it fails).
_fresh = set()


def setOutputDir(path):
    """Make relative paths resolve under ``path`` (None: the current directory)."""
    global outputDir
    outputDir = None if path is None else os.path.abspath(os.fspath(path))


def resolve(path):
    """The absolute path that ``path`` names; relative paths stay under ``outputDir``."""
    path = os.fspath(path)
    if os.path.isabs(path):
        return path
    base = outputDir if outputDir is not None else os.getcwd()
    full = os.path.normpath(os.path.join(base, path))
    if not _within(full, os.path.normpath(base)):
        raise ValueError(f"path {path!r} leaves the output folder {base!r}")
    return full


def _within(full, base):
    """Whether the normalised path ``full`` is ``base`` or inside it, whole names compared.

    A text prefix check on normalised paths, cased as the system compares them: the
    export asks this for every meta file it looks for, and os.path.commonpath (which
    splits both paths into lists) cost more than the file-system check itself.  The
    separator after ``base`` keeps "/out" from containing "/outside".
    """
    full, base = os.path.normcase(full), os.path.normcase(base)
    if full == base:
        return True
    return full.startswith(base if base.endswith(os.sep) else base + os.sep)


def writeJson(path, data, indent, converter):
    """Write ``data`` as JSON to ``path``, every non-JSON value turned by ``converter``.

    The layout is json.dumps' with ``indent``; text is written as UTF-8, except lone
    surrogates (psd-tools decodes some emoji that way), which only a \\u escape can
    carry.  The whole text is built before anything touches the disk, and it goes to
    a temporary file beside the target, which then replaces the target in one step:
    a failing converter, a full disk or a crash leaves the earlier file as it was,
    never a truncated one.

    A target that already holds exactly this text is left alone, so a re-export
    leaves unchanged meta files (and their modification times) untouched.  Only a
    replaced file is synced to disk before the replace, which keeps the earlier
    file even through a power cut; a new file has no earlier content to lose, and
    a sync per file (milliseconds each) would cost more than all the rest of an
    export of a few hundred images.  In a folder the running export created (see
    :func:`fresh_folder`) a new file is written at its own name straight away.
    """
    _replace_file(resolve(path), _jsonwriter.dumpb(data, indent, converter))


@contextlib.contextmanager
def fresh_folder(*paths):
    """Meanwhile, the folder ``paths`` (one folder, spelled several ways) count as made by this export."""
    added = {os.path.normpath(p) for p in paths} - _fresh
    _fresh.update(added)
    try:
        yield
    finally:
        _fresh.difference_update(added)


def _replace_file(target, encoded):
    """Put the bytes ``encoded`` at ``target`` in one step (see writeJson)."""
    if _fresh and os.path.dirname(target) in _fresh and _create(target, encoded):
        return
    try:
        with open(target, "rb") as current:
            if os.fstat(current.fileno()).st_size == len(encoded) and current.read() == encoded:
                return
        replacing = True
    except FileNotFoundError:
        replacing = False
    except OSError:  # a folder or an unreadable file: the replace below decides
        replacing = True
    folder = os.path.dirname(target) or "."
    fd, tmp = tempfile.mkstemp(prefix=".tmp-", suffix=".json", dir=folder)
    try:
        # mkstemp makes the file private (0600); give it the mode a plain open()
        # would, so the prefab and meta files are as readable as the images.
        os.chmod(tmp, 0o666 & ~_UMASK)
        with os.fdopen(fd, "wb") as out:
            out.write(encoded)
            out.flush()
            if replacing:
                os.fsync(out.fileno())
        os.replace(tmp, target)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def _create(target, encoded):
    """Write ``encoded`` as the new file ``target``; False (and nothing done) when the name is taken."""
    try:
        fd = os.open(target, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0), 0o666)
    except FileExistsError:
        return False
    try:
        with open(fd, "wb") as out:
            out.write(encoded)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(target)
        raise
    return True


def _current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


# Read once at import: os.umask can only be read by setting it, which is not
# safe while other threads create files.
_UMASK = _current_umask()


def loadJson(path):
    """The JSON content of the file at ``path``."""
    full = resolve(path)
    with open(full, encoding="utf-8") as f:
        try:
            return json.load(f)
        except ValueError as e:
            raise ValueError(f"{full}: not a JSON file ({e})") from e


def json_or_none(path):
    """The JSON content of the file at ``path``, or None when it is missing, unreadable or not JSON.

    For tessel's own caches and records, whose loss costs time and nothing else;
    ``path`` is taken as it is, not resolved under ``outputDir``.
    """
    try:
        with open(path, "rb") as f:
            return json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError):
        return None


def exists(path):
    """True when ``path`` names an existing file."""
    return os.path.isfile(resolve(path))


def mkdir(path):
    """Create the folder ``path`` and its parents; an existing folder is no error."""
    os.makedirs(resolve(path), exist_ok=True)


def basename(path):
    """The last component of ``path``."""
    return os.path.basename(os.fspath(path))


def md5():
    """A fresh random digest of 32 hex digits."""
    # os.urandom is what secrets.token_hex reads too, without its two calls in Python.
    return os.urandom(16).hex()


def sha1():
    """A fresh random digest of 40 hex digits."""
    return os.urandom(20).hex()


# Characters that no file name may hold on Windows, macOS or Linux.
_UNSAFE = re.compile(r'[\x00-\x1f\x7f/\\:*?"<>|\ud800-\udfff]')


def pinyin(name):
    """``name`` with Chinese characters spelled in toneless pinyin, safe as a file name.

    Path separators, control characters, characters Windows forbids and lone
    surrogates become "_", and "." or ".." never come back as such, so the result
    can only ever name an entry inside the folder it is joined to.

    Text is spelled once and remembered: an export asks for the same few names
    thousands of times (every node and component, every image name with all its
    enclosing groups), and pypinyin's phrase search is the slow part of it.

    Pure: the same text always gives the same result, so the export modules ask
    this function (while it is this one, not a replacement) once per distinct text
    within one pass.
    """
    if type(name) is str:
        return _spell(name)
    return _spell.__wrapped__(name)


@functools.lru_cache(maxsize=1 << 16)
def _spell(name):
    safe = _UNSAFE.sub("_", name)
    text = "".join(lazy_pinyin(safe, style=Style.NORMAL, errors="default"))
    text = _UNSAFE.sub("_", text)
    if text in (".", ".."):
        text = "_" * len(text)
    return text
