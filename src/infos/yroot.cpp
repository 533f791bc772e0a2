#include "infos/infos.hpp"

#include "host/pyclass.hpp"

namespace infos {

bool truthy(py::handle obj) {
    int truth = PyObject_IsTrue(obj.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

bool is_nonempty_text(py::handle obj) {
    return PyUnicode_Check(obj.ptr()) && PyUnicode_GET_LENGTH(obj.ptr()) > 0;
}

py::object name_of(py::handle self) { return self.attr("name"); }

void root_init(py::handle self, py::handle layer) {
    self.attr("layer") = layer;
    self.attr("_name") = host::reader::name(layer);
    self.attr("parent") = py::none();
    self.attr("infolist") = py::list();
    self.attr("info") = py::none();
}

void root_fixdata(py::handle, py::handle) {}

namespace {

/// Concatenates the str() of every part; names stay Python text throughout.
py::str join_text(std::initializer_list<py::object> parts) {
    py::list texts;
    for (const py::object &part : parts) texts.append(py::str(part));
    return py::str("").attr("join")(texts);
}

}  // namespace

void root_dump(py::handle self, py::handle depth) {
    py::object prefix = host::module().attr("prefix");
    py::object indent = prefix * py::reinterpret_borrow<py::object>(depth);
    host::print(join_text({indent, py::str("name:"), name_of(self), py::str(", size:"),
                           self.attr("width"), py::str("*"), self.attr("height"), py::str(", x="),
                           self.attr("x"), py::str(",y="), self.attr("y")}));
}

namespace {

py::object root_root(py::object self) {
    py::object node = self;
    for (py::object up = node.attr("parent"); !up.is_none(); up = node.attr("parent")) node = up;
    return node;
}

py::object root_name(py::object self) {
    py::object stored = self.attr("_name");
    if (is_nonempty_text(stored)) return stored;
    return host::reader::name(self.attr("layer"));
}

py::object root_id(py::object self) {
    if (py::isinstance<YPSD>(self)) return py::int_(0);
    return host::reader::layer_id(self.attr("layer"));
}

py::dict root_exportdata(py::object self) {
    py::object layer = self.attr("layer");
    py::dict data;
    data["type"] = self.attr("layerType");
    py::object parent = self.attr("parent");
    py::object parent_id = py::int_(0);
    if (!parent.is_none()) {
        py::object pid = parent.attr("id");
        if (truthy(pid)) parent_id = pid;
    }
    data["parent"] = parent_id;
    data["name"] = host::filemanager::pinyin(name_of(self));
    data["width"] = self.attr("width");
    data["height"] = self.attr("height");
    data["visible"] = host::reader::visible_value(layer);
    data["left"] = self.attr("x");
    data["right"] = host::reader::right(layer);
    data["top"] = self.attr("y");
    data["bottom"] = host::reader::bottom(layer);
    data["opacity"] = py::int_(0);
    if (!py::isinstance<YPSD>(self)) {
        data["opacity"] = host::reader::opacity(layer);
        data["id"] = host::reader::layer_id(layer);
    }
    self.attr("fixdata")(data);
    return data;
}

}  // namespace

void bind_yroot(py::module_ &m) {
    py::class_<YRoot> cls(m, "YRoot", py::dynamic_attr());
    cls.attr("layerType") = "Root";
    host::def_init<py::object>(
        cls, [](py::handle self, py::object layer) { root_init(self, layer); }, py::arg("layer"));
    cls.def_property_readonly("root", &root_root, "The topmost ancestor; itself without a parent.");
    cls.def_property(
        "name", &root_name,
        [](py::object self, py::object value) { self.attr("_name") = value; },
        "`_name` when it is non-empty text, else the reader layer's current name.");
    cls.def_property_readonly("id", &root_id, "0 for the document, else the reader's layer_id.");
    cls.def_property_readonly("width", [](py::object self) {
        return host::reader::width(self.attr("layer"));
    });
    cls.def_property_readonly("height", [](py::object self) {
        return host::reader::height(self.attr("layer"));
    });
    cls.def_property_readonly("opacity", [](py::object self) {
        return host::reader::opacity(self.attr("layer"));
    });
    cls.def_property_readonly("x", [](py::object self) {
        return host::reader::left(self.attr("layer"));
    });
    cls.def_property_readonly("y", [](py::object self) {
        return host::reader::top(self.attr("layer"));
    });
    cls.def("__repr__", [](py::object self) {
        return py::str(self.attr("layer")) + py::str("\n");
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
