#include "host/names.hpp"

namespace host {

namespace {
// Constant-initialised, so Names of every file may join before any dynamic initialiser runs.
Name *g_names = nullptr;
PyObject *g_zero = nullptr;
PyObject *g_one = nullptr;
PyObject *g_half = nullptr;
PyObject *g_empty = nullptr;
}  // namespace

Name::Name(const char *text) : text_(text), next_(g_names) { g_names = this; }

void intern_names() {
    for (Name *name = g_names; name != nullptr; name = name->next_) {
        if (name->obj_ != nullptr) continue;
        name->obj_ = PyUnicode_InternFromString(name->text_);
        if (name->obj_ == nullptr) throw py::error_already_set();
    }
    if (g_zero == nullptr) g_zero = own(PyLong_FromLong(0)).release().ptr();
    if (g_one == nullptr) g_one = own(PyLong_FromLong(1)).release().ptr();
    if (g_half == nullptr) g_half = own(PyFloat_FromDouble(0.5)).release().ptr();
    if (g_empty == nullptr) g_empty = own(PyUnicode_FromStringAndSize("", 0)).release().ptr();
}

namespace constant {
py::handle zero() { return g_zero; }
py::handle one() { return g_one; }
py::handle half() { return g_half; }
py::handle empty() { return g_empty; }
}  // namespace constant

}  // namespace host
