/// How the modules define Python classes whose state lives in the instance __dict__.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace py = pybind11;

namespace host {

/// Defines `__init__` of a class whose fields are plain instance attributes: `body`
/// receives the Python `self` (already usable for setattr and method calls) and the
/// arguments. Keeping fields in `__dict__` lets any Python value live there and lets
/// the garbage collector see every reference through `py::dynamic_attr()`.
template <typename... Args, typename Class, typename F, typename... Extra>
void def_init(Class &cls, F body, const Extra &...extra) {
    using T = typename Class::type;
    cls.def(
        "__init__",
        [body](py::detail::value_and_holder &v_h, Args... args) {
            py::handle self(reinterpret_cast<PyObject *>(v_h.inst));
            body(self, std::forward<Args>(args)...);
            v_h.value_ptr() = new T();
        },
        py::detail::is_new_style_constructor(), extra...);
}

}  // namespace host
