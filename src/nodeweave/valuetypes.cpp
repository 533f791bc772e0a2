#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

#include <utility>

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n_x("x"), n_y("y"), n_z("z"), n_cctype("cctype"), n_width("width"), n_height("height"), n_w("w"),
    n_r("r"), n_g("g"), n_b("b"), n_a("a");
}  // namespace

namespace {

void vec2_init(py::handle self, py::object x, py::object y) {
    base_init(self);
    self.attr(n_x) = std::move(x);
    self.attr(n_y) = std::move(y);
}

layout::Rows vec2_members() { return base_members() + layout::named({"x", "y"}); }

layout::Rows vec3_members() { return vec2_members() + layout::named({"z"}); }

void vec3_init(py::handle self, py::object x, py::object y, py::object z) {
    vec2_init(self, std::move(x), std::move(y));
    self.attr(n_z) = std::move(z);
}

}  // namespace

void bind_valuetypes(py::module_ &m) {
    py::class_<CCColor, CCBase> color(m, "CCColor", py::dynamic_attr(), "RGBA, 0..255 each.");
    color.attr(n_cctype) = "cc.Color";
    host::def_init<>(color, [](py::handle self) {
        base_init(self);
        py::int_ full(255);
        for (const host::Name *channel : {&n_r, &n_g, &n_b, &n_a}) host::set(self, *channel, full);
    });
    def_fixdata(color, layout::Wrap::none,
                base_members() + layout::named({"r", "g", "b", "a"}));

    py::class_<CCSize, CCBase> size(m, "CCSize", py::dynamic_attr(), "Width and height in pixels.");
    size.attr(n_cctype) = "cc.Size";
    host::def_init<>(size, [](py::handle self) {
        base_init(self);
        self.attr(n_width) = py::int_(0);
        self.attr(n_height) = py::int_(0);
    });
    def_fixdata(size, layout::Wrap::none, base_members() + layout::named({"width", "height"}));

    py::class_<CCVec2, CCBase> vec2(m, "CCVec2", py::dynamic_attr(), "A 2D vector.");
    vec2.attr(n_cctype) = "cc.Vec2";
    host::def_init<py::object, py::object>(
        vec2, [](py::handle self, py::object x, py::object y) { vec2_init(self, x, y); },
        py::arg("x") = 0, py::arg("y") = 0);
    def_fixdata(vec2, layout::Wrap::none, vec2_members());

    py::class_<CCVec3, CCVec2> vec3(m, "CCVec3", py::dynamic_attr(), "A 3D vector.");
    vec3.attr(n_cctype) = "cc.Vec3";
    host::def_init<py::object, py::object, py::object>(
        vec3,
        [](py::handle self, py::object x, py::object y, py::object z) { vec3_init(self, x, y, z); },
        py::arg("x") = 0, py::arg("y") = 0, py::arg("z") = 0);
    def_fixdata(vec3, layout::Wrap::none, vec3_members());

    py::class_<CCQuat, CCVec3> quat(m, "CCQuat", py::dynamic_attr(),
                                    "A rotation quaternion; the default is the identity.");
    quat.attr(n_cctype) = "cc.Quat";
    host::def_init<py::object, py::object, py::object, py::object>(
        quat,
        [](py::handle self, py::object x, py::object y, py::object z, py::object w) {
            vec3_init(self, x, y, z);
            self.attr(n_w) = std::move(w);
        },
        py::arg("x") = 0, py::arg("y") = 0, py::arg("z") = 0, py::arg("w") = 1);
    def_fixdata(quat, layout::Wrap::none, vec3_members() + layout::named({"w"}));

    py::class_<CCTypedArray, CCBase> typed(m, "CCTypedArray", py::dynamic_attr(),
                                           "A typed array: the name of its constructor and its numbers.");
    typed.attr("cctype") = "TypedArray";
    host::def_init<py::object, py::object>(
        typed,
        [](py::handle self, py::object ctor, py::object array) {
            base_init(self);
            self.attr("ctor") = std::move(ctor);
            // A fresh list per object unless one is given: the default must not be shared.
            self.attr("array") = array.is_none() ? py::list() : std::move(array);
        },
        py::arg("ctor") = "Float64Array", py::arg("array") = py::none());
    def_fixdata(typed, layout::Wrap::none, base_members() + layout::named({"ctor", "array"}));
}

}  // namespace objects
