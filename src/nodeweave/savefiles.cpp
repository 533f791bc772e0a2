#include "nodeweave/passes.hpp"

namespace passes {

namespace {

constexpr int kIndent = 4;

/// The module's own converter object, so a host that replaces it is honoured.
py::object converter() { return cls("formatCocosData"); }

}  // namespace

py::object formatCocosData(py::handle data) { return data.attr("export")(); }

void saveToPrefab(py::handle psd, py::handle path) {
    host::filemanager::writeJson(path, psd.attr("totalInfo"), kIndent, converter());
}

void saveMetaFile(py::handle meta, py::handle path, py::handle psd) {
    py::object convert = converter();
    host::filemanager::writeJson(path, meta, kIndent, convert);
    // Each sprite's meta path lies in the folder named after the document.
    host::filemanager::mkdir(psd.attr("name"));
    py::object Sprite = cls("CCSprite");
    py::str label(u8"保存meta文件");
    for (py::handle obj : psd.attr("totalInfo")) {
        if (!py::isinstance(obj, Sprite)) continue;
        py::object meta_path = obj.attr("metaPath");
        host::log::i(label + meta_path);
        host::filemanager::writeJson(meta_path, obj.attr("meta"), kIndent, convert);
    }
}

}  // namespace passes
