#include "host/numbers.hpp"

#include "host/names.hpp"

#include <cmath>

namespace num {

namespace {

enum class Op { add, sub, mul };

/// The value of an exact int that fits a long long.
bool exact_int(PyObject *o, long long &v) {
    if (!PyLong_CheckExact(o)) return false;
    int overflow = 0;
    v = PyLong_AsLongLongAndOverflow(o, &overflow);
    return overflow == 0;
}

/// Beyond 2**53 a double no longer holds every integer: Python would still convert,
/// but then the generic path gives its exact answer.
constexpr long long kExactDouble = 1LL << 53;

/// The value of an exact float, or of an exact int that a double holds exactly.
bool exact_real(PyObject *o, double &d) {
    if (PyFloat_CheckExact(o)) {
        d = PyFloat_AS_DOUBLE(o);
        return true;
    }
    long long v = 0;
    if (!exact_int(o, v) || v > kExactDouble || v < -kExactDouble) return false;
    d = static_cast<double>(v);
    return true;
}

PyObject *generic(Op op, PyObject *a, PyObject *b) {
    switch (op) {
        case Op::add: return PyNumber_Add(a, b);
        case Op::sub: return PyNumber_Subtract(a, b);
        case Op::mul: return PyNumber_Multiply(a, b);
    }
    return nullptr;
}

py::object apply(Op op, py::handle ha, py::handle hb) {
    PyObject *a = ha.ptr(), *b = hb.ptr();
    long long x = 0, y = 0, r = 0;
    if (exact_int(a, x) && exact_int(b, y)) {
        bool overflow = false;
        switch (op) {
            case Op::add: overflow = __builtin_add_overflow(x, y, &r); break;
            case Op::sub: overflow = __builtin_sub_overflow(x, y, &r); break;
            case Op::mul: overflow = __builtin_mul_overflow(x, y, &r); break;
        }
        if (!overflow) return host::own(PyLong_FromLongLong(r));
    } else if (PyFloat_CheckExact(a) || PyFloat_CheckExact(b)) {
        double p = 0, q = 0;
        if (exact_real(a, p) && exact_real(b, q)) {
            switch (op) {
                case Op::add: return host::own(PyFloat_FromDouble(p + q));
                case Op::sub: return host::own(PyFloat_FromDouble(p - q));
                case Op::mul: return host::own(PyFloat_FromDouble(p * q));
            }
        }
    }
    return host::own(generic(op, a, b));
}

}  // namespace

py::object add(py::handle a, py::handle b) { return apply(Op::add, a, b); }
py::object sub(py::handle a, py::handle b) { return apply(Op::sub, a, b); }
py::object mul(py::handle a, py::handle b) { return apply(Op::mul, a, b); }

py::object trunc(py::handle v) {
    if (PyLong_CheckExact(v.ptr())) return py::reinterpret_borrow<py::object>(v);
    // NaN and infinities raise as int() would.
    if (PyFloat_CheckExact(v.ptr())) return host::own(PyLong_FromDouble(PyFloat_AS_DOUBLE(v.ptr())));
    return host::own(PyNumber_Long(v.ptr()));
}

bool equals(py::handle v, long n) {
    long long x = 0;
    if (exact_int(v.ptr(), x)) return x == n;
    if (PyFloat_CheckExact(v.ptr())) return PyFloat_AS_DOUBLE(v.ptr()) == static_cast<double>(n);
    py::object other = host::own(PyLong_FromLong(n));
    int result = PyObject_RichCompareBool(v.ptr(), other.ptr(), Py_EQ);
    if (result < 0) throw py::error_already_set();
    return result != 0;
}

}  // namespace num
