/// isinstance against one class, asked of many objects in a pass.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace host {

/// isinstance(obj, cls) with Python's answer, without calling `__instancecheck__`
/// where that would only compare the object's type with `cls`: a class whose
/// metaclass keeps type's `__instancecheck__`, asked about an object whose
/// `__class__` is its type. Anything else (an ABC, a proxy object) asks Python.
class IsA {
public:
    explicit IsA(py::object cls);
    bool operator()(py::handle obj) const;
    const py::object &cls() const { return cls_; }

private:
    py::object cls_;
    bool plain_ = false;
};

}  // namespace host
