/// The export passes: object list, positions, ids and references, file writes.
#pragma once

#include "host/host.hpp"
#include "host/names.hpp"

namespace passes {

/// The module attribute `name` (a class such as `CCNode` or `YGroup`), looked up at
/// every call so that a host that replaces a class is honoured.
py::object cls(const host::Name &name);

/// isinstance(obj, <module attribute `name`>).
bool is_a(py::handle obj, const host::Name &name);

/// `iter(group)` of a layer-info group: its `_layers` list directly while its class
/// iterates with YGroup's own __iter__ (which returns just that), else its override.
py::iterator children(py::handle group);

/// list.append(item): directly for an exact list, else through attribute lookup.
void append(py::handle list, py::handle item);

/// A new object reference {"__id__": id}.
py::dict ref(const py::object &id);

/// Appends the objects of `group` and of its subtree to the document's object list and
/// to the per-layer lists, and points every layer-info's `info` at its node.
void initPsdInfo(py::handle group, py::handle level);

/// The converter handed to every JSON write: `data.export()`.
py::object formatCocosData(py::handle data);

/// Writes the document's object list as the prefab file at `path`.
void saveToPrefab(py::handle psd, py::handle path);

/// Turns the top-left pixel boxes of `psd`'s children into anchors and positions
/// relative to `localPosition` (the absolute position of `psd`'s node), y upwards.
void fixPosition(py::handle psd, py::object localPosition);

/// Numbers the object list, wires the references and builds the meta models.
void refleshIdAndCreateMeta(py::handle psd);

/// Writes the prefab meta model, creates the document's folder and writes one
/// meta file per sprite into it.
void saveMetaFile(py::handle meta, py::handle path, py::handle psd);

}  // namespace passes
