#include "infos/infos.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {
/// Attribute and key names, interned at import.
host::Name n_utils("utils"), n_cleanLayerName("cleanLayerName"), n__imageName("_imageName"),
    n_parent("parent"), n__image("_image"), n_layer("layer"), n_scale9Params("scale9Params"),
    n_crop2Scale9Image("crop2Scale9Image"), n_imageName("imageName"), n_image("image"),
    n_layerType("layerType"), n_getScale9Params("getScale9Params");
}  // namespace

namespace {

py::object utils() { return host::module().attr(n_utils); }

py::object clean_pinyin(py::handle name) {
    return host::filemanager::pinyin(utils().attr(n_cleanLayerName)(name));
}

/// The cleaned pinyin names of the root, every enclosing group and the layer, joined
/// by "_". Cached only once complete: a failing name half-way leaves no partial name.
py::object layer_image_name(py::object self) {
    py::object cached = self.attr(n__imageName);
    if (is_nonempty_text(cached)) return cached;
    py::object result = clean_pinyin(name_of(self));
    for (py::object up = self.attr(n_parent); !up.is_none(); up = up.attr(n_parent))
        result = clean_pinyin(name_of(up)) + py::str("_") + result;
    self.attr(n__imageName) = result;
    return result;
}

/// The reader's rendering, cropped to nine slices for a scale-9 name. A layer without
/// pixels has nothing to crop and stays None, whatever its name says.
py::object layer_image(py::object self) {
    py::object cached = self.attr(n__image);
    if (!cached.is_none()) return cached;
    py::object img = host::reader::topil(self.attr(n_layer));
    if (img.is_none()) return img;
    py::object params = self.attr(n_scale9Params);
    if (truthy(params)) img = utils().attr(n_crop2Scale9Image)(img, params);
    self.attr(n__image) = img;
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
    py::object target = truthy(path) ? path : self.attr(n_imageName);
    py::object img = self.attr(n_image);
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
    cls.attr(n_layerType) = "YLayer";
    host::def_init<py::object>(
        cls,
        [](py::handle self, py::object layer) {
            py::object name = root_init(self, layer);
            self.attr(n__imageName) = py::none();
            self.attr(n__image) = py::none();
            self.attr(n_scale9Params) = host::call_method(utils(), n_getScale9Params, name);
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
            data[py::str("imageName")] = self.attr(n_imageName);
        },
        py::arg("data"), "Adds \"imageName\".");
}

}  // namespace infos
