/// The shape of a text layer: point or box text, its box in the document, its writing direction.
#include "infos/infos.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "host/enginedata.hpp"
#include "host/names.hpp"
#include "host/pyclass.hpp"

namespace infos {

namespace {

/// Engine-data keys of the rendered shape record.
host::Name kRendered("Rendered"), kShapes("Shapes"), kWritingDirection("WritingDirection"), kChildren("Children"),
    kCookie("Cookie"), kPhotoshop("Photoshop"), kShapeType("ShapeType"), kBoxBounds("BoxBounds");

/// One step into the engine data: a key, or (name null) the first element of a list.
struct Step {
    const host::Name *name;
};
constexpr Step kFirst{nullptr};

/// `root[k0][k1]...`, or None where a level is missing or of another kind: the rendered
/// shape record is optional, and writers other than Photoshop leave it out.
py::object optional_path(py::handle root, std::initializer_list<Step> steps) {
    py::object node = py::reinterpret_borrow<py::object>(root);
    for (const Step &step : steps) {
        if (step.name != nullptr) {
            host::engine::Answer answer = host::engine::lookup(node, *step.name, node);
            if (answer == host::engine::Answer::found) continue;
            if (answer == host::engine::Answer::missing) return py::none();
        }
        PyObject *key = step.name ? host::reader::key(*step.name).ptr() : host::constant::zero().ptr();
        PyObject *next = PyObject_GetItem(node.ptr(), key);
        if (!next) {
            if (!PyErr_ExceptionMatches(PyExc_LookupError) && !PyErr_ExceptionMatches(PyExc_TypeError))
                throw py::error_already_set();
            PyErr_Clear();
            return py::none();
        }
        node = py::reinterpret_steal<py::object>(next);
    }
    return plain(node);
}

/// The four numbers of a BoxBounds list (left, top, right, bottom), or None when it is not one.
py::object four_numbers(py::handle value) {
    if (value.is_none() || !py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value)) return py::none();
    py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    if (py::len(items) != 4) return py::none();
    py::list numbers;
    for (py::handle item : items) {
        double v = PyFloat_AsDouble(plain(item).ptr());
        if (v == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return py::none();
        }
        if (!std::isfinite(v)) return py::none();
        numbers.append(py::float_(v));
    }
    return std::move(numbers);
}

/// Larger than any coordinate of a document (at most 300,000 pixels a side) or any
/// transform factor; keeps the box arithmetic far from the range of long long.
constexpr double kLargest = 1e7;

/// Nearest whole pixel, halves up.
long long nearest(double v) { return static_cast<long long>(std::floor(v + 0.5)); }

}  // namespace

PixelBox box_in_document(const double transform[6], const double bounds[4]) {
    // The box corners go through the text's transform; a rotated box gives its
    // axis-aligned hull. Each edge is rounded to the nearest pixel on its own, so
    // an edge is never more than half a pixel off.
    const double xs[2] = {bounds[0], bounds[2]};
    const double ys[2] = {bounds[1], bounds[3]};
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    for (double bx : xs) {
        for (double by : ys) {
            double x = transform[0] * bx + transform[2] * by + transform[4];
            double y = transform[1] * bx + transform[3] * by + transform[5];
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    PixelBox box;
    box.left = nearest(left);
    box.top = nearest(top);
    box.width = nearest(right) - box.left;
    box.height = nearest(bottom) - box.top;
    return box;
}

void read_text_shape(py::handle self, py::handle engine) {
    py::object shapes = optional_path(engine, {{&kRendered}, {&kShapes}});
    py::object direction = optional_path(shapes, {{&kWritingDirection}});
    py::object cookie = optional_path(shapes, {{&kChildren}, kFirst, {&kCookie}, {&kPhotoshop}});
    py::object shape = optional_path(cookie, {{&kShapeType}});
    self.attr("ShapeType") = PyLong_Check(shape.ptr()) ? shape : py::int_(0);
    self.attr("BoxBounds") = four_numbers(optional_path(cookie, {{&kBoxBounds}}));
    self.attr("WritingDirection") = PyLong_Check(direction.ptr()) ? direction : py::int_(0);
}

py::object text_box(py::handle self) {
    py::object shape = self.attr("ShapeType");
    py::object bounds = self.attr("BoxBounds");
    if (!shape.equal(py::int_(1)) || bounds.is_none()) return py::none();
    double b[4], t[6];
    for (int i = 0; i < 4; ++i) b[i] = py::float_(bounds[py::int_(i)]);
    py::object transform = host::reader::transform(self.attr("layer"));
    for (int i = 0; i < 6; ++i) t[i] = py::float_(transform[py::int_(i)]);
    // A box no document can hold is not a box: the layer is placed as point text.
    for (double v : t)
        if (!std::isfinite(v) || std::fabs(v) > kLargest) return py::none();
    for (double v : b)
        if (std::fabs(v) > kLargest) return py::none();
    PixelBox box = box_in_document(t, b);
    return py::make_tuple(box.left, box.top, box.width, box.height);
}

}  // namespace infos
