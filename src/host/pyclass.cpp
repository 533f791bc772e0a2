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

PyObject *empty_tuple() {
    static PyObject *empty = PyTuple_New(0);
    return empty;
}

}  // namespace host::detail

namespace host {

void call_hook(py::handle obj, const Name &name) {
    PyTypeObject *type = Py_TYPE(obj.ptr());
    if (type->tp_getattro == PyObject_GenericGetAttr) {
        PyObject *found = _PyType_Lookup(type, name.ptr());
        for (const detail::Hook &hook : detail::hooks()) {
            if (found == nullptr || hook.descr != found) continue;
            PyObject **dict = _PyObject_GetDictPtr(obj.ptr());
            PyObject *shadow = dict != nullptr && *dict != nullptr ? PyDict_GetItemWithError(*dict, name.ptr()) : nullptr;
            if (shadow == nullptr && PyErr_Occurred()) throw py::error_already_set();
            if (shadow == nullptr) {
                hook.body(obj);
                return;
            }
            break;
        }
    }
    call_method(obj, name);
}

}  // namespace host
