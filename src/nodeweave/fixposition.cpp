#include "nodeweave/passes.hpp"

#include "nodeweave/objects.hpp"

namespace passes {

namespace {

/// int(v): Python's truncation toward zero, giving a Python int for ints and floats alike.
py::object trunc(const py::object &v) { return py::int_(v); }

}  // namespace

void fixPosition(py::handle psd, py::object localPosition) {
    if (localPosition.is_none()) localPosition = cls("CCVec3")();

    // All arithmetic stays in Python numbers: ints stay ints where the inputs are ints,
    // and a half-pixel from an odd document width survives into `_position`.
    py::object document = psd.attr("root").attr("info");
    py::object W = document.attr("_contentSize").attr("width");
    py::object H = document.attr("_contentSize").attr("height");
    py::object ax = document.attr("_anchorPoint").attr("x");
    py::object ay = document.attr("_anchorPoint").attr("y");

    py::object TextLayer = cls("YTextLayer");
    py::object Layer = cls("YLayer");
    py::object Group = cls("YGroup");

    for (py::handle layer : psd) {
        py::object node = layer.attr("info");
        py::object anchor = node.attr("_anchorPoint");
        const bool is_text = py::isinstance(layer, TextLayer);

        bool is_box_text = false;
        if (is_text) {
            // The anchor follows the justification so that text grows the way it is
            // set: the justified modes (3 to 6) align their last line left, right,
            // centre, or fill it (6, which starts at the left like 3).
            py::object code = layer.attr("Justification");
            if (code.equal(py::int_(0)) || code.equal(py::int_(3)) || code.equal(py::int_(6)))
                anchor.attr("x") = py::int_(0);
            else if (code.equal(py::int_(1)) || code.equal(py::int_(4)))
                anchor.attr("x") = py::int_(1);
            else if (code.equal(py::int_(2)) || code.equal(py::int_(5)))
                anchor.attr("x") = py::float_(0.5);
            is_box_text = !objects::text_box_of(layer).is_none();
        } else if (py::isinstance(layer, Layer)) {
            anchor.attr("x") = py::int_(0);
            anchor.attr("y") = py::int_(0);
        }

        // Lower-left corner of the layer, measured from the document node's anchor, y up.
        py::object position = node.attr("_position");
        py::object h = node.attr("_contentSize").attr("height");
        py::object x = position.attr("x");
        py::object y = position.attr("y");
        x = x - W * ax;
        position.attr("x") = x;
        y = y + H * ay;
        position.attr("y") = y;
        y = H - y - h;
        position.attr("y") = y;

        py::object base_x = localPosition.attr("x");
        py::object base_y = localPosition.attr("y");
        py::object local = node.attr("_localPosition");
        // Point text's x is its origin, the point the anchor marks; box text's x is
        // the box's left edge, which lies anchor x of the box's width before it.
        py::object local_x = trunc(x - base_x);
        if (is_box_text)
            local_x = local_x + trunc(node.attr("_contentSize").attr("width") * anchor.attr("x"));
        local.attr("x") = local_x;
        py::object local_y = trunc(y - base_y);
        local.attr("y") = local_y;

        // A label's node marks the vertical middle of its box, not its bottom edge.
        if (is_text) {
            py::object anchor_y = anchor.attr("y");
            local.attr("y") = local_y + trunc(h * anchor_y);
        }

        if (py::isinstance(layer, Group)) {
            anchor.attr("x") = py::int_(0);
            anchor.attr("y") = py::int_(0);
            fixPosition(layer, position);
        }
    }
}

}  // namespace passes
