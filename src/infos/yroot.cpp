#include "infos/infos.hpp"

#include "host/names.hpp"

#include "host/pyclass.hpp"

namespace infos {

namespace {
/// Attribute and key names, interned at import.
host::Name n_name("name"), n_layer("layer"), n__name("_name"), n_parent("parent"), n_infolist("infolist"),
    n_info("info"), n_join("join"), n_prefix("prefix"), n_width("width"), n_height("height"), n_x("x"),
    n_y("y"), n_type("type"), n_layerType("layerType"), n_id("id"), n_visible("visible"), n_left("left"),
    n_right("right"), n_top("top"), n_bottom("bottom"), n_opacity("opacity"), n_fixdata("fixdata");
}  // namespace

bool truthy(py::handle obj) {
    int truth = PyObject_IsTrue(obj.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

bool is_nonempty_text(py::handle obj) {
    return PyUnicode_Check(obj.ptr()) && PyUnicode_GET_LENGTH(obj.ptr()) > 0;
}

py::object name_of(py::handle self) { return self.attr(n_name); }

py::object root_init(py::handle self, py::handle layer) {
    py::object name = host::reader::name(layer);
    self.attr(n_layer) = layer;
    self.attr(n__name) = name;
    self.attr(n_parent) = py::none();
    self.attr(n_infolist) = py::list();
    self.attr(n_info) = py::none();
    return name;
}

void root_fixdata(py::handle, py::handle) {}

namespace {

/// Concatenates the str() of every part; names stay Python text throughout.
py::str join_text(std::initializer_list<py::object> parts) {
    py::list texts;
    for (const py::object &part : parts) texts.append(py::str(part));
    return py::str("").attr(n_join)(texts);
}

}  // namespace

void root_dump(py::handle self, py::handle depth) {
    py::object prefix = host::module().attr(n_prefix);
    py::object indent = prefix * py::reinterpret_borrow<py::object>(depth);
    host::print(join_text({indent, py::str("name:"), name_of(self), py::str(", size:"),
                           self.attr(n_width), py::str("*"), self.attr(n_height), py::str(", x="),
                           self.attr(n_x), py::str(",y="), self.attr(n_y)}));
}

namespace {

py::object root_root(py::object self) {
    py::object node = self;
    for (py::object up = node.attr(n_parent); !up.is_none(); up = node.attr(n_parent)) node = up;
    return node;
}

py::object root_name(py::object self) {
    py::object stored = self.attr(n__name);
    if (is_nonempty_text(stored)) return stored;
    return host::reader::name(self.attr(n_layer));
}

py::object root_id(py::object self) {
    if (py::isinstance<YPSD>(self)) return py::int_(0);
    return host::reader::layer_id(self.attr(n_layer));
}

py::dict root_exportdata(py::object self) {
    py::object layer = self.attr(n_layer);
    py::dict data;
    data[n_type] = self.attr(n_layerType);
    py::object parent = self.attr(n_parent);
    py::object parent_id = py::int_(0);
    if (!parent.is_none()) {
        py::object pid = parent.attr(n_id);
        if (truthy(pid)) parent_id = pid;
    }
    data[n_parent] = parent_id;
    data[n_name] = host::filemanager::pinyin(name_of(self));
    data[n_width] = self.attr(n_width);
    data[n_height] = self.attr(n_height);
    data[n_visible] = host::reader::visible_value(layer);
    data[n_left] = self.attr(n_x);
    data[n_right] = host::reader::right(layer);
    data[n_top] = self.attr(n_y);
    data[n_bottom] = host::reader::bottom(layer);
    data[n_opacity] = py::int_(0);
    if (!py::isinstance<YPSD>(self)) {
        data[n_opacity] = host::reader::opacity(layer);
        data[n_id] = host::reader::layer_id(layer);
    }
    self.attr(n_fixdata)(data);
    return data;
}

}  // namespace

void bind_yroot(py::module_ &m) {
    py::class_<YRoot> cls(m, "YRoot", py::dynamic_attr());
    cls.attr(n_layerType) = "Root";
    host::def_init<py::object>(
        cls, [](py::handle self, py::object layer) { root_init(self, layer); }, py::arg("layer"));
    cls.def_property_readonly("root", &root_root, "The topmost ancestor; itself without a parent.");
    cls.def_property(
        "name", &root_name,
        [](py::object self, py::object value) { self.attr(n__name) = value; },
        "`_name` when it is non-empty text, else the reader layer's current name.");
    cls.def_property_readonly("id", &root_id, "0 for the document, else the reader's layer_id.");
    cls.def_property_readonly("width", [](py::object self) {
        return host::reader::width(self.attr(n_layer));
    });
    cls.def_property_readonly("height", [](py::object self) {
        return host::reader::height(self.attr(n_layer));
    });
    cls.def_property_readonly("opacity", [](py::object self) {
        return host::reader::opacity(self.attr(n_layer));
    });
    cls.def_property_readonly("x", [](py::object self) {
        return host::reader::left(self.attr(n_layer));
    });
    cls.def_property_readonly("y", [](py::object self) {
        return host::reader::top(self.attr(n_layer));
    });
    cls.def("__repr__", [](py::object self) {
        return py::str(self.attr(n_layer)) + py::str("\n");
    });
    cls.def(
        "dump", [](py::object self, py::object layer) { root_dump(self, layer); },
        py::arg("layer") = 0, "Prints the name, size and position line at depth `layer`.");
    cls.def("exportdata", &root_exportdata, "The ordered export dictionary of this layer.");
    cls.def(
        "fixdata", [](py::object self, py::object data) { root_fixdata(self, data); },
        py::arg("data"), "Hook for the class's own keys; adds nothing here.");
}

}  // namespace infos
