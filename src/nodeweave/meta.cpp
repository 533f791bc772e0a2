#include "nodeweave/objects.hpp"

#include "host/pyclass.hpp"

#include <utility>

namespace objects {

namespace {

void meta_init(py::handle self, py::object uuid, py::object version) {
    self.attr("ver") = std::move(version);
    self.attr("uuid") = std::move(uuid);
    self.attr("subMetas") = py::dict();
}

py::dict meta_export(py::handle self) {
    py::dict data;
    data["ver"] = self.attr("ver");
    data["uuid"] = self.attr("uuid");
    self.attr("fixdata")(data);
    // The model's own dictionary, not a copy: sub-metas added later still show up.
    data["subMetas"] = self.attr("subMetas");
    return data;
}

[[noreturn]] void raise_meta_error(const py::str &message) {
    PyErr_SetObject(global("MetaFileError").ptr(), message.ptr());
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
    members["__str__"] = py::handle(PyExc_BaseException).attr("__str__");
    py::tuple bases = py::make_tuple(py::handle(PyExc_KeyError), py::handle(PyExc_ValueError));
    PyObject *error = PyErr_NewExceptionWithDoc(
        "tessel.nodeweave.MetaFileError",
        "An existing .meta file lacks a key (or an object) that the export reads back.",
        bases.ptr(), members.ptr());
    if (!error) throw py::error_already_set();
    m.attr("MetaFileError") = py::reinterpret_steal<py::object>(error);

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
            self.attr("optimizationPolicy") = py::str("AUTO");
            self.attr("asyncLoadAssets") = py::bool_(false);
        },
        py::arg("uuid") = py::none(), py::arg("version") = "1.0.1");
    def_fixdata(prefab, layout::Wrap::meta, layout::named({"optimizationPolicy", "asyncLoadAssets"}));

    py::class_<CCMetaSprite, CCMetaBase> sprite(m, "CCMetaSprite", py::dynamic_attr(),
                                                "A texture's .png.meta.");
    host::def_init<py::object, py::object>(
        sprite,
        [](py::handle self, py::object uuid, py::object version) {
            meta_init(self, uuid, version);
            self.attr("type") = py::str("sprite");
            self.attr("wrapMode") = py::str("clamp");
            self.attr("filterMode") = py::str("bilinear");
            self.attr("premultiplyAlpha") = py::bool_(false);
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
            self.attr("rawTextureUuid") = std::move(parent);
            self.attr("trimType") = py::str("auto");
            self.attr("trimThreshold") = py::int_(1);
            self.attr("rotated") = py::bool_(false);
            for (const char *key : {"offsetX", "offsetY", "trimX", "trimY", "width", "height",
                                    "rawWidth", "rawHeight", "borderTop", "borderBottom",
                                    "borderLeft", "borderRight"})
                self.attr(key) = py::int_(0);
        },
        py::arg("uuid") = py::none(), py::arg("version") = "1.0.3",
        py::arg("parentUUID") = py::none());
    def_fixdata(sub, layout::Wrap::meta,
                layout::named({"rawTextureUuid", "trimType", "trimThreshold", "rotated", "offsetX", "offsetY",
                               "trimX", "trimY", "width", "height", "rawWidth", "rawHeight", "borderTop",
                               "borderBottom", "borderLeft", "borderRight"}));
}

}  // namespace objects
