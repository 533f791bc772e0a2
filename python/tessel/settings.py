"""A game project's export settings: ``tessel.toml`` or ``[tool.tessel]`` in ``pyproject.toml``.

Every field of :class:`tessel.export.ExportOptions` is a key of the same name, so an
option added to the dataclass is a settings key without code here; a field's
``metadata`` says what the file cannot tell from its type: ``"path": True`` for
values that are paths (relative to the settings file), ``"parse"`` for a function
turning the file's value into the field's (``max_objects = 0``: no limit).

Lookup: the output folder and its parents, then the current folder and its
parents; in each folder ``tessel.toml`` first, then a ``pyproject.toml`` that has a
``[tool.tessel]`` table.
"""

import dataclasses
import os
import sys
import typing

if sys.version_info >= (3, 11):
    import tomllib
else:  # pragma: no cover - the backport has the same interface
    import tomli as tomllib

FILE_NAME = "tessel.toml"
PROJECT_FILE = "pyproject.toml"


class SettingsError(ValueError):
    """A settings file that cannot be used: the message names the file and the key."""


@dataclasses.dataclass
class Settings:
    """The values a settings file gives, by ExportOptions field name."""

    path: typing.Optional[str] = None  #: the file they came from (None: no file)
    values: typing.Dict[str, typing.Any] = dataclasses.field(default_factory=dict)


def find(*starts):
    """The first settings file in any of ``starts`` or their parents, or None."""
    for start in starts:
        if start is None:
            continue
        folder = os.path.abspath(os.fspath(start))
        while True:
            candidate = _settings_in(folder)
            if candidate:
                return candidate
            parent = os.path.dirname(folder)
            if parent == folder:
                break
            folder = parent
    return None


def _settings_in(folder):
    own = os.path.join(folder, FILE_NAME)
    if os.path.isfile(own):
        return own
    project = os.path.join(folder, PROJECT_FILE)
    if os.path.isfile(project):
        try:
            with open(project, "rb") as f:
                if "tessel" in tomllib.load(f).get("tool", {}):
                    return project
        except (OSError, tomllib.TOMLDecodeError):
            return None
    return None


def load(path, options_class):
    """The settings in ``path``, checked against the fields of ``options_class``."""
    path = os.path.abspath(os.fspath(path))
    try:
        with open(path, "rb") as f:
            table = tomllib.load(f)
    except OSError as e:
        raise SettingsError(f"{path}: cannot read it ({e.strerror or e})") from e
    except tomllib.TOMLDecodeError as e:
        raise SettingsError(f"{path}: not TOML ({e})") from e
    if os.path.basename(path) == PROJECT_FILE:
        table = table.get("tool", {}).get("tessel", {})
        where = "[tool.tessel] "
    else:
        where = ""
    fields = {f.name: f for f in dataclasses.fields(options_class)}
    hints = typing.get_type_hints(options_class)
    values = {}
    for key, value in table.items():
        if key not in fields:
            raise SettingsError(f"{path}: {where}unknown key {key!r}; the keys are: {', '.join(fields)}")
        field = fields[key]
        if not _fits(value, hints[key]):
            raise SettingsError(f"{path}: {where}{key} must be {_describe(hints[key])}, not {value!r}")
        try:
            if "parse" in field.metadata:
                value = field.metadata["parse"](value)
            if field.metadata.get("path"):
                value = _relative_to(value, os.path.dirname(path))
            options_class(**{key: value})
        except (TypeError, ValueError) as e:
            raise SettingsError(f"{path}: {where}{key}: {e}") from e
        values[key] = value
    return Settings(path, values)


def _relative_to(value, folder):
    if isinstance(value, list):
        return [_relative_to(item, folder) for item in value]
    return os.path.normpath(os.path.join(folder, value))


def _fits(value, hint):
    origin = typing.get_origin(hint)
    if hint is typing.Any:
        return True
    if origin is typing.Union:
        return any(_fits(value, arg) for arg in typing.get_args(hint) if arg is not type(None))
    if origin in (list, typing.List):
        (item,) = typing.get_args(hint) or (typing.Any,)
        return isinstance(value, list) and all(_fits(v, item) for v in value)
    if hint is bool:
        return isinstance(value, bool)
    if hint is int:
        return isinstance(value, int) and not isinstance(value, bool)
    if hint is float:
        return isinstance(value, (int, float)) and not isinstance(value, bool)
    if isinstance(hint, type):
        return isinstance(value, hint)
    return True


def _describe(hint):
    origin = typing.get_origin(hint)
    if origin is typing.Union:
        return " or ".join(_describe(arg) for arg in typing.get_args(hint) if arg is not type(None))
    if origin in (list, typing.List):
        (item,) = typing.get_args(hint) or (typing.Any,)
        return f"a list of {_describe(item).replace('a ', '', 1)}s"
    return {bool: "true or false", int: "a whole number", float: "a number", str: "a string"}.get(hint, str(hint))


def resolve(options_class, given, settings):
    """The options to use, each with where it came from ("default", the file, "command line").

    ``given`` holds the options named on the command line; they override the file.
    """
    values = {}
    sources = {}
    for field in dataclasses.fields(options_class):
        if field.name in given:
            values[field.name], sources[field.name] = given[field.name], "command line"
        elif field.name in settings.values:
            values[field.name], sources[field.name] = settings.values[field.name], settings.path
        else:
            sources[field.name] = "default"
    return options_class(**values), sources
