#include "host/pyclass.hpp"

namespace host::detail {

namespace {
Name kInit("__init__");
}  // namespace

PyObject *init_name() { return kInit.ptr(); }

std::vector<Hook> &hooks() {
    static std::vector<Hook> defined;
    return defined;
}

std::vector<Hook1> &hooks1() {
    static std::vector<Hook1> defined;
    return defined;
}

PyObject *own_descr(py::handle cls, const char *name) {
    py::str key(name);
    PyObject *descr = _PyType_Lookup(reinterpret_cast<PyTypeObject *>(cls.ptr()), key.ptr());
    if (descr == nullptr) throw py::error_already_set();
    Py_INCREF(descr);
    return descr;
}

bool finds(py::handle obj, const Name &name, PyObject *descr) {
    PyTypeObject *type = Py_TYPE(obj.ptr());
    if (type->tp_getattro != PyObject_GenericGetAttr || _PyType_Lookup(type, name.ptr()) != descr) return false;
    PyObject **dict = _PyObject_GetDictPtr(obj.ptr());
    if (dict == nullptr || *dict == nullptr) return true;
    PyObject *shadow = PyDict_GetItemWithError(*dict, name.ptr());
    if (shadow == nullptr && PyErr_Occurred()) throw py::error_already_set();
    return shadow == nullptr;
}

PyObject *empty_tuple() {
    static PyObject *empty = PyTuple_New(0);
    return empty;
}

}  // namespace host::detail

namespace host {

void call_hook(py::handle obj, const Name &name) {
    PyObject *found = _PyType_Lookup(Py_TYPE(obj.ptr()), name.ptr());
    for (const detail::Hook &hook : detail::hooks()) {
        if (found == nullptr || hook.descr != found) continue;
        if (!detail::finds(obj, name, found)) break;
        hook.body(obj);
        return;
    }
    call_method(obj, name);
}

py::object call_hook(py::handle obj, const Name &name, py::handle arg) {
    PyObject *found = _PyType_Lookup(Py_TYPE(obj.ptr()), name.ptr());
    for (const detail::Hook1 &hook : detail::hooks1()) {
        if (found == nullptr || hook.descr != found) continue;
        if (!detail::finds(obj, name, found)) break;
        return hook.body(obj, arg);
    }
    return call_method(obj, name, arg);
}

}  // namespace host
