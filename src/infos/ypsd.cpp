#include "infos/infos.hpp"

#include "host/pyclass.hpp"

namespace infos {

void bind_ypsd(py::module_ &m) {
    py::class_<YPSD, YGroup> cls(m, "YPSD", py::dynamic_attr());
    cls.attr("layerType") = "YPSD";
    host::def_init<py::object, py::object>(
        cls,
        [](py::handle self, py::object psdimage, py::object path) {
            self.attr("path") = path;
            group_init(self, psdimage);
            self.attr("totalInfo") = py::list();
        },
        py::arg("psdimage"), py::arg("path"));
    cls.def(
        "fixdata",
        [](py::object self, py::object data) {
            group_fixdata(self, data);
            data[py::str("file")] = host::filemanager::basename(self.attr("path"));
        },
        py::arg("data"), "The group's \"children\", then \"file\": the document's file name.");
}

}  // namespace infos
