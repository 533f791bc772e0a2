#include "layerkit/layerkit.hpp"

#include "host/names.hpp"

#include <vector>

namespace {

host::Name kNameRepList("nameRepList"), kSub("sub");

/// "(A_)|(B_)|..." over the text form of every item; the empty text for no items.
py::str combo_str(py::handle items) {
    py::list parts;
    for (py::handle item : items) parts.append(py::str("({}_)").format(py::str(item)));
    return py::str("|").attr("join")(parts);
}

/// Earlier results of clean_layer_name. A compiled pattern's sub with an empty
/// replacement depends on the pattern and the text alone, so a result stays right while
/// `nameRepList` is the same list holding the same compiled patterns; anything else in
/// the list (or a name that is not exactly str) is always worked out anew.
class Cleaned {
public:
    /// The cached result for `name`, or null.
    PyObject *find(py::handle patterns, py::handle name) {
        if (!PyUnicode_CheckExact(name.ptr()) || !same(patterns)) return nullptr;
        return PyDict_GetItemWithError(results_.ptr(), name.ptr());
    }

    void keep(py::handle patterns, py::handle name, py::handle result) {
        if (!PyUnicode_CheckExact(name.ptr()) || !PyList_CheckExact(patterns.ptr())) return;
        if (!same(patterns)) {
            for (py::handle pattern : patterns)
                if (Py_TYPE(pattern.ptr()) != pattern_type_) return;
            list_ = py::reinterpret_borrow<py::object>(patterns);
            items_ = py::reinterpret_steal<py::object>(PyList_GetSlice(patterns.ptr(), 0, PY_SSIZE_T_MAX));
            results_.clear();
        }
        // Bounded: a long-running host exports many documents.
        if (PyDict_GET_SIZE(results_.ptr()) >= kMaxEntries) results_.clear();
        results_[name] = result;
    }

    void set_pattern_type(py::handle type) { pattern_type_ = reinterpret_cast<PyTypeObject *>(type.ptr()); }

private:
    static constexpr Py_ssize_t kMaxEntries = 1 << 14;

    /// Whether `patterns` is still the list of the cached results, item for item.
    bool same(py::handle patterns) const {
        if (patterns.ptr() != list_.ptr() || !items_) return false;
        const Py_ssize_t n = PyList_GET_SIZE(patterns.ptr());
        if (n != PyList_GET_SIZE(items_.ptr())) return false;
        for (Py_ssize_t i = 0; i < n; ++i)
            if (PyList_GET_ITEM(patterns.ptr(), i) != PyList_GET_ITEM(items_.ptr(), i)) return false;
        return true;
    }

    py::object list_, items_;
    py::dict results_;
    PyTypeObject *pattern_type_ = nullptr;
};

Cleaned *g_cleaned = nullptr;

/// Every removal pattern of the module's current `nameRepList`, applied in list order,
/// each as one pass of Python's re.sub. The name stays a Python object throughout.
py::object clean_layer_name(py::object name) {
    py::object patterns = host::get(host::module(), kNameRepList);
    if (PyObject *found = g_cleaned->find(patterns, name)) return py::reinterpret_borrow<py::object>(found);
    if (PyErr_Occurred()) throw py::error_already_set();
    py::object result = name;
    for (py::handle pattern : patterns)
        result = host::own(PyObject_CallMethodObjArgs(pattern.ptr(), kSub.ptr(), host::constant::empty().ptr(),
                                                       result.ptr(), nullptr));
    g_cleaned->keep(patterns, name, result);
    return result;
}

}  // namespace

void bind_names(py::module_ &m) {
    m.def("comboStr", &combo_str, py::arg("strList"),
          "The type-word alternation \"(A_)|(B_)|...\" over the items' text forms.");

    py::list types;
    for (const char *word : {"Label", "Image", "Container", "Button", "Toggle", "ProgressBar", "List",
                             "ScrollView", "ScrollPage", "Item"})
        types.append(word);
    m.attr("allTypes") = types;

    // Python's own re, so \d and \s are Unicode-wide (full-width digits, U+3000) and
    // substitution is leftmost, non-overlapping, alternatives in order.
    py::object re = m.attr("re");
    py::object ignorecase = re.attr("IGNORECASE"), dotall = re.attr("DOTALL");
    py::object flags = ignorecase & ~dotall;
    auto compile = [&](py::str pattern) { return re.attr("compile")(pattern, flags); };
    // The CJK patterns are spelled as UTF-8 bytes so that no source-file encoding can
    // change them: 一 to 龥 (U+4E00..U+9FA5), 拷贝 "copy", 副本 "duplicate".
    py::object scale9 = compile(R"(_(\d+),(\d+),(\d+),(\d+))");
    py::object chinese = compile("[\xe4\xb8\x80-\xe9\xbe\xa5]+");
    py::object img_path = compile("_P,([^,_]+)");
    m.attr("scale9Param") = scale9;
    m.attr("reChinese") = chinese;
    m.attr("reImgPath") = img_path;

    py::list removals;
    removals.append(compile(R"(copy[\s]\d*)"));
    removals.append(scale9);
    removals.append(img_path);
    removals.append(compile(py::str("({})").format(combo_str(types))));
    removals.append(compile("\xe6\x8b\xb7\xe8\xb4\x9d\\s*\\d*"));
    removals.append(compile("\xe5\x89\xaf\xe6\x9c\xac\\s*\\d*"));
    removals.append(compile("#"));
    removals.append(compile(R"(\.(png|jpg))"));
    removals.append(compile(" "));
    m.attr("nameRepList") = removals;
    // Leaked: the module's functions may run until the interpreter's very end.
    g_cleaned = new Cleaned();
    g_cleaned->set_pattern_type(py::type::of(scale9));

    m.def("cleanLayerName", &clean_layer_name, py::arg("name"),
          "The base name: `name` with every pattern of `nameRepList` removed, in list order.");
}
