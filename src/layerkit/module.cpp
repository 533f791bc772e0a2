#include "layerkit/layerkit.hpp"

PYBIND11_MODULE(layerkit, m) {
    m.doc() = "The layer-name language, nine-slice images and JSON text.";
    host::bind_module(m);
    m.attr("json") = py::module_::import("json");
    m.attr("re") = py::module_::import("re");
    m.attr("Image") = py::module_::import("PIL.Image");
    bind_names(m);
    bind_dict_output(m);
    bind_scale9(m);
}
