#include "infos/infos.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {
/// Attribute and key names, interned at import.
host::Name n_layerType("layerType"), n_path("path"), n_totalInfo("totalInfo");
}  // namespace

void bind_ypsd(py::module_ &m) {
    py::class_<YPSD, YGroup> cls(m, "YPSD", py::dynamic_attr());
    cls.attr(n_layerType) = "YPSD";
    host::def_init<py::object, py::object>(
        cls,
        [](py::handle self, py::object psdimage, py::object path) {
            self.attr(n_path) = path;
            group_init(self, psdimage);
            self.attr(n_totalInfo) = py::list();
        },
        py::arg("psdimage"), py::arg("path"));
    cls.def(
        "fixdata",
        [](py::object self, py::object data) {
            group_fixdata(self, data);
            data[py::str("file")] = host::filemanager::basename(self.attr(n_path));
        },
        py::arg("data"), "The group's \"children\", then \"file\": the document's file name.");
}

}  // namespace infos
