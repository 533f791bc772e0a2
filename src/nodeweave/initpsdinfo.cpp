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

}  // namespace

void initPsdInfo(py::handle group, py::handle level) {
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

}  // namespace passes
