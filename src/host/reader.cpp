#include "host/host.hpp"

#include "host/names.hpp"

#include <unordered_map>

namespace host::reader {

namespace {
Name kKind("kind"), kName("name"),
    kVisible("visible"), kLayerId("layer_id"), kLeft("left"), kTop("top"), kRight("right"), kBottom("bottom"),
    kWidth("width"), kHeight("height"), kOpacity("opacity"), kTopil("topil"), kEngineDict("engine_dict"),
    kResourceDict("resource_dict"), kData("_data"), kTransform("transform");

/// The reader's engine-data key class, or None when it has none.
py::object property_class() {
    for (const char *module : {"psd_tools2.psd.engine_data", "psd_tools.psd.engine_data"}) {
        try {
            return py::module_::import(module).attr("Property");
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_ImportError) && !e.matches(PyExc_AttributeError)) throw;
        }
    }
    return py::none();
}

}  // namespace

py::object kind(py::handle layer) { return get(layer, kKind); }
bool visible(py::handle layer) { return truth(get(layer, kVisible)); }
py::object visible_value(py::handle layer) { return get(layer, kVisible); }
py::object layer_id(py::handle layer) { return get(layer, kLayerId); }
py::object left(py::handle layer) { return get(layer, kLeft); }
py::object top(py::handle layer) { return get(layer, kTop); }
py::object right(py::handle layer) { return get(layer, kRight); }
py::object bottom(py::handle layer) { return get(layer, kBottom); }
py::object width(py::handle layer) { return get(layer, kWidth); }
py::object height(py::handle layer) { return get(layer, kHeight); }
py::object opacity(py::handle layer) { return get(layer, kOpacity); }
py::object topil(py::handle layer) { return call_method(layer, kTopil); }
py::object engine_dict(py::handle layer) { return get(layer, kEngineDict); }
py::object resource_dict(py::handle layer) { return get(layer, kResourceDict); }
py::object transform(py::handle layer) { return get(get(layer, kData), kTransform); }
py::iterator children(py::handle group) { return py::iter(group); }

py::handle key(const Name &name) {
    // Leaked with the keys: they live as long as the process.
    static std::unordered_map<PyObject *, PyObject *> &keys = *new std::unordered_map<PyObject *, PyObject *>();
    static PyObject *property = property_class().release().ptr();
    auto found = keys.find(name.ptr());
    if (found != keys.end()) return found->second;
    PyObject *made = property == Py_None ? (Py_INCREF(name.ptr()), name.ptr())
                                         : own(PyObject_CallOneArg(property, name.ptr())).release().ptr();
    keys.emplace(name.ptr(), made);
    return made;
}

}  // namespace host::reader
