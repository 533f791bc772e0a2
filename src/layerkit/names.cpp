#include "layerkit/layerkit.hpp"

namespace {

/// "(A_)|(B_)|..." over the text form of every item; the empty text for no items.
py::str combo_str(py::handle items) {
    py::list parts;
    for (py::handle item : items) parts.append(py::str("({}_)").format(py::str(item)));
    return py::str("|").attr("join")(parts);
}

/// Every removal pattern of the module's current `nameRepList`, applied in list order,
/// each as one pass of Python's re.sub. The name stays a Python object throughout.
py::object clean_layer_name(py::object name) {
    py::str empty("");
    py::object patterns = host::module().attr("nameRepList");
    for (py::handle pattern : patterns) name = pattern.attr("sub")(empty, name);
    return name;
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

    m.def("cleanLayerName", &clean_layer_name, py::arg("name"),
          "The base name: `name` with every pattern of `nameRepList` removed, in list order.");
}
