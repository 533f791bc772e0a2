#include "nodeweave/passes.hpp"

namespace passes {

namespace {

/// A new object of the module class `name`, attached to `layer`.
py::object make(const char *name, py::handle layer) {
    py::object obj = cls(name)();
    obj.attr("layer") = layer;
    return obj;
}

/// The object list gets every object first, the layer's own list second; both keep
/// creation order, which is what fixes the "__id__" numbers.
void append(py::handle total, py::handle own, py::handle obj) {
    total.attr("append")(obj);
    own.attr("append")(obj);
}

/// The reader layer of a layer info, for naming it on an error; None for the
/// document, whose errors already name its file.
py::object reader_layer(py::handle group) {
    if (is_a(group, "YPSD")) return py::none();
    return py::getattr(group, "layer", py::none());
}

void build(py::handle group, py::handle level) {
    py::object total = group.attr("root").attr("totalInfo");
    py::object own = group.attr("infolist");
    const bool is_document = is_a(group, "YPSD");

    // Index 0 is the prefab and index 1 the document's node: the id pass relies on it.
    if (is_document) append(total, own, make("CCPrefab", group));

    py::object node = make("CCNode", group);
    node.attr("level") = level;
    node.attr("read")();
    group.attr("info") = node;
    append(total, own, node);

    if (is_a(group, "YGroup")) {
        py::object next = py::reinterpret_borrow<py::object>(level) + py::int_(1);
        for (py::handle child : group) initPsdInfo(child, next);
    }

    if (!is_document) {
        // The component comes after the whole subtree; groups never get one.
        py::object component;
        if (is_a(group, "YTextLayer"))
            component = make("CCLabel", group);
        else if (is_a(group, "YLayer"))
            component = make("CCSprite", group);
        if (component) {
            component.attr("read")();
            append(total, own, component);
        }
    }

    py::object info = make("CCPrefabInfo", group);
    info.attr("read")();
    append(total, own, info);
}

}  // namespace

void initPsdInfo(py::handle group, py::handle level) {
    try {
        build(group, level);
    } catch (py::error_already_set &err) {
        py::object layer = py::none();
        try {
            layer = reader_layer(group);
        } catch (py::error_already_set &) {
            // Unnamed then: the original error is what matters.
        }
        if (!layer.is_none()) host::note_layer(err, layer);
        throw;
    }
}

}  // namespace passes
