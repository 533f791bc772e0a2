#include "nodeweave/objects.hpp"
#include "nodeweave/passes.hpp"

#include "host/isa.hpp"
#include "host/numbers.hpp"
#include "host/pyclass.hpp"

namespace passes {

namespace {

using host::get;
using host::Name;
using host::set;

Name kRoot("root"), kTotalInfo("totalInfo"), kInfolist("infolist"), kLayer("layer"), kLevel("level"),
    kRead("read"), kInfo("info"), kCCPrefab("CCPrefab"), kCCNode("CCNode"),
    kCCLabel("CCLabel"), kCCSprite("CCSprite"), kCCPrefabInfo("CCPrefabInfo"), kYPSD("YPSD"),
    kYGroup("YGroup"), kYTextLayer("YTextLayer"), kYLayer("YLayer");

/// The module's classes as one call of the pass finds them.
struct Classes {
    py::object prefab = cls(kCCPrefab), node = cls(kCCNode), label = cls(kCCLabel), sprite = cls(kCCSprite),
               info = cls(kCCPrefabInfo);
    host::IsA is_document{cls(kYPSD)}, is_group{cls(kYGroup)}, is_text{cls(kYTextLayer)}, is_layer{cls(kYLayer)};
};

/// A new object of `cls` (the module's class T, or whatever replaced it), attached to `layer`.
template <typename T>
py::object make(const py::object &cls, py::handle layer) {
    py::object obj = host::create<T>(cls);
    set(obj, kLayer, layer);
    return obj;
}

/// The object list gets every object first, the layer's own list second; both keep
/// creation order, which is what fixes the "__id__" numbers.
void append(py::handle total, py::handle own, py::handle obj) {
    passes::append(total, obj);
    passes::append(own, obj);
}

/// The reader layer of a layer info, for naming it on an error; None for the
/// document, whose errors already name its file.
py::object reader_layer(const Classes &c, py::handle group) {
    if (c.is_document(group)) return py::none();
    return py::getattr(group, kLayer, py::none());
}

void visit(const Classes &c, py::handle group, py::handle level);

void build(const Classes &c, py::handle group, py::handle level) {
    py::object total = get(get(group, kRoot), kTotalInfo);
    py::object own = get(group, kInfolist);
    const bool is_document = c.is_document(group);

    // Index 0 is the prefab and index 1 the document's node: the id pass relies on it.
    if (is_document) append(total, own, make<CCPrefab>(c.prefab, group));

    py::object node = make<CCNode>(c.node, group);
    set(node, kLevel, level);
    host::call_hook(node, kRead);
    set(group, kInfo, node);
    append(total, own, node);

    if (c.is_group(group)) {
        py::object next = num::add(level, host::constant::one());
        for (py::handle child : children(group)) visit(c, child, next);
    }

    if (!is_document) {
        // The component comes after the whole subtree; groups never get one.
        py::object component;
        if (c.is_text(group))
            component = make<CCLabel>(c.label, group);
        else if (c.is_layer(group))
            component = make<CCSprite>(c.sprite, group);
        if (component) {
            host::call_hook(component, kRead);
            append(total, own, component);
        }
    }

    py::object info = make<CCPrefabInfo>(c.info, group);
    host::call_hook(info, kRead);
    append(total, own, info);
}

void visit(const Classes &c, py::handle group, py::handle level) {
    try {
        build(c, group, level);
    } catch (py::error_already_set &err) {
        py::object layer = py::none();
        try {
            layer = reader_layer(c, group);
        } catch (py::error_already_set &) {
            // Unnamed then: the original error is what matters.
        }
        if (!layer.is_none()) host::note_layer(err, layer);
        throw;
    }
}

}  // namespace

void initPsdInfo(py::handle group, py::handle level) {
    const Classes classes;
    visit(classes, group, level);
}

}  // namespace passes
