#include "nodeweave/objects.hpp"

#include "host/pyclass.hpp"

namespace objects {

namespace {

void sprite_init(py::handle self) {
    component_init(self);
    self.attr("_spriteFrame") = py::dict();
    self.attr("_type") = py::int_(0);
    self.attr("_sizeMode") = py::int_(1);
    self.attr("_fillType") = py::int_(0);
    self.attr("_fillCenter") = py::type::of<CCVec2>()();
    self.attr("_fillStart") = py::int_(0);
    self.attr("_fillRange") = py::int_(0);
    self.attr("_isTrimmedMode") = py::bool_(true);
    self.attr("_state") = py::int_(0);
    self.attr("_atlas") = py::none();
    self.attr("_srcBlendFactor") = py::int_(770);  // SRC_ALPHA
    self.attr("_dstBlendFactor") = py::int_(771);  // ONE_MINUS_SRC_ALPHA
    self.attr("meta") = py::none();
    self.attr("metaSprite") = py::none();
    self.attr("width") = py::int_(0);
    self.attr("height") = py::int_(0);
}

void sprite_read(py::handle self) {
    name_read(self);
    py::object layer = self.attr("layer");
    self.attr("width") = layer.attr("width");
    self.attr("height") = layer.attr("height");
}

/// "<document name>/<image name>.png.meta", built as Python text (names may hold
/// anything a layer name can).
py::object sprite_meta_path(py::handle self) {
    py::object layer = self.attr("layer");
    py::object document = layer.attr("root").attr("name");
    return document + py::str("/") + py::object(layer.attr("imageName")) + py::str(".png.meta");
}

void sprite_create_meta(py::handle self) {
    py::object layer = self.attr("layer");
    py::object image_name = layer.attr("imageName");
    py::object path = self.attr("metaPath");

    py::object uuid;
    py::object frame_uuid;
    if (host::filemanager::exists(path)) {
        // Reuse both identities of the earlier export, so that the engine's references
        // to the texture and to the sprite frame keep resolving.
        py::object jdata = host::filemanager::loadJson(path);
        py::str file("the meta file");
        uuid = meta_uuid(path, jdata, file);
        py::object sub_metas = meta_item(path, jdata, file, py::str("subMetas"));
        py::object entry = meta_item(path, sub_metas, py::str("'subMetas'"), image_name);
        frame_uuid = meta_uuid(path, entry, py::str("subMetas[{!r}]").format(image_name));
    } else {
        uuid = global("getUUID")();
        frame_uuid = global("getUUIDByName")(image_name);
    }

    py::object meta = py::type::of<CCMetaSprite>()(uuid);
    py::object sub = py::type::of<CCMetaSpriteSub>()(frame_uuid, py::arg("parentUUID") = uuid);
    self.attr("meta") = meta;
    self.attr("metaSprite") = sub;
    sub.attr("rawTextureUuid") = uuid;
    // The document size of the layer, also when the saved image is the nine-slice crop.
    py::object width = self.attr("width");
    py::object height = self.attr("height");
    sub.attr("width") = width;
    sub.attr("rawWidth") = width;
    sub.attr("height") = height;
    sub.attr("rawHeight") = height;

    py::object params = layer.attr("scale9Params");
    if (truthy(params)) {
        // Scale-9 numbers run top, right, bottom, left.
        sub.attr("borderTop") = params[py::int_(0)];
        sub.attr("borderRight") = params[py::int_(1)];
        sub.attr("borderBottom") = params[py::int_(2)];
        sub.attr("borderLeft") = params[py::int_(3)];
        self.attr("_type") = py::int_(1);      // sliced
        self.attr("_sizeMode") = py::int_(0);  // custom size
    }
    meta.attr("subMetas")[image_name] = sub;
}

layout::Rows sprite_members() {
    // The frame reference is pointed at the sprite-frame UUID as it is written.
    return component_members() + layout::Rows{{"_spriteFrame", "_spriteFrame", layout::Source::sprite_frame}} +
           layout::named({"_type", "_sizeMode", "_fillType", "_fillCenter", "_fillStart", "_fillRange",
                          "_isTrimmedMode", "_state", "_atlas", "_srcBlendFactor", "_dstBlendFactor"});
}

}  // namespace

void bind_ccsprite(py::module_ &m) {
    py::class_<CCSprite, CCComponent> sprite(m, "CCSprite", py::dynamic_attr(),
                                             "The \"cc.Sprite\" of one pixel layer.");
    sprite.attr("cctype") = "cc.Sprite";
    host::def_init<>(sprite, [](py::handle self) { sprite_init(self); });
    sprite.def("read", [](py::object self) { sprite_read(self); });
    def_fixdata(sprite, layout::Wrap::item, sprite_members());
    sprite.def(
        "createMeta", [](py::object self) { sprite_create_meta(self); },
        "Build `meta` and `metaSprite`, reusing the UUIDs of an existing .png.meta.");
    sprite.def_property_readonly(
        "metaPath", [](py::object self) { return sprite_meta_path(self); },
        "Path of the layer's .png.meta file, inside the folder named after the document.");
}

}  // namespace objects
