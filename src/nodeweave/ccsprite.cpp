#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n__spriteFrame("_spriteFrame"), n__type("_type"), n__sizeMode("_sizeMode"),
    n__fillType("_fillType"), n__fillCenter("_fillCenter"), n__fillStart("_fillStart"),
    n__fillRange("_fillRange"), n__isTrimmedMode("_isTrimmedMode"), n__state("_state"), n__atlas("_atlas"),
    n__srcBlendFactor("_srcBlendFactor"), n__dstBlendFactor("_dstBlendFactor"), n_meta("meta"),
    n_metaSprite("metaSprite"), n_width("width"), n_height("height"), n_layer("layer"), n_root("root"),
    n_name("name"), n_imageName("imageName"), n_metaPath("metaPath"), n_getUUID("getUUID"),
    n_getUUIDByName("getUUIDByName"), n_rawTextureUuid("rawTextureUuid"), n_rawWidth("rawWidth"),
    n_rawHeight("rawHeight"), n_scale9Params("scale9Params"), n_borderTop("borderTop"),
    n_borderRight("borderRight"), n_borderBottom("borderBottom"), n_borderLeft("borderLeft"),
    n_subMetas("subMetas"), n_cctype("cctype");
}  // namespace

namespace {

void sprite_init(py::handle self) {
    component_init(self);
    self.attr(n__spriteFrame) = py::dict();
    self.attr(n__type) = py::int_(0);
    self.attr(n__sizeMode) = py::int_(1);
    self.attr(n__fillType) = py::int_(0);
    self.attr(n__fillCenter) = host::create_own<CCVec2>(py::object(py::int_(0)), py::object(py::int_(0)));
    self.attr(n__fillStart) = py::int_(0);
    self.attr(n__fillRange) = py::int_(0);
    self.attr(n__isTrimmedMode) = py::bool_(true);
    self.attr(n__state) = py::int_(0);
    self.attr(n__atlas) = py::none();
    self.attr(n__srcBlendFactor) = py::int_(770);  // SRC_ALPHA
    self.attr(n__dstBlendFactor) = py::int_(771);  // ONE_MINUS_SRC_ALPHA
    self.attr(n_meta) = py::none();
    self.attr(n_metaSprite) = py::none();
    self.attr(n_width) = py::int_(0);
    self.attr(n_height) = py::int_(0);
}

void sprite_read(py::handle self) {
    name_read(self);
    py::object layer = self.attr(n_layer);
    self.attr(n_width) = layer.attr(n_width);
    self.attr(n_height) = layer.attr(n_height);
}

/// "<document name>/<image name>.png.meta", built as Python text (names may hold
/// anything a layer name can).
py::object sprite_meta_path(py::handle self) {
    py::object layer = self.attr(n_layer);
    py::object document = layer.attr(n_root).attr(n_name);
    return document + py::str("/") + py::object(layer.attr(n_imageName)) + py::str(".png.meta");
}

void sprite_create_meta(py::handle self) {
    py::object layer = self.attr(n_layer);
    py::object image_name = layer.attr(n_imageName);
    py::object path = self.attr(n_metaPath);

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
        uuid = global(n_getUUID)();
        frame_uuid = global(n_getUUIDByName)(image_name);
    }

    py::object meta = host::create_own<CCMetaSprite>(uuid, py::object(py::str("2.2.0")));
    py::object sub = host::create_own<CCMetaSpriteSub>(frame_uuid, py::object(py::str("1.0.3")), uuid);
    self.attr(n_meta) = meta;
    self.attr(n_metaSprite) = sub;
    sub.attr(n_rawTextureUuid) = uuid;
    // The document size of the layer, also when the saved image is the nine-slice crop.
    py::object width = self.attr(n_width);
    py::object height = self.attr(n_height);
    sub.attr(n_width) = width;
    sub.attr(n_rawWidth) = width;
    sub.attr(n_height) = height;
    sub.attr(n_rawHeight) = height;

    py::object params = layer.attr(n_scale9Params);
    if (truthy(params)) {
        // Scale-9 numbers run top, right, bottom, left.
        sub.attr(n_borderTop) = params[py::int_(0)];
        sub.attr(n_borderRight) = params[py::int_(1)];
        sub.attr(n_borderBottom) = params[py::int_(2)];
        sub.attr(n_borderLeft) = params[py::int_(3)];
        self.attr(n__type) = py::int_(1);      // sliced
        self.attr(n__sizeMode) = py::int_(0);  // custom size
    }
    meta.attr(n_subMetas)[image_name] = sub;
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
    sprite.attr(n_cctype) = "cc.Sprite";
    host::def_init<>(sprite, [](py::handle self) { sprite_init(self); });
    host::def_hook(sprite, "read", sprite_read);
    def_fixdata(sprite, layout::Wrap::item, sprite_members());
    host::def_hook(
        sprite, "createMeta", sprite_create_meta,
        "Build `meta` and `metaSprite`, reusing the UUIDs of an existing .png.meta.");
    sprite.def_property_readonly(
        "metaPath", [](py::object self) { return sprite_meta_path(self); },
        "Path of the layer's .png.meta file, inside the folder named after the document.");
}

}  // namespace objects
