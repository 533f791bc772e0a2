#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n_cctype("cctype"), n__objFlags("_objFlags"), n__native("_native"), n_data("data"),
    n_optimizationPolicy("optimizationPolicy"), n_asyncLoadAssets("asyncLoadAssets"), n_meta("meta"),
    n_layer("layer"), n_root("root"), n_name("name"), n_asset("asset"), n_fileId("fileId"), n_sync("sync");
}  // namespace

void bind_ccprefab(py::module_ &m) {
    py::class_<CCPrefab, CCName> prefab(m, "CCPrefab", py::dynamic_attr(),
                                        "The \"cc.Prefab\" asset object, element 0 of the file.");
    prefab.attr(n_cctype) = "cc.Prefab";
    host::def_init<>(prefab, [](py::handle self) {
        name_init(self);
        self.attr(n__objFlags) = py::int_(0);
        self.attr(n__native) = py::str("");
        self.attr(n_data) = py::dict();
        self.attr(n_optimizationPolicy) = py::int_(0);
        self.attr(n_asyncLoadAssets) = py::bool_(false);
        self.attr(n_meta) = py::none();
    });
    // `meta` is the .prefab.meta model, written to its own file.
    def_fixdata(prefab, layout::Wrap::none,
                name_members() + layout::named({"_objFlags", "_native", "data", "optimizationPolicy", "asyncLoadAssets"}));
    prefab.def_property_readonly(
        "metaPath",
        [](py::object self) {
            py::object document = self.attr(n_layer).attr(n_root).attr(n_name);
            return document + py::str(".prefab.meta");
        },
        "Path of the document's .prefab.meta file.");

    py::class_<CCPrefabInfo, CCBase> info(m, "CCPrefabInfo", py::dynamic_attr(),
                                          "The \"cc.PrefabInfo\" of one layer-info object.");
    info.attr(n_cctype) = "cc.PrefabInfo";
    host::def_init<>(info, [](py::handle self) {
        base_init(self);
        self.attr(n_root) = py::dict();
        self.attr(n_asset) = py::dict();
        self.attr(n_fileId) = py::none();
        self.attr(n_sync) = py::bool_(false);
    });
    def_fixdata(info, layout::Wrap::none,
                base_members() +
                    layout::named({"root", "asset", "fileId", "sync"}));
}

}  // namespace objects
