#include "nodeweave/objects.hpp"

#include "host/isa.hpp"
#include "host/names.hpp"
#include "host/pyclass.hpp"
#include "nodeweave/passes.hpp"

namespace passes {

namespace {
/// Attribute and key names, interned at import.
host::Name n_getUUID("getUUID"), n___id__("__id__"), n_totalInfo("totalInfo"), n_CCPrefab("CCPrefab"),
    n_CCPrefabInfo("CCPrefabInfo"), n_CCSprite("CCSprite"), n_CCComponent("CCComponent"), n_CCNode("CCNode"),
    n_YGroup("YGroup"), n_id("id"), n_createMeta("createMeta"), n_metaPath("metaPath"), n_meta("meta"),
    n_CCMetaPrefab("CCMetaPrefab"), n_asset("asset"), n___uuid__("__uuid__"), n_fileId("fileId"),
    n_layer("layer"), n_infolist("infolist"), n_node("node"), n__children("_children"), n_append("append"),
    n_parent("parent"), n__parent("_parent"), n__components("_components"), n__prefab("_prefab"),
    n_data("data"), n_root("root");
}  // namespace

namespace {

/// The prefab asset UUID: the "uuid" of the prefab meta file an earlier export wrote,
/// so a re-exported prefab keeps its identity, else a new one. A file without a usable
/// "uuid" raises MetaFileError naming it, as a sprite's meta file does.
py::object prefab_uuid(py::handle meta_path) {
    if (!host::filemanager::exists(meta_path)) return cls(n_getUUID)();
    py::object jdata = host::filemanager::loadJson(meta_path);
    return objects::meta_uuid(meta_path, jdata, py::str("the prefab meta file"));
}

/// Sets "__id__" 1 (the document's node) in the dictionary field `field` of `obj`.
void point_at_root(py::handle obj, const host::Name &field) {
    py::object data = host::get(obj, field);
    data[n___id__] = host::constant::one();
}

}  // namespace

void refleshIdAndCreateMeta(py::handle psd) {
    py::object total = psd.attr(n_totalInfo);
    const host::IsA is_prefab(cls(n_CCPrefab)), is_prefab_info(cls(n_CCPrefabInfo)), is_sprite(cls(n_CCSprite)),
        is_component(cls(n_CCComponent)), is_node(cls(n_CCNode)), is_group(cls(n_YGroup));

    // First pass: every id must be known before the second pass writes references.
    long counter = 0;
    long prefab_infos = 0;
    for (py::handle obj : total) {
        host::set(obj, n_id, py::int_(counter++));
        if (is_prefab_info(obj))
            ++prefab_infos;
        else if (is_sprite(obj))
            host::call_hook(obj, n_createMeta);
    }
    // A lone prefab info (a document without layers) points at the CCPrefab element;
    // with more than one, every info names the prefab asset by its UUID.
    const bool morethan2prefabinfo = prefab_infos > 1;
    const bool several_objects = counter > 1;

    py::object md5code = py::none();
    for (py::handle obj : total) {
        if (is_prefab(obj)) {
            if (several_objects) {
                point_at_root(obj, n_data);
                md5code = prefab_uuid(obj.attr(n_metaPath));
                obj.attr(n_meta) = cls(n_CCMetaPrefab)(md5code);
            }
        } else if (is_prefab_info(obj)) {
            point_at_root(obj, n_root);
            py::object asset = host::get(obj, n_asset);
            if (morethan2prefabinfo)
                asset[n___uuid__] = md5code;
            else
                asset[n___id__] = host::constant::zero();
            py::object digest = host::filemanager::sha1();
            host::set(obj, n_fileId, host::own(PySequence_GetSlice(digest.ptr(), 0, 22)));
        }

        if (is_component(obj)) {
            for (py::handle other : host::get(host::get(obj, n_layer), n_infolist))
                if (is_node(other)) host::set(obj, n_node, ref(host::get(other, n_id)));
        } else if (is_node(obj)) {
            py::object layer = host::get(obj, n_layer);
            if (is_group(layer)) {
                py::object children_ids = host::get(obj, n__children);
                for (py::handle child : children(layer))
                    for (py::handle other : host::get(child, n_infolist))
                        if (is_node(other)) append(children_ids, ref(host::get(other, n_id)));
            }
            py::object parent = host::get(layer, n_parent);
            if (!parent.is_none()) {
                for (py::handle other : host::get(parent, n_infolist))
                    if (is_node(other)) host::set(obj, n__parent, ref(host::get(other, n_id)));
            }
            py::object components = host::get(obj, n__components);
            for (py::handle other : host::get(layer, n_infolist)) {
                if (is_component(other)) append(components, ref(host::get(other, n_id)));
                if (is_prefab_info(other)) host::set(obj, n__prefab, ref(host::get(other, n_id)));
            }
        }
    }
}

}  // namespace passes
