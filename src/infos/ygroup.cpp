#include "infos/infos.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {

constexpr const char *kNoteLead = "while reading layer ";

/// Makes the layer-info object for one reader child, or None when it is left out.
py::object make_child(py::handle self, py::handle child) {
    bool exportable = py::bool_(self.attr("isExportable")(child));
    if (!exportable) return py::none();
    py::module_ m = host::module();
    switch (host::reader::kind_of(child)) {
        case host::reader::Kind::group: return m.attr("YGroup")(child);
        case host::reader::Kind::text: return m.attr("YTextLayer")(child);
        case host::reader::Kind::pixel: return m.attr("YLayer")(child);
        case host::reader::Kind::other: break;
    }
    host::print(py::make_tuple("unknown type", host::reader::kind(child)));
    return py::none();
}

bool has_layer_note(py::handle exc) {
    py::object notes = py::getattr(exc, "__notes__", py::none());
    if (!py::isinstance<py::list>(notes)) return false;
    for (py::handle note : notes) {
        if (py::isinstance<py::str>(note) &&
            py::bool_(note.attr("startswith")(kNoteLead)))
            return true;
    }
    return false;
}

/// Names the reader layer that failed on the exception, once: the innermost layer
/// wins, because enclosing groups see the note already there. Pythons without
/// add_note (before 3.11) get the exception unchanged.
void add_layer_note(const py::error_already_set &err, py::handle child) {
    py::object exc = err.value();
    if (!py::hasattr(exc, "add_note") || has_layer_note(exc)) return;
    py::object name = py::none(), id = py::none();
    try {
        name = host::reader::name(child);
        id = host::reader::layer_id(child);
    } catch (py::error_already_set &) {
        // A layer that cannot even report its name or id is named as far as it can be.
    }
    py::str note = py::str(std::string(kNoteLead) + "{!r} (id {})").format(name, id);
    exc.attr("add_note")(note);
}

}  // namespace

void group_init(py::handle self, py::handle group) {
    py::list layers;
    self.attr("_layers") = layers;
    root_init(self, group);
    for (py::handle child : host::reader::children(group)) {
        py::object info;
        try {
            info = make_child(self, child);
        } catch (py::error_already_set &err) {
            try {
                add_layer_note(err, child);
            } catch (py::error_already_set &) {
                // The note is a courtesy: the original error goes on unchanged.
            }
            throw;
        }
        if (info.is_none()) continue;
        info.attr("parent") = self;
        layers.append(info);
    }
}

void group_fixdata(py::handle self, py::handle data) {
    root_fixdata(self, data);
    py::list children;
    data[py::str("children")] = children;
    for (py::handle child : self.attr("_layers")) children.append(child.attr("exportdata")());
}

void bind_ygroup(py::module_ &m) {
    py::class_<YGroup, YRoot> cls(m, "YGroup", py::dynamic_attr());
    cls.attr("layerType") = "YGroup";
    host::def_init<py::object>(
        cls, [](py::handle self, py::object group) { group_init(self, group); }, py::arg("group"));
    cls.def(
        "isExportable",
        [](py::object, py::object layer) {
            return host::reader::visible(layer) &&
                   !py::bool_(host::reader::name(layer).attr("startswith")("NotExport"));
        },
        py::arg("layer"), "True for a visible reader layer whose name does not start with NotExport.");
    cls.def(
        "dump",
        [](py::object self, py::object layer) {
            root_dump(self, layer);
            py::object deeper = layer + py::int_(1);
            for (py::handle child : self.attr("_layers")) child.attr("dump")(deeper);
        },
        py::arg("layer") = 0, "The group's dump line, then every child one level deeper.");
    cls.def(
        "fixdata", [](py::object self, py::object data) { group_fixdata(self, data); },
        py::arg("data"), "Adds \"children\" with the children's export dictionaries.");
    cls.def("__iter__", [](py::object self) { return py::iter(self.attr("_layers")); });
    cls.def("__len__", [](py::object self) { return py::len(self.attr("_layers")); });
}

}  // namespace infos
