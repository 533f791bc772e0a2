#include "nodeweave/passes.hpp"

#include "host/isa.hpp"
#include "host/names.hpp"

namespace passes {

namespace {
/// Attribute and key names, interned at import.
host::Name n_formatCocosData("formatCocosData"), n_export("export"), n_totalInfo("totalInfo"),
    n_name("name"), n_CCSprite("CCSprite"), n_metaPath("metaPath"), n_meta("meta");
}  // namespace

namespace {

constexpr int kIndent = 4;

/// The module's own converter object, so a host that replaces it is honoured.
py::object converter() { return cls(n_formatCocosData); }

}  // namespace

py::object formatCocosData(py::handle data) { return data.attr(n_export)(); }

void saveToPrefab(py::handle psd, py::handle path) {
    // A node and each of its components write the same layer name's pinyin.
    host::filemanager::PinyinPass pass;
    host::filemanager::writeJson(path, psd.attr(n_totalInfo), kIndent, converter());
}

void saveMetaFile(py::handle meta, py::handle path, py::handle psd) {
    py::object convert = converter();
    host::filemanager::writeJson(path, meta, kIndent, convert);
    // Each sprite's meta path lies in the folder named after the document.
    host::filemanager::mkdir(psd.attr(n_name));
    const host::IsA is_sprite(cls(n_CCSprite));
    py::str label(u8"保存meta文件");
    for (py::handle obj : psd.attr(n_totalInfo)) {
        if (!is_sprite(obj)) continue;
        py::object meta_path = obj.attr(n_metaPath);
        host::log::i(label + meta_path);
        host::filemanager::writeJson(meta_path, obj.attr(n_meta), kIndent, convert);
    }
}

}  // namespace passes
