"""The native JSON emitter against Python's json, and the host's writeJson on top of it."""

import collections
import enum
import json
import math
import os
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tessel import _jsonwriter, filemanager, layerkit

_SURROGATE = re.compile("[\ud800-\udfff]")


def json_text(data, indent=4, default=None, ensure_ascii=True):
    """What the emitter must produce: json.dumps, with lone surrogates escaped when
    text is written raw (json leaves them in, and they cannot be written as UTF-8)."""
    text = json.dumps(data, indent=indent, default=default, ensure_ascii=ensure_ascii)
    return text if ensure_ascii else _SURROGATE.sub(lambda m: "\\u%04x" % ord(m.group()), text)


class Exportable:
    """A value without JSON form whose converter result may hold more of its kind."""

    def __init__(self, payload):
        self.payload = payload

    def export(self):
        return self.payload

    def __repr__(self):
        return f"Exportable({self.payload!r})"


def convert(obj):
    return obj.export()


texts = st.text(
    st.one_of(
        st.characters(exclude_categories=()),  # surrogates included
        st.sampled_from(['"', "\\", "\x7f", "\x00", "\b", "\t", "图", "😀", "\ud800", "\udfff", "\U0010ffff"]),
    ),
    max_size=12,
)
ints = st.one_of(st.integers(), st.integers(min_value=-(10**40), max_value=10**40), st.sampled_from([2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 2**64]))
floats = st.floats(allow_nan=True, allow_infinity=True)
scalars = st.one_of(texts, ints, floats, st.booleans(), st.none())
keys = st.one_of(texts, ints, floats, st.booleans(), st.none())


def nested(leaves):
    return st.recursive(
        leaves,
        lambda inner: st.one_of(
            st.lists(inner, max_size=5),
            st.lists(inner, max_size=4).map(tuple),
            st.dictionaries(keys, inner, max_size=5),
        ),
        max_leaves=30,
    )


values = nested(scalars)
exportable_values = nested(st.one_of(scalars, st.deferred(lambda: exportables)))
exportables = st.builds(Exportable, exportable_values)


@settings(max_examples=400)
@given(values)
def test_export_dict_to_json_is_json_dumps(data):
    assert layerkit.exportDict2Json(data) == json.dumps(data, indent=4, ensure_ascii=True)


@settings(max_examples=300)
@given(
    exportable_values,
    st.sampled_from([None, 0, 2, 4, -3, "\t", "··"]),
    st.booleans(),
)
def test_writer_dumps_is_json_dumps_with_converter(data, indent, ensure_ascii):
    expected = json_text(data, indent=indent, default=convert, ensure_ascii=ensure_ascii)
    text = _jsonwriter.dumps(data, indent, convert, ensure_ascii=ensure_ascii)
    assert text == expected
    assert _jsonwriter.dumpb(data, indent, convert, ensure_ascii=ensure_ascii) == text.encode("utf-8")


def test_layout_of_nested_and_empty_containers():
    assert layerkit.exportDict2Json({}) == "{}"
    assert layerkit.exportDict2Json({"a": [1, 2]}).split("\n") == ["{", '    "a": [', "        1,", "        2", "    ]", "}"]
    assert layerkit.exportDict2Json({"d": {}, "l": []}) == '{\n    "d": {},\n    "l": []\n}'
    assert layerkit.exportDict2Json("x") == '"x"'
    assert layerkit.exportDict2Json({"name": "图层"}) == '{\n    "name": "\\u56fe\\u5c42"\n}'
    assert layerkit.exportDict2Binary({"a": 1}) is None


def test_many_long_and_escaped_keys_repeated_across_objects():
    # Far more distinct keys than the writer remembers, some too long to remember,
    # some needing escapes, each met again in later objects.
    keys = [f"k{i}" for i in range(600)] + ["x" * 47, "y" * 48, 'q"\\\t', "\x7f", "é"]
    data = [{key: i for key in keys[i % 7::7]} for i in range(30)]
    for ensure_ascii in (True, False):
        expected = json_text(data, indent=4, ensure_ascii=ensure_ascii)
        assert _jsonwriter.dumps(data, 4, None, ensure_ascii=ensure_ascii) == expected
        assert _jsonwriter.dumpb(data, 4, None, ensure_ascii=ensure_ascii) == expected.encode("utf-8")
    assert layerkit.exportDict2Json(data) == json_text(data)


def test_converter_may_write_json_itself_and_failures_leave_the_writer_usable():
    data = [{"a": object()}, "x" * 100_000, object()]
    inner = {"inner": ["y" * 70_000, 2]}
    expected = json.dumps(data, indent=4, default=lambda o: json.dumps(inner, indent=2))
    assert _jsonwriter.dumps(data, 4, lambda o: _jsonwriter.dumps(inner, 2, None)) == expected
    with pytest.raises(ZeroDivisionError):
        _jsonwriter.dumps(data, 4, lambda o: 1 / 0)
    assert _jsonwriter.dumps(["z" * 10, 1], 4, None) == json.dumps(["z" * 10, 1], indent=4)


def test_writer_text_is_raw_unicode_with_surrogates_escaped():
    text = _jsonwriter.dumps({"图": ["😀", "\ud83d", "a\udc00b", "\x7f\n"]}, 2, None)
    assert text == '{\n  "图": [\n    "😀",\n    "\\ud83d",\n    "a\\udc00b",\n    "\x7f\\n"\n  ]\n}'


class Color(enum.IntEnum):
    RED = 1


class Flags(enum.IntFlag):
    A = 1
    B = 2


class LoudFloat(float):
    def __repr__(self):
        return "loud"


class NeverNaN(float):
    def __ne__(self, other):
        return False


class Shout(str):
    def __str__(self):
        return "SHOUT"


class ReversedList(list):
    def __iter__(self):
        return reversed(list(super().__iter__()))


class ClaimsEmpty(list):
    def __len__(self):
        return 0


class UpperDict(dict):
    def items(self):
        return [(k.upper(), v) for k, v in super().items()]


def _moved():
    d = collections.OrderedDict(a=1, b=2, c=3)
    d.move_to_end("a")
    return d


SUBCLASSES = [
    ("int-enum", {"c": Color.RED, Color.RED: [Color.RED]}),
    ("int-flag", [Flags.A | Flags.B]),
    ("float-repr-ignored", [LoudFloat(1.5), {LoudFloat(2.5): 0}]),
    ("float-own-comparison", [NeverNaN("nan"), NeverNaN(1.0)]),
    ("str-subclass", {Shout("k"): Shout("v")}),
    ("list-own-iter", [ReversedList([1, 2, 3])]),
    ("list-own-len", {"l": ClaimsEmpty([1, 2])}),
    ("dict-own-items", UpperDict(a=1, b={"c": 2})),
    ("ordered-dict-moved", _moved()),
    ("namedtuple", [collections.namedtuple("P", "x y")(1, 2.0)]),
    ("bool-and-int-keys", {True: 1, 2: 2, None: 3, 1.0: 4, -0.0: 5}),
    ("same-list-twice", [[1], [1]] * 2),
]


@pytest.mark.parametrize("data", [pytest.param(d, id=i) for i, d in SUBCLASSES])
def test_subclasses_are_written_as_json_writes_them(data):
    assert layerkit.exportDict2Json(data) == json.dumps(data, indent=4)
    assert _jsonwriter.dumps(data, 4, None, ensure_ascii=True) == json.dumps(data, indent=4)


def _circular_list():
    a = [1]
    a.append({"k": a})
    return a


def _circular_dict():
    d = {"x": [0]}
    d["x"].append(d)
    return d


ERRORS = [
    ("object", {"a": [object()]}),
    ("set", [set()]),
    ("bytes-at-top", b"x"),
    ("tuple-key", {(1, 2): 1}),
    ("complex-key", {"a": {1j: 0}}),
    ("circular-list", _circular_list()),
    ("circular-dict", _circular_dict()),
    ("int-too-long", [10**5000]),
]


def _error(call, data):
    with pytest.raises(Exception) as info:
        call(data)
    return type(info.value), str(info.value)


@pytest.mark.parametrize("data", [pytest.param(d, id=i) for i, d in ERRORS])
def test_errors_are_those_of_json(data):
    expected = _error(lambda v: json.dumps(v, indent=4), data)
    assert _error(layerkit.exportDict2Json, data) == expected
    assert _error(lambda v: _jsonwriter.dumps(v, 4, None), data) == expected


def test_converter_errors_and_circular_conversions_are_those_of_json():
    class Boom(Exception):
        pass

    def explode(obj):
        raise Boom(obj)

    with pytest.raises(Boom):
        _jsonwriter.dumps([1, {"a": object()}], 4, explode)

    me = Exportable(None)
    me.payload = [me]
    expected = _error(lambda v: json.dumps(v, indent=4, default=convert), me)
    assert expected == (ValueError, "Circular reference detected")
    assert _error(lambda v: _jsonwriter.dumps(v, 4, convert), me) == expected

    same = Exportable(None)
    same.export = lambda: same
    assert _error(lambda v: _jsonwriter.dumps(v, 4, convert), [same]) == expected

    # A converter may answer with another value to convert, at any depth.
    chain = Exportable(Exportable(Exportable({"x": Exportable(1)})))
    assert _jsonwriter.dumps([chain], 4, convert) == json.dumps([chain], indent=4, default=convert)


def _walk_while_changing(dumps, kind, change):
    """Writes a list or dict whose converter changes that very container."""
    if kind is list:
        box = [Exportable(0), 1, Exportable(2), 3]
    else:
        box = {"a": Exportable(0), "b": 1, "c": Exportable(2)}

    def converter(obj):
        change(box)
        return obj.export()

    try:
        return dumps([box], converter)
    except Exception as e:  # the error is part of what must match
        return type(e), str(e)


CHANGES = [
    ("list-grows", list, lambda b: b.append(Exportable(len(b))) if len(b) < 8 else None),
    ("list-pops", list, lambda b: b.pop(0) if b else None),
    ("list-clears", list, lambda b: b.clear()),
    ("dict-value-replaced", dict, lambda b: b.__setitem__("c", Exportable("new"))),
    ("dict-grows", dict, lambda b: b.setdefault(f"k{len(b)}", 0)),
    ("dict-clears", dict, lambda b: b.clear()),
]


@pytest.mark.parametrize("kind, change", [pytest.param(k, c, id=i) for i, k, c in CHANGES])
def test_containers_changed_by_the_converter_are_walked_as_json_walks_them(kind, change):
    expected = _walk_while_changing(lambda d, f: json.dumps(d, indent=4, default=f), kind, change)
    assert _walk_while_changing(lambda d, f: _jsonwriter.dumps(d, 4, f), kind, change) == expected


@pytest.mark.parametrize("make", [lambda x: [x], lambda x: {"k": x}, lambda x: Exportable(x)], ids=["list", "dict", "converted"])
def test_too_deep_nesting_raises_recursion_error(make):
    data = 0
    for _ in range(100_000):
        data = make(data)
    with pytest.raises(RecursionError):
        _jsonwriter.dumps(data, 4, convert)
    if not isinstance(data, Exportable):
        with pytest.raises(RecursionError):
            layerkit.exportDict2Json(data)


def test_write_json_writes_utf8_with_the_writer_layout(tmp_path):
    target = tmp_path / "doc.prefab"
    data = [Exportable({"_name": "图层\ud800", "n": [1.0, math.inf]})]
    filemanager.writeJson(str(target), data, 4, convert)
    assert target.read_bytes().decode("utf-8") == json_text(data, default=convert, ensure_ascii=False)


def test_write_json_keeps_the_old_file_when_the_converter_fails_midway(tmp_path):
    target = tmp_path / "doc.prefab"
    target.write_text("old", encoding="utf-8")
    calls = []

    def failing(obj):
        calls.append(obj)
        if len(calls) == 3:
            raise TypeError("converter gave up")
        return obj.export()

    with pytest.raises(TypeError, match="converter gave up"):
        filemanager.writeJson(str(target), [Exportable(i) for i in range(5)], 4, failing)
    assert len(calls) == 3
    assert target.read_text(encoding="utf-8") == "old"
    assert os.listdir(tmp_path) == ["doc.prefab"]
