#include "nodeweave/layout.hpp"

#include "host/host.hpp"
#include "layerkit/jsonemit.hpp"

#include <memory>
#include <stdexcept>

namespace layout {

namespace {

/// Interned text that lives as long as the process: the tables are module-wide and
/// interned keys compare and hash fastest in dictionary look-ups.
PyObject *intern(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (s == nullptr) throw py::error_already_set();
    return s;
}

struct Member {
    PyObject *key;
    PyObject *field;
    Source source;
};

/// Most members any class writes, wrap included (CCNode has 24).
constexpr size_t kMaxMembers = 40;

}  // namespace

struct Layout {
    PyTypeObject *type;
    /// What fixdata writes, and what export returns (wrap included).
    std::vector<Member> fix;
    std::vector<Member> all;
    /// Every attribute the members read, for the check of the class.
    std::vector<PyObject *> fields;
    /// The class's export and fixdata as registered; anything else is an override.
    PyObject *export_fn = nullptr;
    PyObject *fixdata_fn = nullptr;
    /// Version tags of the class when it was last found fit / unfit for direct writing.
    unsigned int trusted_tag = 0;
    unsigned int refused_tag = 0;
};

namespace {

std::vector<std::unique_ptr<Layout>> &registry() {
    static std::vector<std::unique_ptr<Layout>> layouts;
    return layouts;
}

/// nodeweave's own formatCocosData: the only converter whose result the tables describe.
PyObject *g_converter = nullptr;
PyObject *g_export = nullptr;
PyObject *g_fixdata = nullptr;
PyObject *g_meta_sprite = nullptr;
PyObject *g_uuid = nullptr;
PyObject *g_uuid_key = nullptr;

Member member(const Spec &spec) { return {intern(spec.key), intern(spec.field), spec.source}; }

py::object value_of(py::handle self, const Member &m) {
    if (m.source == Source::sprite_frame) {
        py::object uuid = self.attr(g_meta_sprite).attr(g_uuid);
        py::object frame = self.attr(m.field);
        frame[g_uuid_key] = uuid;
        return frame;
    }
    py::object value = self.attr(m.field);
    if (m.source == Source::pinyin) return host::filemanager::pinyin(value);
    return value;
}

/// Whether attribute lookup on instances of `t.type` still ends in the instance
/// __dict__ for every field, and export and fixdata are still the registered ones.
bool fit(const Layout &t) {
    PyTypeObject *type = t.type;
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    if (_PyType_Lookup(type, g_export) != t.export_fn) return false;
    if (_PyType_Lookup(type, g_fixdata) != t.fixdata_fn) return false;
    for (PyObject *field : t.fields) {
        PyObject *found = _PyType_Lookup(type, field);
        // A descriptor (property, method) would answer instead of, or besides, __dict__.
        if (found != nullptr && Py_TYPE(found)->tp_descr_get != nullptr) return false;
    }
    return true;
}

/// fit(t), remembered for as long as the class keeps its version tag: any assignment
/// to the class or to one of its bases gives it a new one.
bool trusted(Layout &t) {
    PyTypeObject *type = t.type;
    const bool tagged = PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG);
    if (tagged && type->tp_version_tag != 0) {
        if (type->tp_version_tag == t.trusted_tag) return true;
        if (type->tp_version_tag == t.refused_tag) return false;
    }
    const bool ok = fit(t);
    // The look-ups in fit() assign a tag when the class had none.
    if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG))
        (ok ? t.trusted_tag : t.refused_tag) = type->tp_version_tag;
    return ok;
}

Layout *find(PyTypeObject *type) {
    for (auto &t : registry())
        if (t->type == type) return t.get();
    return nullptr;
}

/// New references to the values of one object's members; released together.
class Values {
public:
    Values() = default;
    Values(const Values &) = delete;
    Values &operator=(const Values &) = delete;
    ~Values() {
        for (size_t i = 0; i < n_; ++i) Py_DECREF(items_[i]);
    }
    void add(PyObject *owned) { items_[n_++] = owned; }
    PyObject *operator[](size_t i) const { return items_[i]; }

private:
    PyObject *items_[kMaxMembers];
    size_t n_ = 0;
};

/// The attribute `field` as lookup on a fit class finds it: the instance __dict__,
/// else a plain class attribute (`cctype`). New reference, or null (no error set)
/// when lookup would fail or do anything else.
PyObject *read(PyTypeObject *type, PyObject *dict, PyObject *field) {
    PyObject *value = PyDict_GetItemWithError(dict, field);
    if (value == nullptr) {
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return nullptr;
        }
        value = _PyType_Lookup(type, field);
        if (value == nullptr) return nullptr;
    }
    Py_INCREF(value);
    return value;
}

PyObject *gather(PyTypeObject *type, PyObject *dict, const Member &m) {
    if (m.source == Source::field) return read(type, dict, m.field);
    py::object value = py::reinterpret_steal<py::object>(read(type, dict, m.field));
    if (!value) return nullptr;
    try {
        if (m.source == Source::pinyin) return host::filemanager::pinyin(value).release().ptr();
        py::object sprite = py::reinterpret_steal<py::object>(read(type, dict, g_meta_sprite));
        if (!sprite) return nullptr;
        value[g_uuid_key] = sprite.attr(g_uuid);
        return value.release().ptr();
    } catch (py::error_already_set &) {
        // The converter will meet the same error and report it.
        return nullptr;
    }
}

/// The emitter's direct path (see jsonemit::MembersApi).
int write_members(PyObject *converter, PyObject *obj, void *sink, jsonemit::MemberFn emit) {
    if (converter != g_converter) return 0;
    Layout *t = find(Py_TYPE(obj));
    if (t == nullptr || !trusted(*t)) return 0;
    PyObject **slot = _PyObject_GetDictPtr(obj);
    PyObject *dict = slot != nullptr ? *slot : nullptr;
    if (dict == nullptr || !PyDict_CheckExact(dict)) return 0;
    // An export or fixdata set on the object itself overrides the class's.
    for (PyObject *hook : {g_export, g_fixdata}) {
        if (PyDict_GetItemWithError(dict, hook) != nullptr) return 0;
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return 0;
        }
    }
    Values values;
    for (const Member &m : t->all) {
        PyObject *value = gather(t->type, dict, m);
        if (value == nullptr) return 0;
        values.add(value);
    }
    for (size_t i = 0; i < t->all.size(); ++i)
        if (emit(sink, t->all[i].key, values[i]) < 0) return -1;
    return 1;
}

const jsonemit::MembersApi kApi{&write_members};

}  // namespace

Specs operator+(Specs head, const Specs &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const Layout *define(py::handle cls, Wrap wrap, const Specs &specs) {
    auto t = std::make_unique<Layout>();
    t->type = reinterpret_cast<PyTypeObject *>(cls.ptr());
    for (const Spec &spec : specs) t->fix.push_back(member(spec));
    Specs before, after;
    if (wrap == Wrap::item) after = {{"_id", "id"}};
    if (wrap == Wrap::meta) {
        before = {{"ver", "ver"}, {"uuid", "uuid"}};
        after = {{"subMetas", "subMetas"}};
    }
    for (const Spec &spec : before + specs + after) {
        t->all.push_back(member(spec));
        t->fields.push_back(t->all.back().field);
    }
    for (const Spec &spec : specs)
        if (spec.source == Source::sprite_frame) t->fields.push_back(intern("metaSprite"));
    if (t->all.size() > kMaxMembers) throw std::logic_error("layout: too many members");
    registry().push_back(std::move(t));
    return registry().back().get();
}

void fixdata(py::handle self, py::handle data, const Layout &table) {
    for (const Member &m : table.fix) data[m.key] = value_of(self, m);
}

void install(py::module_ &m) {
    g_export = intern("export");
    g_fixdata = intern("fixdata");
    g_meta_sprite = intern("metaSprite");
    g_uuid = intern("uuid");
    g_uuid_key = intern("__uuid__");
    g_converter = py::object(m.attr("formatCocosData")).release().ptr();
    for (auto &t : registry()) {
        t->export_fn = _PyType_Lookup(t->type, g_export);
        t->fixdata_fn = _PyType_Lookup(t->type, g_fixdata);
        Py_XINCREF(t->export_fn);
        Py_XINCREF(t->fixdata_fn);
    }
    py::object capsule = py::reinterpret_steal<py::object>(
        PyCapsule_New(const_cast<jsonemit::MembersApi *>(&kApi), jsonemit::kMembersCapsule, nullptr));
    if (!capsule) throw py::error_already_set();
    for (const char *base : {"CCBase", "CCMetaBase"}) m.attr(base).attr(jsonemit::kMembersAttr) = capsule;
}

}  // namespace layout
