/// How the modules define Python classes whose state lives in the instance __dict__.
#pragma once

#include "host/names.hpp"

#include <pybind11/pybind11.h>

#include <functional>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace host {

namespace detail {
/// The `__init__` that def_init gave the class of T (with these arguments), for create().
template <typename T, typename... Args>
struct Init {
    static inline std::function<void(py::handle, Args...)> body;
    static inline PyTypeObject *type = nullptr;
    static inline PyObject *function = nullptr;
    static inline py::detail::type_info *info = nullptr;
};

/// A method defined by def_hook: its function object as the class holds it, and its body.
struct Hook {
    PyObject *descr;
    void (*body)(py::handle);
};
std::vector<Hook> &hooks();
/// The same for methods of one argument with a result.
struct Hook1 {
    PyObject *descr;
    py::object (*body)(py::handle, py::handle);
};
std::vector<Hook1> &hooks1();
/// The method object `name` of `cls`, kept for good.
PyObject *own_descr(py::handle cls, const char *name);
/// Whether obj.<name> finds `descr` itself: through the class (its own or inherited)
/// and not shadowed by an attribute of the object.
bool finds(py::handle obj, const Name &name, PyObject *descr);

/// "__init__" as interned text, and the empty argument tuple.
PyObject *init_name();
PyObject *empty_tuple();
}  // namespace detail

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
    using D = detail::Init<T, Args...>;
    D::body = body;
    D::type = reinterpret_cast<PyTypeObject *>(cls.ptr());
    D::function = _PyType_Lookup(D::type, detail::init_name());
    Py_XINCREF(D::function);
    D::info = py::detail::get_type_info(D::type);
}

/// `cls(*args)`, as Python makes it. When `cls` is T's own class with the `__init__`
/// that def_init gave it (with exactly these argument types), the body runs directly
/// on a new instance: pybind11's call dispatch and argument conversion are skipped,
/// nothing else. A replaced or derived class, or a replaced `__init__`, is called.
template <typename T, typename... Args>
py::object create(py::handle cls, Args... args) {
    using D = detail::Init<T, Args...>;
    auto *type = reinterpret_cast<PyTypeObject *>(cls.ptr());
    if (type != D::type || D::function == nullptr || type->tp_new != py::detail::pybind11_object_new ||
        _PyType_Lookup(type, detail::init_name()) != D::function)
        return py::reinterpret_borrow<py::object>(cls)(std::forward<Args>(args)...);
    py::object self = own(type->tp_new(type, detail::empty_tuple(), nullptr));
    auto *inst = reinterpret_cast<py::detail::instance *>(self.ptr());
    py::detail::value_and_holder v_h = inst->get_value_and_holder(D::info, true);
    D::body(self, std::forward<Args>(args)...);
    v_h.value_ptr() = new T();
    D::info->init_instance(inst, nullptr);
    return self;
}

/// create() of T's own registered class.
template <typename T, typename... Args>
py::object create_own(Args... args) {
    PyTypeObject *type = detail::Init<T, Args...>::type;
    if (type == nullptr) return py::type::of<T>()(std::forward<Args>(args)...);
    return create<T>(py::handle(reinterpret_cast<PyObject *>(type)), std::forward<Args>(args)...);
}

/// Defines the method `name(self)` of `cls` running `body`, and remembers its function
/// object for call_hook.
template <typename Class, typename... Extra>
void def_hook(Class &cls, const char *name, void (*body)(py::handle), const Extra &...extra) {
    cls.def(name, [body](py::object self) { body(self); }, extra...);
    detail::hooks().push_back({detail::own_descr(cls, name), body});
}

/// def_hook for a method `name(self, arg)` with a result.
template <typename Class, typename... Extra>
void def_hook(Class &cls, const char *name, py::object (*body)(py::handle, py::handle), const Extra &...extra) {
    cls.def(name, [body](py::object self, py::object arg) { return body(self, arg); }, extra...);
    detail::hooks1().push_back({detail::own_descr(cls, name), body});
}

/// obj.<name>() through attribute lookup. When lookup would find a method that
/// def_hook defined (the class's own or inherited, not shadowed by an attribute of the
/// object), its body runs directly instead of through pybind11's call dispatch; an
/// override anywhere is called as usual.
void call_hook(py::handle obj, const Name &name);

/// obj.<name>(arg), as call_hook does it.
py::object call_hook(py::handle obj, const Name &name, py::handle arg);

}  // namespace host
