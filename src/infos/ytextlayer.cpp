#include "infos/infos.hpp"

#include "host/enginedata.hpp"
#include "host/names.hpp"

#include <cmath>
#include <stdexcept>

#include "host/pyclass.hpp"

namespace infos {

namespace {
/// Attribute and key names, interned at import.
host::Name n_spans("spans"), n_Editor("Editor"), n_Text("Text"), n_AntiAlias("AntiAlias"),
    n_FontSet("FontSet"), n_TheNormalStyleSheet("TheNormalStyleSheet"), n_StyleSheetSet("StyleSheetSet"),
    n_StyleSheetData("StyleSheetData"), n_ParagraphRun("ParagraphRun"), n_DefaultRunData("DefaultRunData"),
    n_ParagraphSheet("ParagraphSheet"), n_DefaultStyleSheet("DefaultStyleSheet"), n_RunArray("RunArray"),
    n_Properties("Properties"), n_Justification("Justification"), n_initText("initText"), n_get("get"),
    n_StyleRun("StyleRun"), n_RunLengthArray("RunLengthArray"), n_StyleSheet("StyleSheet"),
    n_FontSize("FontSize"), n_fontName("fontName"), n_Font("Font"), n_Name("Name"), n_FillColor("FillColor"),
    n_text("text"), n_strip("strip"), n_Values("Values"), n_layerType("layerType"), n_layer("layer");
}  // namespace

namespace {

/// A colour fraction 0..1 as a byte value: times 255, exact halves to the even neighbour.
long long colour_byte(double fraction) {
    double scaled = std::nearbyint(fraction * 255.0);
    if (!std::isfinite(scaled) || std::fabs(scaled) > 9.0e15)
        throw std::domain_error("colour value out of range");
    return static_cast<long long>(scaled);
}

/// The member `name`, or None when the style sheet never set it.
py::object member_or_none(py::handle self, const char *name) {
    PyObject *value = PyObject_GetAttrString(self.ptr(), name);
    if (value) return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return py::none();
}

/// dict[name] with the reader's key for `name`.
py::object item(py::handle dict, const host::Name &name) { return host::engine::get(dict, name); }

void text_layer_init(py::handle self, py::handle layer) {
    root_init(self, layer);
    self.attr(n_spans) = py::list();
    py::object engine = host::reader::engine_dict(layer);
    py::object resources = host::reader::resource_dict(layer);

    py::object text = plain(item(item(engine, n_Editor), n_Text));
    py::object AntiAlias = plain(item(engine, n_AntiAlias));
    self.attr(n_AntiAlias) = AntiAlias;
    py::object fontset = item(resources, n_FontSet);
    py::object idxTheNormalStyleSheet = item(resources, n_TheNormalStyleSheet);
    py::object styleSheetData = item(at(item(resources, n_StyleSheetSet), idxTheNormalStyleSheet), n_StyleSheetData);
    py::object paragraphRun = item(engine, n_ParagraphRun);
    py::object idxDefaultStyleSheet =
        plain(item(item(item(paragraphRun, n_DefaultRunData), n_ParagraphSheet), n_DefaultStyleSheet));
    py::object paragraphRunData = at(item(paragraphRun, n_RunArray), idxDefaultStyleSheet);
    py::object properties = item(item(paragraphRunData, n_ParagraphSheet), n_Properties);
    py::object justification = plain(item(properties, n_Justification));
    self.attr(n_Justification) = justification;

    self.attr(n_initText)(text, at(fontset, host::engine::get_or_none(styleSheetData, n_Font)), styleSheetData);

    // The first run that names a size, a font or a colour decides it for the whole
    // layer; run lengths are not consulted.
    py::object styleRun = item(engine, n_StyleRun);
    py::object runlength = item(styleRun, n_RunLengthArray);
    py::object rundata = item(styleRun, n_RunArray);
    bool sizeSeted = false, fontSeted = false, colorSetted = false;
    py::iterator lengths = py::iter(runlength);
    for (py::handle style : rundata) {
        if (lengths == py::iterator::sentinel()) break;
        ++lengths;
        py::object stylesheet = item(item(style, n_StyleSheet), n_StyleSheetData);
        if (!sizeSeted && host::engine::has(stylesheet, n_FontSize)) {
            self.attr(n_FontSize) = plain(item(stylesheet, n_FontSize));
            sizeSeted = true;
        }
        if (!fontSeted && host::engine::has(stylesheet, n_Font)) {
            fontSeted = true;
            self.attr(n_fontName) = plain(item(at(fontset, item(stylesheet, n_Font)), n_Name));
        }
        if (!colorSetted && host::engine::has(stylesheet, n_FillColor)) {
            colorSetted = true;
            self.attr(n_FillColor) = item(stylesheet, n_FillColor);
        }
        if (sizeSeted && fontSeted && colorSetted) break;
    }
    read_text_shape(self, engine);
}

void text_layer_fixdata(py::handle self, py::handle data) {
    root_fixdata(self, data);
    auto put = [&](const char *key, py::handle value) { data[py::str(key)] = value; };
    put("text", self.attr(n_text).attr(n_strip)("\r"));
    put("fontName", self.attr(n_fontName));
    for (const char *key : {"Underline", "FontSize", "FauxBold", "FauxItalic", "AutoLeading",
                            "Leading", "OutlineWidth", "CharacterDirection"})
        put(key, member_or_none(self, key));
    put("AntiAlias", self.attr(n_AntiAlias));
    py::object justification = self.attr(n_Justification);
    const char *alignments[] = {"left", "right", "center"};
    for (int code = 0; code < 3; ++code) {
        if (justification.equal(py::int_(code))) {
            put("alignment", py::str(alignments[code]));
            break;
        }
    }
    put("Justification", justification);
    py::object fill = member_or_none(self, "FillColor");
    py::object values = fill.is_none() ? py::none() : py::object(fill[n_Values]);
    const char *channels[] = {"ColorOpacity", "ColorRed", "ColorGreen", "ColorBlue"};
    for (int i = 0; i < 4; ++i) {
        if (values.is_none()) {
            put(channels[i], py::none());
        } else {
            double fraction = py::float_(plain(values[py::int_(i)]));
            put(channels[i], py::int_(colour_byte(fraction)));
        }
    }
}

}  // namespace

void bind_ytextlayer(py::module_ &m) {
    py::class_<YTextLayer, YRoot, YText> cls(m, "YTextLayer", py::dynamic_attr());
    cls.attr(n_layerType) = "YTextLayer";
    host::def_init<py::object>(
        cls, [](py::handle self, py::object layer) { text_layer_init(self, layer); },
        py::arg("layer"));
    cls.def_property_readonly(
        "x",
        [](py::object self) {
            py::object offset = host::reader::transform(self.attr(n_layer))[py::int_(4)];
            return py::int_(offset);
        },
        "The text's horizontal offset from its transform, truncated toward zero.");
    cls.def_property_readonly(
        "textBox", [](py::object self) { return text_box(self); },
        "(left, top, width, height) of a box text's box in document pixels, None for point text.");
    cls.def(
        "fixdata", [](py::object self, py::object data) { text_layer_fixdata(self, data); },
        py::arg("data"), "Adds the text, font, style, alignment and colour keys.");
}

}  // namespace infos
