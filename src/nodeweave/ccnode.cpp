#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/isa.hpp"
#include "host/pyclass.hpp"

#include <cmath>

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n__parent("_parent"), n__children("_children"), n__active("_active"), n__level("_level"),
    n__components("_components"), n__prefab("_prefab"), n__opacity("_opacity"), n__color("_color"),
    n__contentSize("_contentSize"), n__anchorPoint("_anchorPoint"), n__position("_position"),
    n__scale("_scale"), n__rotationX("_rotationX"), n__rotationY("_rotationY"), n__quat("_quat"),
    n__skewX("_skewX"), n__skewY("_skewY"), n_groupIndex("groupIndex"), n__localPosition("_localPosition"),
    n_layer("layer"), n_YPSD("YPSD"), n_opacity("opacity"), n_width("width"), n_height("height"),
    n_YText("YText"), n_YTextLayer("YTextLayer"), n_FillColor("FillColor"), n_Values("Values"), n_a("a"), n_r("r"), n_g("g"), n_b("b"),
    n_x("x"), n_y("y"), n_cctype("cctype");
}  // namespace

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
    const py::object zero = py::reinterpret_borrow<py::object>(host::constant::zero());
    const py::object one = py::reinterpret_borrow<py::object>(host::constant::one());
    const py::object half = py::reinterpret_borrow<py::object>(host::constant::half());
    self.attr(n__parent) = py::none();
    self.attr(n__children) = py::list();
    self.attr(n__active) = py::bool_(true);
    self.attr(n__level) = py::int_(0);
    self.attr(n__components) = py::list();
    self.attr(n__prefab) = py::none();
    self.attr(n__opacity) = py::int_(255);
    // Each node owns its value objects: the position pass changes them in place.
    self.attr(n__color) = host::create_own<CCColor>();
    self.attr(n__contentSize) = host::create_own<CCSize>();
    self.attr(n__anchorPoint) = host::create_own<CCVec2>(half, half);
    self.attr(n__position) = host::create_own<CCVec3>(zero, zero, zero);
    self.attr(n__scale) = host::create_own<CCVec3>(one, one, one);
    self.attr(n__rotationX) = py::int_(0);
    self.attr(n__rotationY) = py::int_(0);
    self.attr(n__quat) = host::create_own<CCQuat>(zero, zero, zero, one);
    self.attr(n__skewX) = py::int_(0);
    self.attr(n__skewY) = py::int_(0);
    self.attr(n_groupIndex) = py::int_(0);
    self.attr(n__localPosition) = host::create_own<CCVec2>(zero, zero);
}

void node_read(py::handle self) {
    name_read(self);
    py::object layer = self.attr(n_layer);
    bool is_psd = host::IsA(global(n_YPSD))(layer);

    self.attr(n__opacity) = is_psd ? py::object(py::int_(255)) : py::object(layer.attr(n_opacity));
    py::object size = self.attr(n__contentSize);
    size.attr(n_width) = layer.attr(n_width);
    size.attr(n_height) = layer.attr(n_height);

    // Fractions in the order alpha, red, green, blue; white unless a text colour exists.
    py::object values = py::make_tuple(1, 1, 1, 1);
    if (host::IsA(global(n_YText))(layer)) {
        py::object fill = layer.attr(n_FillColor)[n_Values];
        if (truthy(fill)) values = fill;
    }
    py::object color = self.attr(n__color);
    color.attr(n_a) = channel(values[py::int_(0)]);
    color.attr(n_r) = channel(values[py::int_(1)]);
    color.attr(n_g) = channel(values[py::int_(2)]);
    color.attr(n_b) = channel(values[py::int_(3)]);

    py::object position = self.attr(n__position);
    if (is_psd) {
        position.attr(n_x) = py::int_(0);
        position.attr(n_y) = py::int_(0);
    } else {
        position.attr(n_x) = edge_or_zero(layer.attr(n_x));
        position.attr(n_y) = edge_or_zero(layer.attr(n_y));
    }
    if (host::IsA(global(n_YTextLayer))(layer)) read_text_box(self, layer);
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
    node.attr(n_cctype) = "cc.Node";
    host::def_init<>(node, [](py::handle self) { node_init(self); });
    host::def_hook(node, "read", node_read);
    def_fixdata(node, layout::Wrap::item, node_members());
    node.def_property(
        "level", [](py::object self) { return py::object(self.attr(n__level)); },
        [](py::object self, py::object value) { self.attr(n__level) = value; },
        "Depth of the layer in the tree, held in `_level`.");
}

}  // namespace objects
