#include "infos/infos.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {

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
            host::note_layer(err, child);
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
