/// Engine-data look-ups that skip the reader's Python-level key conversion and hashing.
#include "host/enginedata.hpp"

#include "host/host.hpp"
#include "host/names.hpp"

namespace host::engine {

namespace {

Name kValue("value"), kItems("_items"), kGetitem("__getitem__"), kContains("__contains__"), kGet("get"),
    kItemsMethod("items"), kDict("Dict"), kProperty("Property");

/// The reader's engine-data classes and the methods they had when first seen. A
/// method replaced later (a patch, a subclass's) no longer matches, and the object
/// itself is asked again.
struct Own {
    PyTypeObject *dict = nullptr;
    PyTypeObject *property = nullptr;
    PyObject *getitem = nullptr, *contains = nullptr, *get = nullptr, *items = nullptr;
};

const Own &own_types() {
    static const Own types = [] {
        Own found;
        for (const char *module : {"psd_tools2.psd.engine_data", "psd_tools.psd.engine_data"}) {
            PyObject *mod = PyImport_ImportModule(module);
            if (!mod) {
                PyErr_Clear();
                continue;
            }
            py::object m = py::reinterpret_steal<py::object>(mod);
            PyObject *dict = PyObject_GetAttr(m.ptr(), kDict.ptr());
            PyObject *property = PyObject_GetAttr(m.ptr(), kProperty.ptr());
            if (dict && property && PyType_Check(dict) && PyType_Check(property)) {
                // Kept for the process, like the module that holds them.
                found.dict = reinterpret_cast<PyTypeObject *>(dict);
                found.property = reinterpret_cast<PyTypeObject *>(property);
                found.getitem = _PyType_Lookup(found.dict, kGetitem.ptr());
                found.contains = _PyType_Lookup(found.dict, kContains.ptr());
                found.get = _PyType_Lookup(found.dict, kGet.ptr());
                found.items = _PyType_Lookup(found.dict, kItemsMethod.ptr());
                Py_XINCREF(found.getitem);
                Py_XINCREF(found.contains);
                Py_XINCREF(found.get);
                Py_XINCREF(found.items);
                return found;
            }
            Py_XDECREF(dict);
            Py_XDECREF(property);
            PyErr_Clear();
        }
        return found;
    }();
    return types;
}

PyObject *own_method(const Own &types, const Name &method) {
    if (&method == &kGetitem) return types.getitem;
    if (&method == &kContains) return types.contains;
    if (&method == &kGet) return types.get;
    return types.items;
}

enum class Found { yes, no, ask };

/// Looks `name` up among the reader's items by the key's text, which is what its
/// Property keys hash and compare by. Any key that is not a plain Property of text
/// leaves the answer to the dictionary itself.
Found find(PyObject *items, const Name &name, PyObject **value) {
    const Own &types = own_types();
    Py_ssize_t pos = 0;
    PyObject *key, *item;
    while (PyDict_Next(items, &pos, &key, &item)) {
        if (Py_TYPE(key) != types.property) return Found::ask;
        PyObject *text = PyObject_GetAttr(key, kValue.ptr());
        if (!text) {
            PyErr_Clear();
            return Found::ask;
        }
        bool exact = PyUnicode_CheckExact(text);
        bool same = exact && (text == name.ptr() || PyUnicode_Compare(text, name.ptr()) == 0);
        Py_DECREF(text);
        if (!exact) return Found::ask;
        if (same) {
            *value = item;
            return Found::yes;
        }
    }
    return Found::no;
}

/// The reader's item dictionary of `dict` (borrowed) when `dict` is exactly the reader's
/// engine-data Dict and `method` is still its own, else null (then ask the object itself).
PyObject *own_items(py::handle dict, const Name &method) {
    const Own &types = own_types();
    if (types.dict == nullptr || Py_TYPE(dict.ptr()) != types.dict) return nullptr;
    PyObject *mine = own_method(types, method);
    if (mine == nullptr || _PyType_Lookup(types.dict, method.ptr()) != mine) return nullptr;
    PyObject *items = PyObject_GetAttr(dict.ptr(), kItems.ptr());
    if (!items) {
        PyErr_Clear();
        return nullptr;
    }
    Py_DECREF(items);  // the dictionary holds it
    return PyDict_Check(items) ? items : nullptr;
}

}  // namespace

py::object get(py::handle dict, const Name &name) {
    if (PyObject *items = own_items(dict, kGetitem)) {
        PyObject *value = nullptr;
        if (find(items, name, &value) == Found::yes) return py::reinterpret_borrow<py::object>(value);
    }
    return own(PyObject_GetItem(dict.ptr(), reader::key(name).ptr()));
}

Answer lookup(py::handle dict, const Name &name, py::object &out) {
    PyObject *items = own_items(dict, kGetitem);
    if (!items) return Answer::ask;
    PyObject *value = nullptr;
    switch (find(items, name, &value)) {
        case Found::yes: out = py::reinterpret_borrow<py::object>(value); return Answer::found;
        case Found::no: return Answer::missing;
        case Found::ask: break;
    }
    return Answer::ask;
}

py::object get_or_none(py::handle dict, const Name &name) {
    if (PyObject *items = own_items(dict, kGet)) {
        PyObject *value = nullptr;
        switch (find(items, name, &value)) {
            case Found::yes: return py::reinterpret_borrow<py::object>(value);
            case Found::no: return py::none();
            case Found::ask: break;
        }
    }
    return call_method(dict, kGet, reader::key(name));
}

bool has(py::handle dict, const Name &name) {
    if (PyObject *items = own_items(dict, kContains)) {
        PyObject *value = nullptr;
        switch (find(items, name, &value)) {
            case Found::yes: return true;
            case Found::no: return false;
            case Found::ask: break;
        }
    }
    int r = PySequence_Contains(dict.ptr(), reader::key(name).ptr());
    if (r < 0) throw py::error_already_set();
    return r != 0;
}

py::object plain(py::handle leaf) {
    PyObject *o = leaf.ptr();
    // Built-in leaves have no `value`: skip the failed look-up and its exception.
    if (o == Py_None || PyUnicode_CheckExact(o) || PyLong_CheckExact(o) || PyFloat_CheckExact(o) || PyBool_Check(o) ||
        PyDict_CheckExact(o) || PyList_CheckExact(o) || PyTuple_CheckExact(o))
        return py::reinterpret_borrow<py::object>(leaf);
    PyObject *value = PyObject_GetAttr(o, kValue.ptr());
    if (value) return py::reinterpret_steal<py::object>(value);
    // hasattr's answer: any failure means "no value".
    PyErr_Clear();
    return py::reinterpret_borrow<py::object>(leaf);
}

void for_each_item(py::handle entries, const std::function<void(py::handle, py::handle)> &each) {
    if (PyObject *items = own_items(entries, kItemsMethod)) {
        py::object keep = py::reinterpret_borrow<py::object>(items);
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        // The reader's items() is a view of this dictionary: the same pairs in the same order.
        while (PyDict_Next(items, &pos, &key, &value)) {
            py::object k = py::reinterpret_borrow<py::object>(key), v = py::reinterpret_borrow<py::object>(value);
            each(k, v);
        }
        return;
    }
    for (py::handle item : entries.attr(kItemsMethod)()) each(py::object(item[py::int_(0)]), py::object(item[py::int_(1)]));
}

}  // namespace host::engine
