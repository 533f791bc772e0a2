/// Python arithmetic on Python numbers, done in C++ when both operands are exact ints
/// or floats that it can represent exactly; the number protocol for anything else.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace num {

/// a + b, a - b, a * b with Python's result type (int with int, else float).
py::object add(py::handle a, py::handle b);
py::object sub(py::handle a, py::handle b);
py::object mul(py::handle a, py::handle b);

/// int(v): truncation toward zero; an int stays the same object.
py::object trunc(py::handle v);

/// v == n as Python compares them.
bool equals(py::handle v, long n);

}  // namespace num
