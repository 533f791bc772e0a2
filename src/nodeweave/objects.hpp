/// The prefab object classes, value types, meta models and UUID functions of nodeweave.
///
/// Every class is a pybind11 class over an empty C++ struct whose fields live in the
/// instance __dict__. Hooks (`read`, `fixdata`, `export`) are C++ functions taking the
/// Python `self`; `read` calls its base's function directly, then adds its own work;
/// each class's `fixdata` writes its member table (layout.hpp), its base's members
/// first; every hook that another hook triggers is looked up on `self` so that a
/// Python subclass's override wins.
#pragma once

#include "host/names.hpp"
#include "nodeweave/layout.hpp"
#include "nodeweave/nodeweave.hpp"

#include <pybind11/pybind11.h>

/// Prefab object base: `id`, `layer`, "__type__".
struct CCBase {};
/// Adds the cleaned layer name, written as its pinyin under "_name".
struct CCName : CCBase {};
/// Adds "_objFlags" and the trailing "_id".
struct CCItem : CCName {};
/// Adds the owning node reference and "_enabled".
struct CCComponent : CCItem {};
/// "cc.Node".
struct CCNode : CCItem {};
/// "cc.Label".
struct CCLabel : CCComponent {};
/// "cc.Sprite".
struct CCSprite : CCComponent {};
/// "cc.Prefab".
struct CCPrefab : CCName {};
/// "cc.PrefabInfo".
struct CCPrefabInfo : CCBase {};
/// "cc.Color".
struct CCColor : CCBase {};
/// "cc.Size".
struct CCSize : CCBase {};
/// "cc.Vec2".
struct CCVec2 : CCBase {};
/// "cc.Vec3".
struct CCVec3 : CCVec2 {};
/// "cc.Quat".
struct CCQuat : CCVec3 {};
/// "TypedArray": a JavaScript typed array, such as a node's "_trs".
struct CCTypedArray : CCBase {};

/// Root of the .meta file models: "ver", "uuid", own keys, "subMetas".
struct CCMetaBase {};
/// The document's .prefab.meta.
struct CCMetaPrefab : CCMetaBase {};
/// A texture's .png.meta.
struct CCMetaSprite : CCMetaBase {};
/// The sprite-frame entry inside a texture's "subMetas".
struct CCMetaSpriteSub : CCMetaBase {};

namespace objects {

/// The attribute `name` of this extension module, looked up at every call so that a
/// host or a test may replace it (`utils`, `YPSD`, `YText`, `uuidDict`, `getUUID`, ...).
py::object global(const host::Name &name);

/// Python truth value of `obj`; errors of `__bool__` propagate.
bool truthy(py::handle obj);

/// Base class constructors and hooks, called directly by the subclasses' versions.
void base_init(py::handle self);
py::dict base_export(py::handle self);
void name_init(py::handle self);
void name_read(py::handle self);
void item_init(py::handle self);
py::dict item_export(py::handle self);
void component_init(py::handle self);

/// The members that the fixdata of CCBase, CCName, CCItem and CCComponent write,
/// which every subclass's table begins with.
layout::Rows base_members();
layout::Rows name_members();
layout::Rows item_members();
layout::Rows component_members();

/// Defines `fixdata` of `cls`: the members of `rows` into the dictionary, in order
/// (`wrap`: the keys that the class's export puts around them).
template <typename Class>
void def_fixdata(Class &cls, layout::Wrap wrap, const layout::Rows &rows) {
    const layout::Layout *table = layout::define(cls, wrap, rows);
    cls.def(
        "fixdata", [table](py::object self, py::object data) { layout::fixdata(self, data, *table); },
        py::arg("data"), "Insert this object's keys into `data`.");
}

/// `container[key]` of a meta file read back from `path`. A container that is not a
/// JSON object, or one without `key`, raises MetaFileError naming the file, the
/// container (`what`) and the key; nothing is written or repaired.
py::object meta_item(py::handle path, py::handle container, py::handle what, py::handle key);

/// `container["uuid"]` of a meta file read back from `path`, which must be text;
/// anything else raises MetaFileError like meta_item.
py::object meta_uuid(py::handle path, py::handle container, py::handle what);

/// A fresh UUID: the host's md5 digest with "-" inserted at 20, 16, 12 and 8.
py::object get_uuid();

/// A text layer-info's `textBox`: (left, top, width, height) of box text, None for point text.
py::object text_box_of(py::handle layer);
/// Box text: the node takes the text box as its document position and content size.
void read_text_box(py::handle node, py::handle layer);

void bind_ccbase(py::module_ &m);
void bind_valuetypes(py::module_ &m);
void bind_meta(py::module_ &m);
void bind_ccnode(py::module_ &m);
void bind_cclabel(py::module_ &m);
void bind_ccsprite(py::module_ &m);
void bind_ccprefab(py::module_ &m);
void bind_uuid(py::module_ &m);

}  // namespace objects
