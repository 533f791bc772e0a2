#include "nodeweave/objects.hpp"

#include "host/pyclass.hpp"

namespace objects {

void bind_ccprefab(py::module_ &m) {
    py::class_<CCPrefab, CCName> prefab(m, "CCPrefab", py::dynamic_attr(),
                                        "The \"cc.Prefab\" asset object, element 0 of the file.");
    prefab.attr("cctype") = "cc.Prefab";
    host::def_init<>(prefab, [](py::handle self) {
        name_init(self);
        self.attr("_objFlags") = py::int_(0);
        self.attr("_native") = py::str("");
        self.attr("data") = py::dict();
        self.attr("optimizationPolicy") = py::int_(0);
        self.attr("asyncLoadAssets") = py::bool_(false);
        self.attr("meta") = py::none();
    });
    // `meta` is the .prefab.meta model, written to its own file.
    def_fixdata(prefab, layout::Wrap::none,
                name_members() + layout::named({"_objFlags", "_native", "data", "optimizationPolicy", "asyncLoadAssets"}));
    prefab.def_property_readonly(
        "metaPath",
        [](py::object self) {
            py::object document = self.attr("layer").attr("root").attr("name");
            return document + py::str(".prefab.meta");
        },
        "Path of the document's .prefab.meta file.");

    py::class_<CCPrefabInfo, CCBase> info(m, "CCPrefabInfo", py::dynamic_attr(),
                                          "The \"cc.PrefabInfo\" of one layer-info object.");
    info.attr("cctype") = "cc.PrefabInfo";
    host::def_init<>(info, [](py::handle self) {
        base_init(self);
        self.attr("root") = py::dict();
        self.attr("asset") = py::dict();
        self.attr("fileId") = py::none();
        self.attr("sync") = py::bool_(false);
    });
    def_fixdata(info, layout::Wrap::none,
                base_members() +
                    layout::named({"root", "asset", "fileId", "sync"}));
}

}  // namespace objects
