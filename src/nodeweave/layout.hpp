/// The JSON members of each prefab class and meta model, in written order.
///
/// One table per class drives both ways of writing an object: its `fixdata` (reading
/// every value through Python attribute lookup) and the JSON emitter's direct path,
/// which reads the instance __dict__ of objects whose class is exactly a registered
/// one and has not been changed since, and which falls back to `formatCocosData`
/// for everything else.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <vector>

namespace py = pybind11;

namespace layout {

/// Where a member's value comes from.
enum class Source {
    field,        ///< the attribute `field`
    pinyin,       ///< the host's pinyin of the attribute `field`
    sprite_frame, ///< the attribute `field` after its "__uuid__" is set to metaSprite.uuid
    present       ///< the attribute `field` when the object has one; no key otherwise
};

/// One member as the tables spell it.
struct Row {
    const char *key;
    const char *field;
    Source source = Source::field;
};
using Rows = std::vector<Row>;

/// Members written under the names of the attributes they come from.
Rows named(std::initializer_list<const char *> names);

/// `head` followed by `tail`: a class's table is its base's plus its own members.
Rows operator+(Rows head, const Rows &tail);

/// The keys export() puts around those of fixdata.
enum class Wrap {
    none,  ///< CCBase.export: fixdata's keys only
    item,  ///< CCItem.export: then "_id"
    meta   ///< CCMetaBase.export: "ver", "uuid", fixdata's keys, "subMetas"
};

struct Layout;

/// Registers the table of `cls` (its fixdata writes `rows`; its export wraps them as
/// `wrap` says) and returns it for the class's fixdata.
const Layout *define(py::handle cls, Wrap wrap, const Rows &rows);

/// fixdata of a class with table `table`: every member into `data`, read from `self`
/// through attribute lookup.
void fixdata(py::handle self, py::handle data, const Layout &table);

/// Completes the registration once all classes and formatCocosData exist: remembers
/// each class's export and fixdata and gives the base classes the emitter's capsule.
void install(py::module_ &m);

}  // namespace layout
