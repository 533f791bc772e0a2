#include "infos/infos.hpp"

PYBIND11_MODULE(infos, m) {
    m.doc() = "The layer-info tree of an opened PSD document.";
    host::bind_module(m);
    py::module_ layers = host::import_reader_layers();
    m.attr("Group") = layers.attr("Group");
    m.attr("TypeLayer") = layers.attr("TypeLayer");
    m.attr("PixelLayer") = layers.attr("PixelLayer");
    m.attr("filemanager") = host::import_sibling("filemanager");
    m.attr("log") = host::import_sibling("log");
    m.attr("utils") = host::import_sibling("layerkit");
    m.attr("prefix") = "    ";
    // Bases before the classes derived from them.
    infos::bind_yroot(m);
    infos::bind_ygroup(m);
    infos::bind_ypsd(m);
    infos::bind_ylayer(m);
    infos::bind_ytext(m);
    infos::bind_ytextlayer(m);
}
