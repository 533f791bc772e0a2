#include "host/isa.hpp"

#include "host/names.hpp"

namespace host {

namespace {
Name kInstancecheck("__instancecheck__");
Name kClass("__class__");
}  // namespace

IsA::IsA(py::object cls) : cls_(std::move(cls)) {
    if (!PyType_Check(cls_.ptr())) return;
    PyObject *check = _PyType_Lookup(Py_TYPE(cls_.ptr()), kInstancecheck.ptr());
    plain_ = check != nullptr && check == _PyType_Lookup(&PyType_Type, kInstancecheck.ptr());
}

bool IsA::operator()(py::handle obj) const {
    if (plain_) {
        PyTypeObject *type = Py_TYPE(obj.ptr());
        if (PyType_IsSubtype(type, reinterpret_cast<PyTypeObject *>(cls_.ptr()))) return true;
        // isinstance would go on to ask the object's __class__: only a type that
        // answers it otherwise than object does needs that.
        if (type->tp_getattro == PyObject_GenericGetAttr &&
            _PyType_Lookup(type, kClass.ptr()) == _PyType_Lookup(&PyBaseObject_Type, kClass.ptr()))
            return false;
    }
    int result = PyObject_IsInstance(obj.ptr(), cls_.ptr());
    if (result < 0) throw py::error_already_set();
    return result != 0;
}

}  // namespace host
