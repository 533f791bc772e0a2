#include "nodeweave/layout.hpp"
#include "nodeweave/nodeweave.hpp"

PYBIND11_MODULE(nodeweave, m) {
    m.doc() = "Prefab objects, meta models and the export passes.";
    host::bind_module(m);
    // Every public name of infos (its classes, filemanager, log, utils, prefix, the
    // reader's layer classes) becomes a name of this module too.
    py::module_ infos = host::import_sibling("infos");
    py::object public_names = infos.attr("__dict__");
    for (auto item : public_names.cast<py::dict>()) {
        std::string key = py::str(item.first);
        if (!key.empty() && key[0] != '_') m.attr(item.first) = item.second;
    }
    m.attr("filemanager") = host::import_sibling("filemanager");
    host::filemanager::remember_own_pinyin(m.attr("filemanager"));
    m.attr("os") = py::module_::import("os");
    m.attr("utils") = host::import_sibling("layerkit");
    bind_objects(m);
    bind_passes(m);
    layout::install(m);
}
