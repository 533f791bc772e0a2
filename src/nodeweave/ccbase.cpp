#include "nodeweave/objects.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace objects {

namespace {
/// Attribute and key names, interned at import.
host::Name n_id("id"), n_layer("layer"), n_fixdata("fixdata"), n_name("name"), n_utils("utils"),
    n_cleanLayerName("cleanLayerName"), n__objFlags("_objFlags"), n__id("_id"), n_node("node"),
    n__enabled("_enabled"), n_cctype("cctype");
}  // namespace

py::object global(const host::Name &name) { return host::get(host::module(), name); }

bool truthy(py::handle obj) {
    int truth = PyObject_IsTrue(obj.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

void base_init(py::handle self) {
    self.attr(n_id) = py::str("");
    self.attr(n_layer) = py::none();
}

py::dict base_export(py::handle self) {
    py::dict data;
    self.attr(n_fixdata)(data);
    return data;
}

void name_init(py::handle self) {
    base_init(self);
    self.attr(n_name) = py::str("");
}

void name_read(py::handle self) {
    // CCBase.read does nothing, so there is no base call to make here.
    py::object layer_name = self.attr(n_layer).attr(n_name);
    self.attr(n_name) = global(n_utils).attr(n_cleanLayerName)(layer_name);
}

void item_init(py::handle self) {
    name_init(self);
    self.attr(n__objFlags) = py::int_(0);
}

py::dict item_export(py::handle self) {
    py::dict data = base_export(self);
    // Inserted after every fixdata has run, so "_id" is always the last key.
    data[n__id] = self.attr(n_id);
    return data;
}

void component_init(py::handle self) {
    item_init(self);
    self.attr(n_node) = py::none();
    self.attr(n__enabled) = py::bool_(true);
}

layout::Rows base_members() { return {{"__type__", "cctype"}}; }

layout::Rows name_members() { return base_members() + layout::Rows{{"_name", "name", layout::Source::pinyin}}; }

layout::Rows item_members() { return name_members() + layout::named({"_objFlags"}); }

layout::Rows component_members() {
    return item_members() + layout::named({"node", "_enabled"});
}

void bind_ccbase(py::module_ &m) {
    py::class_<CCBase> base(m, "CCBase", py::dynamic_attr(),
                            "A prefab object: fields in __dict__, JSON form by export().");
    base.attr(n_cctype) = "cc";
    host::def_init<>(base, [](py::handle self) { base_init(self); });
    host::def_hook(base, "read", [](py::handle) {}, "Copy values from `layer` (nothing at this level).");
    def_fixdata(base, layout::Wrap::none, base_members());
    base.def(
        "export", [](py::object self) { return base_export(self); },
        "A new dictionary filled by fixdata.");

    py::class_<CCName, CCBase> name(m, "CCName", py::dynamic_attr());
    host::def_init<>(name, [](py::handle self) { name_init(self); });
    host::def_hook(name, "read", name_read);
    def_fixdata(name, layout::Wrap::none, name_members());

    py::class_<CCItem, CCName> item(m, "CCItem", py::dynamic_attr());
    host::def_init<>(item, [](py::handle self) { item_init(self); });
    def_fixdata(item, layout::Wrap::item, item_members());
    item.def("export", [](py::object self) { return item_export(self); });

    py::class_<CCComponent, CCItem> component(m, "CCComponent", py::dynamic_attr());
    host::def_init<>(component, [](py::handle self) { component_init(self); });
    def_fixdata(component, layout::Wrap::item, component_members());
}

}  // namespace objects
