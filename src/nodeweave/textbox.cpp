/// Box text on a node and a label: the designer's text box is the node's box.
#include "nodeweave/objects.hpp"

#include "host/pyclass.hpp"

namespace objects {

namespace {
host::Name kTextBox("textBox");
}  // namespace

py::object text_box_of(py::handle layer) {
    // Layer-infos of hosts or tests that predate box text have no textBox: point text.
    PyObject *box = PyObject_GetAttr(layer.ptr(), kTextBox.ptr());
    if (box) return py::reinterpret_steal<py::object>(box);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return py::none();
}

void read_text_box(py::handle node, py::handle layer) {
    py::object box = text_box_of(layer);
    if (box.is_none()) return;
    // The reader's own box of a text layer is the extent of its rendered pixels,
    // which a short text in a wide box does not fill; the engine lays the label out
    // in its node's box, so that box must be the designer's.
    py::object position = node.attr("_position");
    position.attr("x") = box[py::int_(0)];
    position.attr("y") = box[py::int_(1)];
    py::object size = node.attr("_contentSize");
    size.attr("width") = box[py::int_(2)];
    size.attr("height") = box[py::int_(3)];
}

}  // namespace objects
