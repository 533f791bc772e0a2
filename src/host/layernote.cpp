#include "host/host.hpp"

#include <string>

namespace host {

namespace {

constexpr const char *kNoteLead = "while reading layer ";

bool has_layer_note(py::handle exc) {
    py::object notes = py::getattr(exc, "__notes__", py::none());
    if (!py::isinstance<py::list>(notes)) return false;
    for (py::handle note : notes) {
        if (py::isinstance<py::str>(note) && py::bool_(note.attr("startswith")(kNoteLead))) return true;
    }
    return false;
}

void add_layer_note(const py::error_already_set &err, py::handle layer) {
    py::object exc = err.value();
    if (!py::hasattr(exc, "add_note") || has_layer_note(exc)) return;
    py::object name = py::none(), id = py::none();
    try {
        name = reader::name(layer);
        id = reader::layer_id(layer);
    } catch (py::error_already_set &) {
        // A layer that cannot even report its name or id is named as far as it can be.
    }
    py::str note = py::str(std::string(kNoteLead) + "{!r} (id {})").format(name, id);
    exc.attr("add_note")(note);
}

}  // namespace

void note_layer(const py::error_already_set &err, py::handle layer) {
    try {
        add_layer_note(err, layer);
    } catch (py::error_already_set &) {
        // The note is a courtesy: the original error goes on unchanged.
    }
}

}  // namespace host
