/// JSON text of Python values, laid out character for character like Python's
/// json.dumps with an indent (its pure-Python encoder), but written in one pass in C++.
#pragma once

#include <pybind11/pybind11.h>

namespace jsonemit {

namespace py = pybind11;

/// How one call lays out its text and what it does with values JSON has no form for.
struct Options {
    /// True: every character outside ASCII becomes a \u escape (astral ones a surrogate
    /// pair). False: text is written raw and only lone surrogates are escaped, so the
    /// result always encodes to UTF-8.
    bool ensure_ascii = true;
    /// json's `indent`: None for one line with ", " between items, an int for that many
    /// spaces per level (negative counts as zero), a str used as it is.
    py::handle indent = py::none();
    /// Called with every value that has no JSON form; its result is written in the
    /// value's place. None raises json's TypeError instead.
    py::handle default_fn = py::none();
};

/// Name of the type attribute (looked up through the MRO) that holds a members capsule.
inline constexpr const char *kMembersAttr = "__jsonemit_members__";
/// Name of the capsule; it changes whenever MembersApi does.
inline constexpr const char *kMembersCapsule = "tessel.jsonemit.members.1";

extern "C" {
/// Called once per member, in order. Returns 0, or -1 with a Python error set.
typedef int (*MemberFn)(void *sink, PyObject *key, PyObject *value);

/// What a class offers the emitter so that its objects can be written without the
/// dictionary the converter would build for each of them.
struct MembersApi {
    /// The members `converter(obj)` would return, handed to `member` in order.
    /// Returns 1 when it did so, 0 when it declines (another converter, a changed or
    /// derived class, anything unusual: the emitter then calls the converter, having
    /// been handed nothing), -1 when `member` failed.
    int (*write)(PyObject *converter, PyObject *obj, void *sink, MemberFn member);
};
}

/// The JSON text of `value`. Raises what json.dumps raises: TypeError for a value or a
/// key without JSON form, ValueError("Circular reference detected") for a container
/// that holds itself, RecursionError for nesting too deep to walk.
py::str dumps(py::handle value, const Options &options);

/// dumps(value, options) encoded as UTF-8, without building the text object first.
py::bytes dumps_utf8(py::handle value, const Options &options);

}  // namespace jsonemit
