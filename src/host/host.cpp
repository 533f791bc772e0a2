#include "host/host.hpp"

namespace host {

namespace {
// Borrowed: the extension module lives in sys.modules until interpreter shutdown.
py::handle g_module;
}  // namespace

void bind_module(py::module_ m) { g_module = m; }

py::module_ module() { return py::reinterpret_borrow<py::module_>(g_module); }

py::module_ import_sibling(const char *name) {
    try {
        return py::module_::import((std::string("tessel.") + name).c_str());
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError)) throw;
    }
    return py::module_::import(name);
}

py::module_ import_reader_layers() {
    try {
        return py::module_::import("psd_tools2.api.layers");
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError)) throw;
    }
    return py::module_::import("psd_tools.api.layers");
}

void print(py::handle obj) {
    py::module_::import("builtins").attr("print")(obj);
}

namespace filemanager {
namespace {
py::object fm(const char *fn) { return module().attr("filemanager").attr(fn); }
}  // namespace

py::object pinyin(py::handle name) { return fm("pinyin")(name); }
py::object basename(py::handle path) { return fm("basename")(path); }
py::object md5() { return fm("md5")(); }
py::object sha1() { return fm("sha1")(); }

bool exists(py::handle path) {
    py::object result = fm("exists")(path);
    int truth = PyObject_IsTrue(result.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

py::object loadJson(py::handle path) { return fm("loadJson")(path); }

void writeJson(py::handle path, py::handle data, int indent, py::handle converter) {
    fm("writeJson")(path, data, indent, converter);
}

void mkdir(py::handle path) { fm("mkdir")(path); }
}  // namespace filemanager

namespace log {
void i(py::handle message) { module().attr("log").attr("i")(message); }
void d(py::handle message) { module().attr("log").attr("d")(message); }
}  // namespace log

}  // namespace host
