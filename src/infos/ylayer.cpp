#include "infos/infos.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {

py::object utils() { return host::module().attr("utils"); }

py::object clean_pinyin(py::handle name) {
    return host::filemanager::pinyin(utils().attr("cleanLayerName")(name));
}

/// The cleaned pinyin names of the root, every enclosing group and the layer, joined
/// by "_". Cached only once complete: a failing name half-way leaves no partial name.
py::object layer_image_name(py::object self) {
    py::object cached = self.attr("_imageName");
    if (is_nonempty_text(cached)) return cached;
    py::object result = clean_pinyin(name_of(self));
    for (py::object up = self.attr("parent"); !up.is_none(); up = up.attr("parent"))
        result = clean_pinyin(name_of(up)) + py::str("_") + result;
    self.attr("_imageName") = result;
    return result;
}

/// The reader's rendering, cropped to nine slices for a scale-9 name. A layer without
/// pixels has nothing to crop and stays None, whatever its name says.
py::object layer_image(py::object self) {
    py::object cached = self.attr("_image");
    if (!cached.is_none()) return cached;
    py::object img = host::reader::topil(self.attr("layer"));
    if (img.is_none()) return img;
    py::object params = self.attr("scale9Params");
    if (truthy(params)) img = utils().attr("crop2Scale9Image")(img, params);
    self.attr("_image") = img;
    return img;
}

/// Image modes Pillow writes as PNG unchanged; anything else (CMYK, LAB, float,
/// 32-bit integer, ...) is converted to RGBA first.
bool png_writable(py::handle img) {
    py::object mode = host::image::mode(img);
    for (const char *ok : {"1", "L", "LA", "P", "RGB", "RGBA"})
        if (mode.equal(py::str(ok))) return true;
    return false;
}

void layer_save(py::object self, py::object path) {
    py::object target = truthy(path) ? path : self.attr("imageName");
    py::object img = self.attr("image");
    bool has_image = !img.is_none() && truthy(img);
    py::str name(name_of(self));
    if (!has_image) {
        host::log::d(py::str("图层为空 ") + name + py::str("，无法保存图片..."));
        return;
    }
    host::log::d(name + py::str("保存图片到") + py::str(target));
    if (!png_writable(img)) img = host::image::convert(img, "RGBA");
    host::image::save_png(img, target);
}

}  // namespace

void bind_ylayer(py::module_ &m) {
    py::class_<YLayer, YRoot> cls(m, "YLayer", py::dynamic_attr());
    cls.attr("layerType") = "YLayer";
    host::def_init<py::object>(
        cls,
        [](py::handle self, py::object layer) {
            root_init(self, layer);
            self.attr("_imageName") = py::none();
            self.attr("_image") = py::none();
            self.attr("scale9Params") =
                utils().attr("getScale9Params")(host::reader::name(layer));
        },
        py::arg("layer"));
    cls.def_property_readonly("imageName", &layer_image_name,
                              "The image's file name without extension, cached once read.");
    cls.def_property_readonly("image", &layer_image,
                              "The layer's image (nine-slice cropped for a scale-9 name), or None.");
    cls.def("save", &layer_save, py::arg("path") = py::none(),
            "Writes the image as PNG at `path`, or under the bare imageName when empty.");
    cls.def(
        "fixdata",
        [](py::object self, py::object data) {
            root_fixdata(self, data);
            data[py::str("imageName")] = self.attr("imageName");
        },
        py::arg("data"), "Adds \"imageName\".");
}

}  // namespace infos
