#include "layerkit/jsonemit.hpp"

namespace py = pybind11;

PYBIND11_MODULE(_jsonwriter, m) {
    m.doc() = "The host's JSON writer: json.dumps' layout from one native pass.";
    m.def(
        "dumps",
        [](py::handle data, py::handle indent, py::handle default_fn, py::handle ensure_ascii) {
            jsonemit::Options options;
            int ascii = PyObject_IsTrue(ensure_ascii.ptr());
            if (ascii < 0) throw py::error_already_set();
            options.ensure_ascii = ascii != 0;
            options.indent = indent;
            options.default_fn = default_fn;
            return jsonemit::dumps(data, options);
        },
        py::arg("data"), py::arg("indent"), py::arg("default"), py::arg("ensure_ascii") = false,
        "JSON text of `data` laid out as json.dumps(data, indent=indent, default=default,\n"
        "ensure_ascii=ensure_ascii) lays it out; `default` turns every value without JSON\n"
        "form into one, at any depth. With ensure_ascii false, text is written raw and\n"
        "only lone surrogates are escaped, so the result always encodes to UTF-8.");
}
