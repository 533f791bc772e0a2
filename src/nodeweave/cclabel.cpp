#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

#include <utility>

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n_text("text"), n_strip("strip"), n_replace("replace"), n__useOriginalSize("_useOriginalSize"),
    n__string("_string"), n__N_string("_N_string"), n__fontSize("_fontSize"), n__lineHeight("_lineHeight"),
    n__enableWrapText("_enableWrapText"), n__N_file("_N_file"), n__isSystemFontUsed("_isSystemFontUsed"),
    n__spacingX("_spacingX"), n__batchAsBitmap("_batchAsBitmap"), n__N_horizontalAlign("_N_horizontalAlign"),
    n__N_verticalAlign("_N_verticalAlign"), n__N_fontFamily("_N_fontFamily"), n__N_overflow("_N_overflow"),
    n__N_cacheMode("_N_cacheMode"), n_layer("layer"), n_FontSize("FontSize"),
    n_Justification("Justification"), n_fontName("fontName"), n_cctype("cctype");
}  // namespace

namespace {

/// Field names and the JSON keys they are written under, in written order.
const std::pair<const char *, const char *> kLabelKeys[] = {
    {"_useOriginalSize", "_useOriginalSize"},
    {"_string", "_string"},
    {"_N_string", "_N$string"},
    {"_fontSize", "_fontSize"},
    {"_lineHeight", "_lineHeight"},
    {"_enableWrapText", "_enableWrapText"},
    {"_N_file", "_N$file"},
    {"_isSystemFontUsed", "_isSystemFontUsed"},
    {"_spacingX", "_spacingX"},
    {"_batchAsBitmap", "_batchAsBitmap"},
    {"_N_horizontalAlign", "_N$horizontalAlign"},
    {"_N_verticalAlign", "_N$verticalAlign"},
    {"_N_fontFamily", "_N$fontFamily"},
    {"_N_overflow", "_N$overflow"},
    {"_N_cacheMode", "_N$cacheMode"},
};

/// int(value): drops the fraction toward zero, keeps an int as it is.
py::object truncate(py::handle value) {
    PyObject *result = PyNumber_Long(value.ptr());
    if (!result) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

/// cc.Label.Overflow: SHRINK keeps the node's size, wraps inside its width and
/// lowers the font size only when the wrapped text is taller than the node.
constexpr int kOverflowShrink = 2;
/// cc.Label.VerticalAlign TOP.
constexpr int kAlignTop = 0;

/// The layer's text without carriage returns at its start and end; each paragraph
/// break inside becomes "\n", the only line break the engine's layout knows.
py::object label_text(py::handle layer) {
    py::object text = layer.attr(n_text).attr(n_strip)("\r");
    return text.attr(n_replace)("\r\n", "\n").attr(n_replace)("\r", "\n");
}

void label_init(py::handle self) {
    component_init(self);
    self.attr(n__useOriginalSize) = py::bool_(false);
    self.attr(n__string) = py::none();
    self.attr(n__N_string) = py::none();
    self.attr(n__fontSize) = py::int_(30);
    self.attr(n__lineHeight) = py::int_(30);
    self.attr(n__enableWrapText) = py::bool_(true);
    self.attr(n__N_file) = py::none();
    self.attr(n__isSystemFontUsed) = py::bool_(true);
    self.attr(n__spacingX) = py::int_(0);
    self.attr(n__batchAsBitmap) = py::bool_(false);
    self.attr(n__N_horizontalAlign) = py::int_(1);
    self.attr(n__N_verticalAlign) = py::int_(2);
    self.attr(n__N_fontFamily) = py::str("Arial");
    self.attr(n__N_overflow) = py::int_(0);
    self.attr(n__N_cacheMode) = py::int_(0);
}

void label_read(py::handle self) {
    name_read(self);
    py::object layer = self.attr(n_layer);
    self.attr(n__string) = label_text(layer);
    self.attr(n__N_string) = label_text(layer);
    self.attr(n__fontSize) = truncate(layer.attr(n_FontSize));
    // The sum comes first: 23.6 gives a line height of 27, not 23 + 4.
    self.attr(n__lineHeight) = truncate(py::object(layer.attr(n_FontSize)) + py::int_(4));

    // Text engine order is left, right, centre, justified...; the label's is
    // left, centre, right, and every justified variant is shown centred.
    py::object justification = layer.attr(n_Justification);
    if (justification > py::int_(0))
        justification = justification.equal(py::int_(1)) ? py::int_(2) : py::int_(1);
    self.attr(n__N_horizontalAlign) = justification;
    self.attr(n__N_fontFamily) = layer.attr(n_fontName);

    // Box text wraps in its box as the designer drew it. Of the engine's modes that
    // keep the width, CLAMP would cut off a line that a wider runtime font pushes
    // out of the box, and RESIZE_HEIGHT would grow the node past the box; SHRINK
    // draws exactly as CLAMP while the text fits and keeps all of it in the box
    // when it does not. A text box fills from its top.
    if (!text_box_of(layer).is_none()) {
        self.attr(n__N_overflow) = py::int_(kOverflowShrink);
        self.attr(n__N_verticalAlign) = py::int_(kAlignTop);
    }
}

layout::Rows label_members() {
    layout::Rows own;
    for (const auto &[field, key] : kLabelKeys) own.push_back({key, field});
    return component_members() + own;
}

}  // namespace

void bind_cclabel(py::module_ &m) {
    py::class_<CCLabel, CCComponent> label(m, "CCLabel", py::dynamic_attr(),
                                           "The \"cc.Label\" of one text layer.");
    label.attr(n_cctype) = "cc.Label";
    host::def_init<>(label, [](py::handle self) { label_init(self); });
    host::def_hook(label, "read", label_read);
    def_fixdata(label, layout::Wrap::item, label_members());
}

}  // namespace objects
