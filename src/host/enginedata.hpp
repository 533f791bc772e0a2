/// Reads of the reader's engine-data dictionaries, straight from their items where the type is the reader's own.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

namespace py = pybind11;

namespace host {
class Name;
}

namespace host::engine {

/// dict[name] with the reader's key type, as the reader's `__getitem__` answers it.
py::object get(py::handle dict, const Name &name);
/// dict.get(name): the value, or None when the key is missing.
py::object get_or_none(py::handle dict, const Name &name);
/// What the reader's own items say of a key.
enum class Answer { found, missing, ask };
/// dict[name] into `out` (found) or missing, when the reader's own items answer; ask
/// leaves the look-up (and its error, if any) to the object itself.
Answer lookup(py::handle dict, const Name &name, py::object &out);
/// name in dict.
bool has(py::handle dict, const Name &name);
/// The plain value of an engine-data leaf (its `value`), or the object itself.
py::object plain(py::handle leaf);
/// Calls `each(key, value)` for every item of `entries` in order, as `entries.items()` lists them.
void for_each_item(py::handle entries, const std::function<void(py::handle, py::handle)> &each);

}  // namespace host::engine
