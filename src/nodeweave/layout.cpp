#include "nodeweave/layout.hpp"

#include "host/host.hpp"
#include "layerkit/jsonemit.hpp"

#include <algorithm>
#include <cstdint>
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

/// Most members any class writes, wrap included (CCNode has 26).
constexpr size_t kMaxMembers = 40;

}  // namespace

struct Layout {
    PyTypeObject *type;
    /// What fixdata writes, and what export returns (wrap included).
    std::vector<Member> fix;
    std::vector<Member> all;
    /// Every attribute the members read, once each; `field_of[i]` is the one of `all[i]`.
    std::vector<PyObject *> fields;
    std::vector<int> field_of;
    /// `optional[i]`: `fields[i]` is read by Source::present members only, so an object may lack it.
    std::vector<bool> optional;
    int meta_sprite = -1;
    /// Open-addressing table from an interned name to its index in `fields`, or kHook
    /// for "export" and "fixdata"; kFree marks an empty place.
    static constexpr size_t kTableSize = 128;
    static constexpr int kFree = -1;
    static constexpr int kHook = -2;
    PyObject *names[kTableSize] = {};
    int indexes[kTableSize] = {};
    /// The class's export and fixdata as registered; anything else is an override.
    PyObject *export_fn = nullptr;
    PyObject *fixdata_fn = nullptr;
    /// Version tags of the class when it was last found fit / unfit for direct writing.
    unsigned int trusted_tag = 0;
    unsigned int refused_tag = 0;

    static size_t place(PyObject *name) { return (reinterpret_cast<uintptr_t>(name) >> 4) % kTableSize; }

    void enter(PyObject *name, int index) {
        size_t at = place(name);
        while (names[at] != nullptr && names[at] != name) at = (at + 1) % kTableSize;
        names[at] = name;
        indexes[at] = index;
    }

    /// Index of `name` in `fields`, kHook, or kFree for a name the class does not read.
    int index(PyObject *name) const {
        for (size_t at = place(name);; at = (at + 1) % kTableSize) {
            if (names[at] == name) return indexes[at];
            if (names[at] == nullptr) return kFree;
        }
    }

    int field(PyObject *name) {
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i] == name) return static_cast<int>(i);
        fields.push_back(name);
        return static_cast<int>(fields.size() - 1);
    }
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

Member member(const Row &row) { return {intern(row.key), intern(row.field), row.source}; }

py::object value_of(py::handle self, const Member &m) {
    if (m.source == Source::present) {
        PyObject *value = PyObject_GetAttr(self.ptr(), m.field);
        if (value == nullptr) {
            // Only a missing attribute means "not present": any other error is the caller's.
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
            PyErr_Clear();
        }
        return py::reinterpret_steal<py::object>(value);
    }
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

/// The values of `t.fields` as attribute lookup on an object of a fit class finds
/// them: the instance __dict__, else a plain class attribute (`cctype`). Borrowed.
/// False when lookup would fail or do anything else (a name that is not interned
/// text could be an override in disguise).
bool collect(const Layout &t, PyObject *dict, PyObject **found) {
    // One walk over the dict's entries, in memory order, instead of a hash probe per field.
    Py_ssize_t pos = 0;
    PyObject *name = nullptr;
    PyObject *value = nullptr;
    while (PyDict_Next(dict, &pos, &name, &value)) {
        if (!PyUnicode_CheckExact(name) || !PyUnicode_CHECK_INTERNED(name)) return false;
        const int i = t.index(name);
        if (i == Layout::kHook) return false;  // export or fixdata set on the object itself
        if (i >= 0) found[i] = value;
    }
    for (size_t i = 0; i < t.fields.size(); ++i) {
        if (found[i] == nullptr) found[i] = _PyType_Lookup(t.type, t.fields[i]);
        if (found[i] == nullptr && !t.optional[i]) return false;
    }
    return true;
}

/// The value of member `m` from `held`, the fields' values (held by the caller):
/// a new reference, or null (no error set) when the converter should rather be
/// called: it will meet the same error and report it.
PyObject *gather(const Layout &t, size_t m, PyObject *const *held) {
    py::object value = py::reinterpret_borrow<py::object>(held[t.field_of[m]]);
    try {
        switch (t.all[m].source) {
            case Source::field:
            case Source::present: break;
            case Source::pinyin: value = host::filemanager::pinyin(value); break;
            case Source::sprite_frame: value[g_uuid_key] = py::handle(held[t.meta_sprite]).attr(g_uuid); break;
        }
    } catch (py::error_already_set &) {
        return nullptr;
    }
    return value.release().ptr();
}

/// The emitter's direct path (see jsonemit::MembersApi).
int write_members(PyObject *converter, PyObject *obj, void *sink, jsonemit::MemberFn emit) {
    if (converter != g_converter) return 0;
    Layout *t = find(Py_TYPE(obj));
    if (t == nullptr || !trusted(*t)) return 0;
    PyObject **slot = _PyObject_GetDictPtr(obj);
    PyObject *dict = slot != nullptr ? *slot : nullptr;
    if (dict == nullptr || !PyDict_CheckExact(dict)) return 0;
    PyObject *found[kMaxMembers];
    std::fill_n(found, t->fields.size(), nullptr);
    if (!collect(*t, dict, found)) return 0;
    // Held from here on: the host's pinyin, or writing a value (a converter), may
    // change the object.
    Values held;
    for (size_t i = 0; i < t->fields.size(); ++i) {
        if (found[i] == nullptr) continue;  // an absent optional member
        Py_INCREF(found[i]);
        held.add(found[i]);
    }
    PyObject *written[kMaxMembers];
    Values computed;
    for (size_t m = 0; m < t->all.size(); ++m) {
        if (t->all[m].source == Source::field || t->all[m].source == Source::present) {
            written[m] = found[t->field_of[m]];
            continue;
        }
        written[m] = gather(*t, m, found);
        if (written[m] == nullptr) return 0;
        computed.add(written[m]);
    }
    for (size_t m = 0; m < t->all.size(); ++m)
        if (written[m] != nullptr && emit(sink, t->all[m].key, written[m]) < 0) return -1;
    return 1;
}

const jsonemit::MembersApi kApi{&write_members};

}  // namespace

Rows named(std::initializer_list<const char *> names) {
    Rows rows;
    for (const char *name : names) rows.push_back({name, name});
    return rows;
}

Rows operator+(Rows head, const Rows &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const Layout *define(py::handle cls, Wrap wrap, const Rows &rows) {
    auto t = std::make_unique<Layout>();
    t->type = reinterpret_cast<PyTypeObject *>(cls.ptr());
    for (const Row &row : rows) t->fix.push_back(member(row));
    Rows before, after;
    if (wrap == Wrap::item) after = {{"_id", "id"}};
    if (wrap == Wrap::meta) {
        before = named({"ver", "uuid"});
        after = named({"subMetas"});
    }
    for (const Row &row : before + rows + after) {
        t->all.push_back(member(row));
        t->field_of.push_back(t->field(t->all.back().field));
        if (row.source == Source::sprite_frame) t->meta_sprite = t->field(intern("metaSprite"));
    }
    t->optional.assign(t->fields.size(), true);
    for (size_t m = 0; m < t->all.size(); ++m)
        if (t->all[m].source != Source::present) t->optional[t->field_of[m]] = false;
    if (t->meta_sprite >= 0) t->optional[t->meta_sprite] = false;
    if (t->all.size() > kMaxMembers || t->fields.size() > kMaxMembers)
        throw std::logic_error("layout: too many members");
    for (size_t i = 0; i < Layout::kTableSize; ++i) t->indexes[i] = Layout::kFree;
    for (size_t i = 0; i < t->fields.size(); ++i) t->enter(t->fields[i], static_cast<int>(i));
    t->enter(intern("export"), Layout::kHook);
    t->enter(intern("fixdata"), Layout::kHook);
    registry().push_back(std::move(t));
    return registry().back().get();
}

void fixdata(py::handle self, py::handle data, const Layout &table) {
    for (const Member &m : table.fix) {
        py::object value = value_of(self, m);
        if (value) data[m.key] = value;
    }
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
