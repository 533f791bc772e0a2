"""The .pyi stubs shipped beside the compiled modules describe those modules exactly.

Each stub is read with ``ast`` and held against the built module: public names,
class bases, the methods and properties each class defines itself, the
signatures pybind11 writes into the docstrings, and the instance fields of every
kind of object a real export makes.  A stub that drifts from its module fails here.
"""

import ast
import importlib
import importlib.machinery
import inspect
from pathlib import Path

import pytest

import tessel
from tessel import infos, nodeweave
from tessel.road.engine import apply_engine
from tessel.testing import Doc, Group, Pixel, Text, build_psd

PACKAGE = Path(tessel.__file__).resolve().parent
COMPILED = sorted(
    path.name.split(".")[0]
    for path in PACKAGE.iterdir()
    if any(path.name.endswith(suffix) for suffix in importlib.machinery.EXTENSION_SUFFIXES)
)
# Attributes every pybind11 class or exception class carries without the module defining them.
INFRASTRUCTURE = {"__module__", "__dict__", "__weakref__", "__doc__", "_pybind11_conduit_v1_"}


def _public(name):
    return not name.startswith("_")


class Stub:
    """What one .pyi file declares."""

    def __init__(self, name):
        self.path = PACKAGE / f"{name}.pyi"
        self.tree = ast.parse(self.path.read_text(encoding="utf-8"), filename=str(self.path))
        self.names = set()
        self.functions = {}
        self.classes = {}
        for node in self.tree.body:
            if isinstance(node, ast.ClassDef):
                self.classes[node.name] = node
                self.names.add(node.name)
            elif isinstance(node, ast.FunctionDef):
                self.functions[node.name] = node
                self.names.add(node.name)
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                self.names.add(node.target.id)
            elif isinstance(node, ast.Assign):
                self.names.update(t.id for t in node.targets if isinstance(t, ast.Name))
            elif isinstance(node, (ast.Import, ast.ImportFrom)):
                # Only "import a as a" and "from m import a as a" re-export (PEP 484).
                self.names.update(alias.asname for alias in node.names if alias.asname == alias.name.split(".")[-1])
        self.names = {n for n in self.names if _public(n)}

    def members(self, cls):
        """{name: kind} of what the class body defines: "method", "property", "classvar", "field"."""
        found = {}
        for node in self.classes[cls].body:
            if isinstance(node, ast.FunctionDef):
                decorators = [ast.unparse(d) for d in node.decorator_list]
                if "property" in decorators:
                    found[node.name] = "property"
                elif not any(d.endswith(".setter") for d in decorators):
                    found[node.name] = "method"
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                classvar = ast.unparse(node.annotation).startswith("ClassVar")
                found[node.target.id] = "classvar" if classvar else "field"
        return found

    def setters(self, cls):
        """Names of the properties that the class body gives a setter."""
        return {
            node.name
            for node in self.classes[cls].body
            if isinstance(node, ast.FunctionDef)
            and any(ast.unparse(d) == f"{node.name}.setter" for d in node.decorator_list)
        }

    def bases(self, cls):
        return [ast.unparse(b) for b in self.classes[cls].bases]

    def mro(self, cls):
        """The stub classes of ``cls`` and its bases (those the stub itself defines, or another stub does)."""
        order = [cls]
        for base in self.bases(cls):
            owner = self if base in self.classes else _stub_defining(base)
            if owner is not None:
                order += [c for c in owner.mro(base) if c not in order]
        return order

    def declared(self, cls, kinds):
        """Names of the given kinds declared on ``cls`` or any of its stub bases."""
        names = set()
        for each in self.mro(cls):
            owner = self if each in self.classes else _stub_defining(each)
            names |= {n for n, k in owner.members(each).items() if k in kinds}
        return names


_STUBS = {}


def stub(name):
    if name not in _STUBS:
        _STUBS[name] = Stub(name)
    return _STUBS[name]


def _stub_defining(cls):
    for name in COMPILED:
        if cls in stub(name).classes:
            return stub(name)
    return None


def _runtime_classes(module):
    """The classes the module itself defines (not the ones it takes over from another)."""
    return {
        name: value
        for name, value in vars(module).items()
        if inspect.isclass(value) and value.__module__ == module.__name__
    }


def _runtime_signature(func):
    """The ``ast.arguments`` and return text pybind11 wrote as the docstring's first line."""
    first = (func.__doc__ or "").lstrip().split("\n", 1)[0]
    assert not first.startswith("Overloaded"), f"{func!r}: overloads need @overload in the stub"
    head, _, returns = first.partition(" -> ")
    tree = ast.parse(f"def {head}: pass")
    return tree.body[0].args, returns.strip()


def _defaults(args):
    """{parameter: default} of an ``ast.arguments``; the default as a value when it is a literal."""
    positional = args.posonlyargs + args.args
    values = {}
    for param, default in zip(positional[len(positional) - len(args.defaults):], args.defaults):
        values[param.arg] = default
    for param, default in zip(args.kwonlyargs, args.kw_defaults):
        if default is not None:
            values[param.arg] = default

    def value(node):
        try:
            return ast.literal_eval(node)
        except ValueError:
            return ast.unparse(node)

    return {name: value(node) for name, node in values.items()}


def _compare_signature(where, runtime_func, stub_def):
    runtime, returns = _runtime_signature(runtime_func)
    declared = stub_def.args
    names = lambda a: [p.arg for p in a.posonlyargs + a.args + a.kwonlyargs]
    assert names(declared) == names(runtime), f"{where}: parameters"
    assert len(declared.posonlyargs) == len(runtime.posonlyargs), f"{where}: positional-only parameters"
    assert [p.arg for p in declared.kwonlyargs] == [p.arg for p in runtime.kwonlyargs], f"{where}: keyword-only"
    assert bool(declared.vararg) == bool(runtime.vararg) and bool(declared.kwarg) == bool(runtime.kwarg), where
    assert _defaults(declared) == _defaults(runtime), f"{where}: defaults"
    stub_returns = ast.unparse(stub_def.returns) if stub_def.returns is not None else None
    assert (stub_returns == "None") == (returns == "None"), f"{where}: returns {returns}, stub says {stub_returns}"


# ---------------------------------------------------------------------------


def test_every_compiled_module_ships_a_stub_and_the_package_is_typed():
    assert set(COMPILED) >= {"infos", "layerkit", "nodeweave", "_jsonwriter"}
    assert [name for name in COMPILED if not (PACKAGE / f"{name}.pyi").is_file()] == []
    assert (PACKAGE / "py.typed").is_file()


@pytest.mark.parametrize("name", COMPILED)
def test_stub_and_module_have_the_same_public_names(name):
    module = importlib.import_module(f"tessel.{name}")
    runtime = {n for n in vars(module) if _public(n)}
    declared = stub(name).names
    assert sorted(runtime - declared) == [], "in the module, missing from the stub"
    assert sorted(declared - runtime) == [], "in the stub, missing from the module"


@pytest.mark.parametrize("name", COMPILED)
def test_function_signatures_match(name):
    module = importlib.import_module(f"tessel.{name}")
    functions = stub(name).functions
    checked = 0
    for fname, func in vars(module).items():
        if _public(fname) and callable(func) and not inspect.isclass(func) and fname in functions:
            _compare_signature(f"{name}.{fname}", func, functions[fname])
            checked += 1
    assert checked == len(functions)


@pytest.mark.parametrize("name", ["infos", "nodeweave"])
def test_classes_match_bases_methods_properties_and_signatures(name):
    module = importlib.import_module(f"tessel.{name}")
    s = stub(name)
    runtime_classes = _runtime_classes(module)
    assert sorted(runtime_classes) == sorted(s.classes)
    for cname, cls in runtime_classes.items():
        where = f"{name}.{cname}"
        bases = [b.__name__ for b in cls.__bases__ if b.__name__ != "pybind11_object"]
        assert s.bases(cname) == bases, f"{where}: bases"
        declared = s.members(cname)
        own = {k: v for k, v in vars(cls).items() if k not in INFRASTRUCTURE}
        for member, value in own.items():
            if isinstance(value, property):
                assert declared.get(member) == "property", f"{where}.{member}: a property"
                assert (member in s.setters(cname)) == (value.fset is not None), f"{where}.{member}: setter"
            elif callable(value):
                assert declared.get(member) == "method", f"{where}.{member}: a method"
                if (value.__doc__ or "").startswith(f"{member}("):  # a pybind11 signature, not a slot wrapper
                    _compare_signature(f"{where}.{member}", value, _method(s, cname, member))
            else:
                assert member in s.declared(cname, {"classvar"}), f"{where}.{member}: a class attribute"
        for member, kind in declared.items():
            if kind in ("method", "property"):
                # __getattr__ stands for the members that text layers take from their style sheets.
                assert member in own or member == "__getattr__", f"{where}.{member}: not defined by the class"
            elif kind == "classvar":
                assert hasattr(cls, member), f"{where}.{member}: no such class attribute"


def _method(s, cname, member):
    return next(n for n in s.classes[cname].body if isinstance(n, ast.FunctionDef) and n.name == member)


# ---------------------------------------------------------------------------
# Instance fields: every field that a real export sets is declared, and every declared one is set.


def _export_objects(outdir):
    doc = Doc(120, 80, [
        Pixel("bg", size=(120, 80)),
        Group("Button_ok", [
            Pixel("btn_4,4,4,4", size=(30, 20), left=10, top=10),
            Text("Label_title", "hi", left=12, top=12, box=(26, 16)),
        ]),
    ])
    psd = infos.YPSD(build_psd(doc), str(outdir / "doc.psd"))
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    apply_engine(psd, "2.4")  # the node fields that only some exports carry
    nodeweave.refleshIdAndCreateMeta(psd)
    seen = {}

    def visit(obj):
        if id(obj) in seen or not isinstance(obj, (infos.YRoot, infos.YText, nodeweave.CCBase, nodeweave.CCMetaBase)):
            return
        seen[id(obj)] = obj
        for value in vars(obj).values():
            for item in value if isinstance(value, list) else value.values() if isinstance(value, dict) else [value]:
                visit(item)

    visit(psd)
    for obj in psd.totalInfo:
        visit(obj)
    # The bases that the export never makes on their own.
    for cls in (nodeweave.CCBase, nodeweave.CCName, nodeweave.CCItem, nodeweave.CCComponent, nodeweave.CCMetaBase):
        visit(cls())
    return list(seen.values())


def _style_members(text_layer):
    resources = text_layer.layer.resource_dict
    sheet = resources["StyleSheetSet"][resources["TheNormalStyleSheet"]]["StyleSheetData"]
    return {getattr(key, "value", key) for key in sheet}


def test_instance_fields_match_the_stubs(outdir):
    objects = _export_objects(outdir)
    kinds = {type(obj) for obj in objects}
    assert len(kinds) >= 20
    observed = {}
    for obj in objects:
        cls = type(obj)
        s = stub(cls.__module__.rsplit(".", 1)[1])
        fields = s.declared(cls.__name__, {"field"})
        extra = set(vars(obj)) - fields
        if isinstance(obj, infos.YText):
            extra -= _style_members(obj)
        assert sorted(extra) == [], f"{cls.__name__}: fields the stub does not declare"
        for klass in cls.__mro__:
            observed.setdefault(klass.__name__, set()).update(vars(obj))
    for name in COMPILED:
        s = stub(name)
        for cname in s.classes:
            if cname == "MetaFileError":
                continue
            declared = {n for n, k in s.members(cname).items() if k == "field"}
            assert sorted(declared - observed.get(cname, set())) == [], f"{cname}: declared fields no object has"
