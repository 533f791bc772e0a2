#include "host/host.hpp"

namespace host::image {

namespace {
py::module_ pil() { return py::module_::import("PIL.Image"); }
}  // namespace

py::object new_rgba(long width, long height) {
    return pil().attr("new")("RGBA", py::make_tuple(width, height));
}

std::pair<long, long> size(py::handle img) {
    py::tuple wh = img.attr("size");
    return {wh[0].cast<long>(), wh[1].cast<long>()};
}

py::object crop(py::handle img, long x0, long y0, long x1, long y1) {
    return img.attr("crop")(py::make_tuple(x0, y0, x1, y1));
}

void paste(py::handle dst, py::handle piece, long x, long y) {
    dst.attr("paste")(piece, py::make_tuple(x, y));
}

py::object mode(py::handle img) { return img.attr("mode"); }

py::object convert(py::handle img, const char *mode) { return img.attr("convert")(mode); }

void save_png(py::handle img, py::handle path) {
    img.attr("save")(path, py::arg("format") = "PNG");
}

}  // namespace host::image
