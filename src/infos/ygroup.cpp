#include "infos/infos.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {
/// Attribute and key names, interned at import.
host::Name n_isExportable("isExportable"), n_YGroup("YGroup"), n_YTextLayer("YTextLayer"),
    n_YLayer("YLayer"), n__layers("_layers"), n_parent("parent"), n_exportdata("exportdata"),
    n_layerType("layerType"), n_startswith("startswith"), n_dump("dump");
}  // namespace

namespace {

/// Makes the layer-info object for one reader child, or None when it is left out.
py::object make_child(py::handle self, py::handle child) {
    if (!host::truth(host::call_hook(self, n_isExportable, child))) return py::none();
    py::module_ m = host::module();
    py::object layer = py::reinterpret_borrow<py::object>(child);
    switch (host::reader::kind_of(child)) {
        case host::reader::Kind::group: return host::create<YGroup>(host::get(m, n_YGroup), layer);
        case host::reader::Kind::text: return host::create<YTextLayer>(host::get(m, n_YTextLayer), layer);
        case host::reader::Kind::pixel: return host::create<YLayer>(host::get(m, n_YLayer), layer);
        case host::reader::Kind::other: break;
    }
    host::print(py::make_tuple("unknown type", host::reader::kind(child)));
    return py::none();
}

}  // namespace

void group_init(py::handle self, py::handle group) {
    py::list layers;
    self.attr(n__layers) = layers;
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
        info.attr(n_parent) = self;
        layers.append(info);
    }
}

void group_fixdata(py::handle self, py::handle data) {
    root_fixdata(self, data);
    py::list children;
    data[py::str("children")] = children;
    for (py::handle child : self.attr(n__layers)) children.append(child.attr(n_exportdata)());
}

void bind_ygroup(py::module_ &m) {
    py::class_<YGroup, YRoot> cls(m, "YGroup", py::dynamic_attr());
    cls.attr(n_layerType) = "YGroup";
    host::def_init<py::object>(
        cls, [](py::handle self, py::object group) { group_init(self, group); }, py::arg("group"));
    host::def_hook(
        cls, "isExportable",
        [](py::handle, py::handle layer) -> py::object {
            return py::bool_(host::reader::visible(layer) &&
                             !py::bool_(host::reader::name(layer).attr(n_startswith)("NotExport")));
        },
        py::arg("layer"), "True for a visible reader layer whose name does not start with NotExport.");
    cls.def(
        "dump",
        [](py::object self, py::object layer) {
            root_dump(self, layer);
            py::object deeper = layer + py::int_(1);
            for (py::handle child : self.attr(n__layers)) child.attr(n_dump)(deeper);
        },
        py::arg("layer") = 0, "The group's dump line, then every child one level deeper.");
    cls.def(
        "fixdata", [](py::object self, py::object data) { group_fixdata(self, data); },
        py::arg("data"), "Adds \"children\" with the children's export dictionaries.");
    cls.def("__iter__", [](py::object self) { return py::iter(self.attr(n__layers)); });
    cls.def("__len__", [](py::object self) { return py::len(self.attr(n__layers)); });
}

}  // namespace infos
