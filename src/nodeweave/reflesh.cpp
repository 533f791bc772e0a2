#include "nodeweave/objects.hpp"
#include "nodeweave/passes.hpp"

namespace passes {

namespace {

/// The prefab asset UUID: the "uuid" of the prefab meta file an earlier export wrote,
/// so a re-exported prefab keeps its identity, else a new one. A file without a usable
/// "uuid" raises MetaFileError naming it, as a sprite's meta file does.
py::object prefab_uuid(py::handle meta_path) {
    if (!host::filemanager::exists(meta_path)) return cls("getUUID")();
    py::object jdata = host::filemanager::loadJson(meta_path);
    return objects::meta_uuid(meta_path, jdata, py::str("the prefab meta file"));
}

/// Sets "__id__" 1 (the document's node) in the dictionary field `field` of `obj`.
void point_at_root(py::handle obj, const char *field) {
    py::object data = obj.attr(field);
    data["__id__"] = py::int_(1);
}

}  // namespace

void refleshIdAndCreateMeta(py::handle psd) {
    py::object total = psd.attr("totalInfo");
    py::object Prefab = cls("CCPrefab");
    py::object PrefabInfo = cls("CCPrefabInfo");
    py::object Sprite = cls("CCSprite");
    py::object Component = cls("CCComponent");
    py::object Node = cls("CCNode");
    py::object Group = cls("YGroup");

    // First pass: every id must be known before the second pass writes references.
    long counter = 0;
    long prefab_infos = 0;
    for (py::handle obj : total) {
        obj.attr("id") = py::int_(counter++);
        if (py::isinstance(obj, PrefabInfo))
            ++prefab_infos;
        else if (py::isinstance(obj, Sprite))
            obj.attr("createMeta")();
    }
    // A lone prefab info (a document without layers) points at the CCPrefab element;
    // with more than one, every info names the prefab asset by its UUID.
    const bool morethan2prefabinfo = prefab_infos > 1;
    const bool several_objects = counter > 1;

    py::object md5code = py::none();
    for (py::handle obj : total) {
        if (py::isinstance(obj, Prefab)) {
            if (several_objects) {
                point_at_root(obj, "data");
                md5code = prefab_uuid(obj.attr("metaPath"));
                obj.attr("meta") = cls("CCMetaPrefab")(md5code);
            }
        } else if (py::isinstance(obj, PrefabInfo)) {
            point_at_root(obj, "root");
            py::object asset = obj.attr("asset");
            if (morethan2prefabinfo)
                asset["__uuid__"] = md5code;
            else
                asset["__id__"] = py::int_(0);
            py::object digest = host::filemanager::sha1();
            obj.attr("fileId") = digest[py::slice(0, 22, 1)];
        }

        if (py::isinstance(obj, Component)) {
            for (py::handle other : obj.attr("layer").attr("infolist"))
                if (py::isinstance(other, Node)) obj.attr("node") = ref(other.attr("id"));
        } else if (py::isinstance(obj, Node)) {
            py::object layer = obj.attr("layer");
            if (py::isinstance(layer, Group)) {
                py::object children = obj.attr("_children");
                for (py::handle child : layer)
                    for (py::handle other : child.attr("infolist"))
                        if (py::isinstance(other, Node)) children.attr("append")(ref(other.attr("id")));
            }
            py::object parent = layer.attr("parent");
            if (!parent.is_none()) {
                for (py::handle other : parent.attr("infolist"))
                    if (py::isinstance(other, Node)) obj.attr("_parent") = ref(other.attr("id"));
            }
            py::object components = obj.attr("_components");
            for (py::handle other : layer.attr("infolist")) {
                if (py::isinstance(other, Component)) components.attr("append")(ref(other.attr("id")));
                if (py::isinstance(other, PrefabInfo)) obj.attr("_prefab") = ref(other.attr("id"));
            }
        }
    }
}

}  // namespace passes
