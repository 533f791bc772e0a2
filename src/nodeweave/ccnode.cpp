#include "nodeweave/objects.hpp"

#include "host/pyclass.hpp"

#include <cmath>

namespace objects {

namespace {

/// Nearest integer to `v`, a tie going to the even neighbour (Python's round).
double round_half_even(double v) {
    double floor = std::floor(v);
    // Exact for every finite double: the fraction part of a double is representable.
    double fraction = v - floor;
    if (fraction < 0.5) return floor;
    if (fraction > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

/// A colour fraction (0..1) times 255, rounded half to even, as a Python int.
py::object channel(py::handle fraction) {
    double value = PyFloat_AsDouble(fraction.ptr());
    if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    // NaN and infinities raise ValueError / OverflowError, as Python's round would.
    PyObject *rounded = PyLong_FromDouble(round_half_even(value * 255.0));
    if (!rounded) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(rounded);
}

/// The layer's edge coordinate, or 0 when it is None or zero.
py::object edge_or_zero(py::object value) {
    return truthy(value) ? value : py::int_(0);
}

void node_init(py::handle self) {
    item_init(self);
    self.attr("_parent") = py::none();
    self.attr("_children") = py::list();
    self.attr("_active") = py::bool_(true);
    self.attr("_level") = py::int_(0);
    self.attr("_components") = py::list();
    self.attr("_prefab") = py::none();
    self.attr("_opacity") = py::int_(255);
    // Each node owns its value objects: the position pass changes them in place.
    self.attr("_color") = py::type::of<CCColor>()();
    self.attr("_contentSize") = py::type::of<CCSize>()();
    self.attr("_anchorPoint") = py::type::of<CCVec2>()(0.5, 0.5);
    self.attr("_position") = py::type::of<CCVec3>()();
    self.attr("_scale") = py::type::of<CCVec3>()(1, 1, 1);
    self.attr("_rotationX") = py::int_(0);
    self.attr("_rotationY") = py::int_(0);
    self.attr("_quat") = py::type::of<CCQuat>()();
    self.attr("_skewX") = py::int_(0);
    self.attr("_skewY") = py::int_(0);
    self.attr("groupIndex") = py::int_(0);
    self.attr("_localPosition") = py::type::of<CCVec2>()();
}

void node_read(py::handle self) {
    name_read(self);
    py::object layer = self.attr("layer");
    bool is_psd = py::isinstance(layer, global("YPSD"));

    self.attr("_opacity") = is_psd ? py::object(py::int_(255)) : py::object(layer.attr("opacity"));
    py::object size = self.attr("_contentSize");
    size.attr("width") = layer.attr("width");
    size.attr("height") = layer.attr("height");

    // Fractions in the order alpha, red, green, blue; white unless a text colour exists.
    py::object values = py::make_tuple(1, 1, 1, 1);
    if (py::isinstance(layer, global("YText"))) {
        py::object fill = layer.attr("FillColor")["Values"];
        if (truthy(fill)) values = fill;
    }
    py::object color = self.attr("_color");
    color.attr("a") = channel(values[py::int_(0)]);
    color.attr("r") = channel(values[py::int_(1)]);
    color.attr("g") = channel(values[py::int_(2)]);
    color.attr("b") = channel(values[py::int_(3)]);

    py::object position = self.attr("_position");
    if (is_psd) {
        position.attr("x") = py::int_(0);
        position.attr("y") = py::int_(0);
    } else {
        position.attr("x") = edge_or_zero(layer.attr("x"));
        position.attr("y") = edge_or_zero(layer.attr("y"));
    }
    if (py::isinstance(layer, global("YTextLayer"))) read_text_box(self, layer);
}

layout::Rows node_members() {
    // The parent-relative position is what the engine reads; `_position` is the
    // document position the position pass works from.
    return item_members() +
           layout::named({"_parent", "_children", "_active", "_level", "_components", "_prefab", "_opacity",
                          "_color", "_contentSize", "_anchorPoint"}) +
           layout::Rows{{"_position", "_localPosition"}} +
           layout::named({"_scale"}) +
           // Only nodes made for runtimes that read the transform array carry these
           // (the engine serializes them right after "_scale").
           layout::Rows{{"_trs", "_trs", layout::Source::present},
                        {"_eulerAngles", "_eulerAngles", layout::Source::present}} +
           layout::named({"_rotationX", "_rotationY", "_quat", "_skewX", "_skewY", "groupIndex"});
}

}  // namespace

void bind_ccnode(py::module_ &m) {
    py::class_<CCNode, CCItem> node(m, "CCNode", py::dynamic_attr(),
                                    "The \"cc.Node\" of one layer-info object.");
    node.attr("cctype") = "cc.Node";
    host::def_init<>(node, [](py::handle self) { node_init(self); });
    node.def("read", [](py::object self) { node_read(self); });
    def_fixdata(node, layout::Wrap::item, node_members());
    node.def_property(
        "level", [](py::object self) { return py::object(self.attr("_level")); },
        [](py::object self, py::object value) { self.attr("_level") = value; },
        "Depth of the layer in the tree, held in `_level`.");
}

}  // namespace objects
