#include "host/host.hpp"

namespace host::reader {

namespace {
bool is_instance(py::handle layer, const char *cls) {
    int r = PyObject_IsInstance(layer.ptr(), module().attr(cls).ptr());
    if (r < 0) throw py::error_already_set();
    return r != 0;
}
}  // namespace

Kind kind_of(py::handle layer) {
    if (is_instance(layer, "Group")) return Kind::group;
    if (is_instance(layer, "TypeLayer")) return Kind::text;
    if (is_instance(layer, "PixelLayer")) return Kind::pixel;
    return Kind::other;
}

py::object kind(py::handle layer) { return layer.attr("kind"); }
py::object name(py::handle layer) { return layer.attr("name"); }

bool visible(py::handle layer) {
    int truth = PyObject_IsTrue(layer.attr("visible").ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

py::object visible_value(py::handle layer) { return layer.attr("visible"); }
py::object layer_id(py::handle layer) { return layer.attr("layer_id"); }
py::object left(py::handle layer) { return layer.attr("left"); }
py::object top(py::handle layer) { return layer.attr("top"); }
py::object right(py::handle layer) { return layer.attr("right"); }
py::object bottom(py::handle layer) { return layer.attr("bottom"); }
py::object width(py::handle layer) { return layer.attr("width"); }
py::object height(py::handle layer) { return layer.attr("height"); }
py::object opacity(py::handle layer) { return layer.attr("opacity"); }
py::object topil(py::handle layer) { return layer.attr("topil")(); }
py::object engine_dict(py::handle layer) { return layer.attr("engine_dict"); }
py::object resource_dict(py::handle layer) { return layer.attr("resource_dict"); }
py::object transform(py::handle layer) { return layer.attr("_data").attr("transform"); }
py::iterator children(py::handle group) { return py::iter(group); }

}  // namespace host::reader
