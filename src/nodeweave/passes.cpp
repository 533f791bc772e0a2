#include "nodeweave/nodeweave.hpp"
#include "nodeweave/passes.hpp"

#include "host/isa.hpp"
#include "host/names.hpp"

namespace passes {

namespace {
host::Name kIter("__iter__"), kLayers("_layers"), kId("__id__"), kAppend("append");
/// YGroup.__iter__ as infos defined it, kept from import to recognise it.
PyObject *g_group_iter = nullptr;
}  // namespace

py::iterator children(py::handle group) {
    PyObject *iter = _PyType_Lookup(Py_TYPE(group.ptr()), kIter.ptr());
    if (iter != nullptr && iter == g_group_iter) return py::iter(host::get(group, kLayers));
    return py::iter(group);
}

py::object cls(const host::Name &name) { return host::get(host::module(), name); }

bool is_a(py::handle obj, const host::Name &name) { return host::IsA(cls(name))(obj); }

py::dict ref(const py::object &id) {
    py::dict r;
    host::put(r, kId, id);
    return r;
}

void append(py::handle list, py::handle item) {
    if (PyList_CheckExact(list.ptr())) {
        if (PyList_Append(list.ptr(), item.ptr()) < 0) throw py::error_already_set();
    } else {
        host::call_method(list, kAppend, item);
    }
}

}  // namespace passes

void bind_passes(py::module_ &m) {
    using namespace passes;
    g_group_iter = _PyType_Lookup(reinterpret_cast<PyTypeObject *>(m.attr("YGroup").ptr()), kIter.ptr());
    Py_XINCREF(g_group_iter);
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
