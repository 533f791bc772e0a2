#include "nodeweave/passes.hpp"

#include "nodeweave/objects.hpp"

#include "host/isa.hpp"
#include "host/names.hpp"
#include "host/numbers.hpp"

namespace passes {

namespace {

using host::get;
using host::Name;
using host::set;

Name kRoot("root"), kInfo("info"), kContentSize("_contentSize"), kWidth("width"), kHeight("height"),
    kAnchorPoint("_anchorPoint"), kX("x"), kY("y"), kPosition("_position"), kJustification("Justification"),
    kLocalPosition("_localPosition"), kCCVec3("CCVec3"), kYTextLayer("YTextLayer"), kYLayer("YLayer"),
    kYGroup("YGroup");

/// What every level of one fixPosition call shares: the document node's size and
/// anchor and the layer-info classes, read once when the call starts.
struct Document {
    py::object W, H, ax, ay;
    host::IsA is_text, is_layer, is_group;
};

void place(const Document &doc, py::handle psd, py::handle localPosition) {
    py::handle zero = host::constant::zero(), one = host::constant::one();
    for (py::handle layer : children(psd)) {
        py::object node = get(layer, kInfo);
        py::object anchor = get(node, kAnchorPoint);
        const bool is_text = doc.is_text(layer);

        bool is_box_text = false;
        if (is_text) {
            // The anchor follows the justification so that text grows the way it is
            // set: the justified modes (3 to 6) align their last line left, right,
            // centre, or fill it (6, which starts at the left like 3).
            py::object code = get(layer, kJustification);
            if (num::equals(code, 0) || num::equals(code, 3) || num::equals(code, 6))
                set(anchor, kX, zero);
            else if (num::equals(code, 1) || num::equals(code, 4))
                set(anchor, kX, one);
            else if (num::equals(code, 2) || num::equals(code, 5))
                set(anchor, kX, host::constant::half());
            is_box_text = !objects::text_box_of(layer).is_none();
        } else if (doc.is_layer(layer)) {
            set(anchor, kX, zero);
            set(anchor, kY, zero);
        }

        // Lower-left corner of the layer, measured from the document node's anchor, y up.
        // Python's arithmetic throughout: ints stay ints where the inputs are ints, and a
        // half-pixel from an odd document width survives into `_position`.
        py::object position = get(node, kPosition);
        py::object h = get(get(node, kContentSize), kHeight);
        py::object x = get(position, kX);
        py::object y = get(position, kY);
        x = num::sub(x, num::mul(doc.W, doc.ax));
        set(position, kX, x);
        y = num::add(y, num::mul(doc.H, doc.ay));
        set(position, kY, y);
        y = num::sub(num::sub(doc.H, y), h);
        set(position, kY, y);

        py::object base_x = get(localPosition, kX);
        py::object base_y = get(localPosition, kY);
        py::object local = get(node, kLocalPosition);
        // Point text's x is its origin, the point the anchor marks; box text's x is
        // the box's left edge, which lies anchor x of the box's width before it.
        py::object local_x = num::trunc(num::sub(x, base_x));
        if (is_box_text)
            local_x = num::add(local_x,
                               num::trunc(num::mul(get(get(node, kContentSize), kWidth), get(anchor, kX))));
        set(local, kX, local_x);
        py::object local_y = num::trunc(num::sub(y, base_y));
        set(local, kY, local_y);

        // A label's node marks the vertical middle of its box, not its bottom edge.
        if (is_text) {
            py::object anchor_y = get(anchor, kY);
            set(local, kY, num::add(local_y, num::trunc(num::mul(h, anchor_y))));
        }

        if (doc.is_group(layer)) {
            set(anchor, kX, zero);
            set(anchor, kY, zero);
            place(doc, layer, position);
        }
    }
}

}  // namespace

void fixPosition(py::handle psd, py::object localPosition) {
    if (localPosition.is_none()) localPosition = cls(kCCVec3)();
    py::object document = get(get(psd, kRoot), kInfo);
    py::object size = get(document, kContentSize);
    py::object anchor = get(document, kAnchorPoint);
    Document doc{get(size, kWidth),        get(size, kHeight),
                 get(anchor, kX),          get(anchor, kY),
                 host::IsA(cls(kYTextLayer)), host::IsA(cls(kYLayer)),
                 host::IsA(cls(kYGroup))};
    place(doc, psd, localPosition);
}

}  // namespace passes
