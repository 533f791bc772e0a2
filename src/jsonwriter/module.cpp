#include "layerkit/jsonemit.hpp"

namespace py = pybind11;

namespace {
jsonemit::Options options(py::handle indent, py::handle default_fn, py::handle ensure_ascii) {
    jsonemit::Options o;
    int ascii = PyObject_IsTrue(ensure_ascii.ptr());
    if (ascii < 0) throw py::error_already_set();
    o.ensure_ascii = ascii != 0;
    o.indent = indent;
    o.default_fn = default_fn;
    return o;
}
}  // namespace

PYBIND11_MODULE(_jsonwriter, m) {
    m.doc() = "The host's JSON writer: json.dumps' layout from one native pass.";
    m.def(
        "dumps",
        [](py::handle data, py::handle indent, py::handle default_fn, py::handle ensure_ascii) {
            return jsonemit::dumps(data, options(indent, default_fn, ensure_ascii));
        },
        py::arg("data"), py::arg("indent"), py::arg("default"), py::arg("ensure_ascii") = false,
        "JSON text of `data` laid out as json.dumps(data, indent=indent, default=default,\n"
        "ensure_ascii=ensure_ascii) lays it out; `default` turns every value without JSON\n"
        "form into one, at any depth. With ensure_ascii false, text is written raw and\n"
        "only lone surrogates are escaped, so the result always encodes to UTF-8.");
    m.def(
        "dumpb",
        [](py::handle data, py::handle indent, py::handle default_fn, py::handle ensure_ascii) {
            return jsonemit::dumps_utf8(data, options(indent, default_fn, ensure_ascii));
        },
        py::arg("data"), py::arg("indent"), py::arg("default"), py::arg("ensure_ascii") = false,
        "dumps(...).encode('utf-8'), made without the text object in between.");
}
