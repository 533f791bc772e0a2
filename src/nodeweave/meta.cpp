#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

#include <utility>

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n_ver("ver"), n_uuid("uuid"), n_subMetas("subMetas"), n_fixdata("fixdata"),
    n_MetaFileError("MetaFileError"), n___str__("__str__"), n_optimizationPolicy("optimizationPolicy"),
    n_asyncLoadAssets("asyncLoadAssets"), n_type("type"), n_wrapMode("wrapMode"), n_filterMode("filterMode"),
    n_premultiplyAlpha("premultiplyAlpha"), n_rawTextureUuid("rawTextureUuid"), n_trimType("trimType"),
    n_trimThreshold("trimThreshold"), n_rotated("rotated");
/// The numbers of a sprite-frame entry that start at 0.
host::Name kOffsetX("offsetX"), kOffsetY("offsetY"), kTrimX("trimX"), kTrimY("trimY"), kWidth("width"),
    kHeight("height"), kRawWidth("rawWidth"), kRawHeight("rawHeight"), kBorderTop("borderTop"),
    kBorderBottom("borderBottom"), kBorderLeft("borderLeft"), kBorderRight("borderRight");
const host::Name *const kSubZeros[] = {&kOffsetX, &kOffsetY, &kTrimX,   &kTrimY,     &kWidth,      &kHeight,
                                       &kRawWidth, &kRawHeight, &kBorderTop, &kBorderBottom, &kBorderLeft, &kBorderRight};
}  // namespace

namespace {

void meta_init(py::handle self, py::object uuid, py::object version) {
    self.attr(n_ver) = std::move(version);
    self.attr(n_uuid) = std::move(uuid);
    self.attr(n_subMetas) = py::dict();
}

py::dict meta_export(py::handle self) {
    py::dict data;
    data[n_ver] = self.attr(n_ver);
    data[n_uuid] = self.attr(n_uuid);
    self.attr(n_fixdata)(data);
    // The model's own dictionary, not a copy: sub-metas added later still show up.
    data[n_subMetas] = self.attr(n_subMetas);
    return data;
}

[[noreturn]] void raise_meta_error(const py::str &message) {
    PyErr_SetObject(global(n_MetaFileError).ptr(), message.ptr());
    throw py::error_already_set();
}

}  // namespace

py::object meta_item(py::handle path, py::handle container, py::handle what, py::handle key) {
    if (!PyDict_Check(container.ptr()))
        raise_meta_error(py::str("{}: {} is not a JSON object").format(path, what));
    int has = PyDict_Contains(container.ptr(), key.ptr());
    if (has < 0) throw py::error_already_set();
    if (!has) raise_meta_error(py::str("{}: {} has no key {!r}").format(path, what, key));
    return container[key];
}

py::object meta_uuid(py::handle path, py::handle container, py::handle what) {
    py::object uuid = meta_item(path, container, what, py::str("uuid"));
    // A null or numeric UUID would be copied into the prefab references and the new
    // meta file, leaving the engine an asset it cannot identify.
    if (!PyUnicode_Check(uuid.ptr()))
        raise_meta_error(py::str("{}: the 'uuid' of {} is not a text").format(path, what));
    return uuid;
}

void bind_meta(py::module_ &m) {
    // A meta file that lacks a UUID is both a failed lookup (callers of the missing-key
    // error catch KeyError) and a bad file (like loadJson's ValueError); str() shows the
    // message itself rather than KeyError's quoted repr of it.
    py::dict members;
    members[n___str__] = py::handle(PyExc_BaseException).attr(n___str__);
    py::tuple bases = py::make_tuple(py::handle(PyExc_KeyError), py::handle(PyExc_ValueError));
    PyObject *error = PyErr_NewExceptionWithDoc(
        "tessel.nodeweave.MetaFileError",
        "An existing .meta file lacks a key (or an object) that the export reads back.",
        bases.ptr(), members.ptr());
    if (!error) throw py::error_already_set();
    m.attr(n_MetaFileError) = py::reinterpret_steal<py::object>(error);

    py::class_<CCMetaBase> base(m, "CCMetaBase", py::dynamic_attr(),
                                "Model of a .meta file; export() gives its JSON dictionary.");
    host::def_init<py::object, py::object>(
        base,
        [](py::handle self, py::object uuid, py::object version) { meta_init(self, uuid, version); },
        py::arg("uuid") = py::none(), py::arg("version") = "1.0.1");
    base.def(
        "export", [](py::object self) { return meta_export(self); },
        "\"ver\", \"uuid\", the keys of fixdata, then the shared \"subMetas\".");
    def_fixdata(base, layout::Wrap::meta, {});

    py::class_<CCMetaPrefab, CCMetaBase> prefab(m, "CCMetaPrefab", py::dynamic_attr(),
                                                "The document's .prefab.meta.");
    host::def_init<py::object, py::object>(
        prefab,
        [](py::handle self, py::object uuid, py::object version) {
            meta_init(self, uuid, version);
            self.attr(n_optimizationPolicy) = py::str("AUTO");
            self.attr(n_asyncLoadAssets) = py::bool_(false);
        },
        py::arg("uuid") = py::none(), py::arg("version") = "1.0.1");
    def_fixdata(prefab, layout::Wrap::meta, layout::named({"optimizationPolicy", "asyncLoadAssets"}));

    py::class_<CCMetaSprite, CCMetaBase> sprite(m, "CCMetaSprite", py::dynamic_attr(),
                                                "A texture's .png.meta.");
    host::def_init<py::object, py::object>(
        sprite,
        [](py::handle self, py::object uuid, py::object version) {
            meta_init(self, uuid, version);
            self.attr(n_type) = py::str("sprite");
            self.attr(n_wrapMode) = py::str("clamp");
            self.attr(n_filterMode) = py::str("bilinear");
            self.attr(n_premultiplyAlpha) = py::bool_(false);
        },
        py::arg("uuid") = py::none(), py::arg("version") = "2.2.0");
    def_fixdata(sprite, layout::Wrap::meta,
                layout::named({"type", "wrapMode", "filterMode", "premultiplyAlpha"}));

    py::class_<CCMetaSpriteSub, CCMetaBase> sub(m, "CCMetaSpriteSub", py::dynamic_attr(),
                                                "The sprite-frame entry of a texture meta.");
    host::def_init<py::object, py::object, py::object>(
        sub,
        [](py::handle self, py::object uuid, py::object version, py::object parent) {
            meta_init(self, uuid, version);
            self.attr(n_rawTextureUuid) = std::move(parent);
            self.attr(n_trimType) = py::str("auto");
            self.attr(n_trimThreshold) = py::int_(1);
            self.attr(n_rotated) = py::bool_(false);
            for (const host::Name *key : kSubZeros) host::set(self, *key, host::constant::zero());
        },
        py::arg("uuid") = py::none(), py::arg("version") = "1.0.3",
        py::arg("parentUUID") = py::none());
    def_fixdata(sub, layout::Wrap::meta,
                layout::named({"rawTextureUuid", "trimType", "trimThreshold", "rotated", "offsetX", "offsetY",
                               "trimX", "trimY", "width", "height", "rawWidth", "rawHeight", "borderTop",
                               "borderBottom", "borderLeft", "borderRight"}));
}

}  // namespace objects
