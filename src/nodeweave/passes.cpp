#include "nodeweave/nodeweave.hpp"
#include "nodeweave/passes.hpp"

namespace passes {

py::object cls(const char *name) { return host::module().attr(name); }

bool is_a(py::handle obj, const char *name) { return py::isinstance(obj, cls(name)); }

py::dict ref(const py::object &id) {
    py::dict r;
    r["__id__"] = id;
    return r;
}

}  // namespace passes

void bind_passes(py::module_ &m) {
    m.def(
        "initPsdInfo", [](py::object group, py::object level) { passes::initPsdInfo(group, level); },
        py::arg("group"), py::arg("level") = 2,
        "Append the prefab objects of `group` and its subtree to the document's object list.");
    m.def(
        "formatCocosData", [](py::object data) { return passes::formatCocosData(data); },
        py::arg("data"), py::pos_only(), "The JSON form of a prefab object or meta model: data.export().");
    m.def(
        "saveToPrefab", [](py::object psd, py::object path) { passes::saveToPrefab(psd, path); },
        py::arg("psd"), py::arg("path"), "Write the document's object list as the prefab file.");
    m.def(
        "fixPosition",
        [](py::object psd, py::object localPosition) { passes::fixPosition(psd, std::move(localPosition)); },
        py::arg("psd"), py::arg("localPosition") = py::none(),
        "Set anchors and parent-relative positions of the nodes below `psd`.");
    m.def(
        "refleshIdAndCreateMeta", [](py::object psd) { passes::refleshIdAndCreateMeta(psd); },
        py::arg("psd"), py::pos_only(),
        "Number the objects, wire their references and create the prefab and sprite meta models.");
    m.def(
        "saveMetaFile",
        [](py::object meta, py::object path, py::object psd) { passes::saveMetaFile(meta, path, psd); },
        py::arg("meta"), py::arg("path"), py::arg("psd"),
        "Write the prefab meta file, the document's folder and one meta file per sprite.");
}
