/// Attribute names and constants as Python objects made once, when the module is imported.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace host {

/// One attribute or key name as interned text. Defined at namespace scope; bind_module
/// interns every one of its module, so a look-up with it neither allocates nor hashes
/// and hits the type's attribute cache (which only ever matches interned names).
class Name {
public:
    explicit Name(const char *text);
    Name(const Name &) = delete;
    Name &operator=(const Name &) = delete;
    PyObject *ptr() const { return obj_; }
    operator py::handle() const { return obj_; }

private:
    friend void intern_names();
    const char *text_;
    PyObject *obj_ = nullptr;
    Name *next_;
};

/// Interns every Name of this extension module; bind_module calls it.
void intern_names();

/// Python objects that never change, made at import and kept for the process.
namespace constant {
/// The ints 0 and 1.
py::handle zero();
py::handle one();
/// 0.5, the float.
py::handle half();
/// The empty str.
py::handle empty();
}  // namespace constant

/// A new reference from the C API as an object; null means a Python error is set.
inline py::object own(PyObject *result) {
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

/// obj.<name>, through Python attribute lookup.
inline py::object get(py::handle obj, const Name &name) { return own(PyObject_GetAttr(obj.ptr(), name.ptr())); }

/// obj.<name> = value, through Python attribute lookup.
inline void set(py::handle obj, const Name &name, py::handle value) {
    if (PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()) < 0) throw py::error_already_set();
}

/// obj.<name>(), the method found by attribute lookup.
inline py::object call_method(py::handle obj, const Name &name) {
    return own(PyObject_CallMethodNoArgs(obj.ptr(), name.ptr()));
}

/// obj.<name>(arg), the method found by attribute lookup.
inline py::object call_method(py::handle obj, const Name &name, py::handle arg) {
    return own(PyObject_CallMethodOneArg(obj.ptr(), name.ptr(), arg.ptr()));
}

/// dict[key] = value for an exact or derived dict.
inline void put(py::handle dict, const Name &key, py::handle value) {
    if (PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()) < 0) throw py::error_already_set();
}

/// Python truth value of `obj`; errors of `__bool__` propagate.
inline bool truth(py::handle obj) {
    int result = PyObject_IsTrue(obj.ptr());
    if (result < 0) throw py::error_already_set();
    return result != 0;
}

}  // namespace host
