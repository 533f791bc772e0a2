#include "layerkit/jsonemit.hpp"
#include "layerkit/layerkit.hpp"

void bind_dict_output(py::module_ &m) {
    m.def(
        "exportDict2Json",
        [](py::handle data) {
            jsonemit::Options options;
            options.ensure_ascii = true;
            py::int_ four(4);
            options.indent = four;
            return jsonemit::dumps(data, options);
        },
        py::arg("data"), "The JSON text of `data`, ASCII only and indented by four, as json.dumps writes it.");
    m.def(
        "exportDict2Binary", [](py::handle) {}, py::arg("data"), "The binary form: not produced; returns None.");
}
