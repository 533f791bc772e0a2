#include "nodeweave/objects.hpp"

#include "host/names.hpp"

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n_join("join"), n_uuidDict("uuidDict"), n_getUUID("getUUID");
}  // namespace

/// `digest` as 8-4-4-4-rest: the same text the character list below makes from an
/// exact str of at least 20 characters, without a list of one-character strings.
py::object dashed(py::handle digest) {
    static PyObject *const dash = PyUnicode_InternFromString("-");
    if (dash == nullptr) throw py::error_already_set();
    const Py_ssize_t cuts[] = {0, 8, 12, 16, 20, PyUnicode_GET_LENGTH(digest.ptr())};
    py::tuple parts(5);
    for (size_t i = 0; i < 5; ++i) {
        PyObject *part = PyUnicode_Substring(digest.ptr(), cuts[i], cuts[i + 1]);
        if (part == nullptr) throw py::error_already_set();
        PyTuple_SET_ITEM(parts.ptr(), i, part);
    }
    return host::own(PyUnicode_Join(dash, parts.ptr()));
}

py::object get_uuid() {
    py::object digest = host::filemanager::md5();
    if (PyUnicode_CheckExact(digest.ptr()) && PyUnicode_GET_LENGTH(digest.ptr()) >= 20) return dashed(digest);
    // Works on the characters of the digest as Python text, so whatever the host
    // returns (letter case, length) is kept; inserting from the back keeps the
    // earlier positions valid and turns 32 digits into 8-4-4-4-12.
    PyObject *chars = PySequence_List(digest.ptr());
    if (!chars) throw py::error_already_set();
    py::list digits = py::reinterpret_steal<py::list>(chars);
    py::str dash("-");
    for (Py_ssize_t at : {20, 16, 12, 8})
        if (PyList_Insert(digits.ptr(), at, dash.ptr()) < 0) throw py::error_already_set();
    return py::str("").attr(n_join)(digits);
}

void bind_uuid(py::module_ &m) {
    // Image name to sprite-frame UUID for the life of the process, across exports.
    m.attr(n_uuidDict) = py::dict();
    m.def("getUUID", &get_uuid, "A fresh UUID (8-4-4-4-12) from the host's md5 digest.");
    m.def(
        "getUUIDByName",
        [](py::object image_name) {
            // Looked up at every call: the dictionary is the module attribute itself.
            py::object cache = global(n_uuidDict);
            if (cache.contains(image_name)) return py::object(cache[image_name]);
            py::object uuid = global(n_getUUID)();
            cache[image_name] = uuid;
            return uuid;
        },
        py::arg("imageName"), py::pos_only(), "The UUID of an image name, made on first use.");
}

}  // namespace objects
