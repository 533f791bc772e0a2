#include "infos/infos.hpp"

#include "host/enginedata.hpp"
#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {
/// Attribute and key names, interned at import.
host::Name n_text("text"), n_fontset("fontset"), n_start("start"),
    n_end("end"), n_fontName("fontName");
}  // namespace

py::object plain(py::handle leaf) { return host::engine::plain(leaf); }

py::object at(py::handle seq, py::handle idx) {
    return seq[plain(idx)];
}

namespace {

/// Sets one member per dictionary entry, named by the key's text (engine keys are
/// Property objects); leaves give their plain value, dictionaries and lists stay whole.
void set_members(py::handle self, py::handle entries) {
    host::engine::for_each_item(entries, [&](py::handle key, py::handle value) {
        py::object name = plain(key);
        if (PyObject_SetAttr(self.ptr(), name.ptr(), plain(value).ptr()) < 0) throw py::error_already_set();
    });
}

}  // namespace

void text_init_text(py::handle self, py::handle text, py::handle fontset, py::handle style,
                    py::handle metaStyle, py::handle startIdx, py::handle endIdx) {
    self.attr(n_text) = text;
    self.attr(n_fontset) = fontset;
    if (!metaStyle.is_none()) set_members(self, metaStyle);
    if (!style.is_none() && truthy(style)) set_members(self, style);
    self.attr(n_start) = startIdx;
    self.attr(n_end) = truthy(endIdx) ? py::reinterpret_borrow<py::object>(endIdx)
                                      : py::int_(py::len(text));
    self.attr(n_fontName) = plain(self.attr(n_fontset)[py::str("Name")]);
}

void bind_ytext(py::module_ &m) {
    py::class_<YText> cls(m, "YText", py::dynamic_attr());
    host::def_init<>(cls, [](py::handle) {});
    cls.def(
        "initText",
        [](py::object self, py::object text, py::object fontset, py::object style,
           py::object metaStyle, py::object startIdx, py::object endIdx) {
            text_init_text(self, text, fontset, style, metaStyle, startIdx, endIdx);
        },
        py::arg("text"), py::arg("fontset"), py::arg("style"), py::arg("metaStyle") = py::none(),
        py::arg("startIdx") = 0, py::arg("endIdx") = 0,
        "Stores the text run and sets one member per style entry (style wins over metaStyle).");
    cls.def_property_readonly(
        "span",
        [](py::object self) { return py::make_tuple(self.attr(n_start), self.attr(n_end)); },
        "(start, end) of the run in the text.");
}

}  // namespace infos
