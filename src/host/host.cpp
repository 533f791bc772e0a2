#include "host/host.hpp"

#include "host/names.hpp"

namespace host {

namespace {
// Borrowed: the extension module lives in sys.modules until interpreter shutdown.
py::handle g_module;
}  // namespace

void bind_module(py::module_ m) {
    g_module = m;
    intern_names();
}

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

namespace {
py::object attr(py::handle obj, const Name &name) { return get(obj, name); }

Name kFilemanager("filemanager");
}  // namespace

namespace filemanager {
namespace {
py::object fm(const Name &fn) { return attr(attr(g_module, kFilemanager), fn); }

/// fm(fn)(arg) without building an argument tuple.
py::object call(const Name &fn, py::handle arg) { return own(PyObject_CallOneArg(fm(fn).ptr(), arg.ptr())); }
py::object call(const Name &fn) { return own(PyObject_CallNoArgs(fm(fn).ptr())); }

Name kPinyin("pinyin"), kBasename("basename"), kMd5("md5"), kSha1("sha1"), kExists("exists"),
    kLoadJson("loadJson"), kWriteJson("writeJson"), kMkdir("mkdir");
}  // namespace

namespace {
// Strong: the function object stays comparable by identity for the whole process.
PyObject *g_own_pinyin = nullptr;
py::dict *g_pinyin_answers = nullptr;
}  // namespace

void remember_own_pinyin(py::handle fm) {
    if (g_own_pinyin == nullptr) g_own_pinyin = get(fm, kPinyin).release().ptr();
}

PinyinPass::PinyinPass() : outer_(g_pinyin_answers) { g_pinyin_answers = &answers_; }
PinyinPass::~PinyinPass() { g_pinyin_answers = outer_; }

py::object pinyin(py::handle name) {
    py::object fn = fm(kPinyin);
    if (g_pinyin_answers == nullptr || fn.ptr() != g_own_pinyin || !PyUnicode_CheckExact(name.ptr()))
        return own(PyObject_CallOneArg(fn.ptr(), name.ptr()));
    PyObject *answers = g_pinyin_answers->ptr();
    PyObject *known = PyDict_GetItemWithError(answers, name.ptr());
    if (known != nullptr) return py::reinterpret_borrow<py::object>(known);
    if (PyErr_Occurred()) throw py::error_already_set();
    py::object result = own(PyObject_CallOneArg(fn.ptr(), name.ptr()));
    if (PyDict_SetItem(answers, name.ptr(), result.ptr()) < 0) throw py::error_already_set();
    return result;
}
py::object basename(py::handle path) { return call(kBasename, path); }
py::object md5() { return call(kMd5); }
py::object sha1() { return call(kSha1); }

bool exists(py::handle path) {
    py::object result = call(kExists, path);
    int truth = PyObject_IsTrue(result.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

py::object loadJson(py::handle path) { return call(kLoadJson, path); }

void writeJson(py::handle path, py::handle data, int indent, py::handle converter) {
    fm(kWriteJson)(path, data, indent, converter);
}

void mkdir(py::handle path) { call(kMkdir, path); }
}  // namespace filemanager

namespace log {
namespace {
Name kLog("log"), kI("i"), kD("d");
}  // namespace

void i(py::handle message) { call_method(get(g_module, kLog), kI, message); }
void d(py::handle message) { call_method(get(g_module, kLog), kD, message); }
}  // namespace log

}  // namespace host
