/// The reader's layer name and layer kind, read without its Python-level look-ups where its own code would run.
#include "host/host.hpp"

#include "host/names.hpp"

#include <vector>

namespace host::reader {

namespace {

Name kName("name"), kRecord("_record"), kTaggedBlocks("tagged_blocks"), kGetData("get_data"), kItems("_items"),
    kData("data"), kValue("value"), kLayer("Layer"), kTaggedBlocksClass("TaggedBlocks"), kTag("Tag"),
    kUnicodeLayerName("UNICODE_LAYER_NAME"), kValueElement("ValueElement"), kGetCacheToken("get_cache_token"),
    kIsProtocol("_is_protocol"), kClass("__class__"), kGroup("Group"), kTypeLayer("TypeLayer"),
    kPixelLayer("PixelLayer");

/// The reader's own name property and what it reads, as first seen; null members
/// when the reader is not the one this was written against.
struct NameRead {
    PyObject *property = nullptr;  // Layer.name
    PyTypeObject *blocks = nullptr;  // TaggedBlocks
    PyObject *get_data = nullptr;  // TaggedBlocks.get_data
    PyObject *tag = nullptr;  // Tag.UNICODE_LAYER_NAME
    PyObject *value_element = nullptr;
};

PyObject *attr_or_null(PyObject *obj, const Name &name) {
    PyObject *value = obj ? PyObject_GetAttr(obj, name.ptr()) : nullptr;
    if (!value) PyErr_Clear();
    return value;
}

PyObject *import_or_null(const char *name) {
    PyObject *mod = PyImport_ImportModule(name);
    if (!mod) PyErr_Clear();
    return mod;
}

const NameRead &name_read() {
    // Kept for the process, like the reader's modules that hold them.
    static const NameRead read = [] {
        NameRead found;
        for (const char *package : {"psd_tools2", "psd_tools"}) {
            std::string base(package);
            PyObject *layers = import_or_null((base + ".api.layers").c_str());
            PyObject *blocks = import_or_null((base + ".psd.tagged_blocks").c_str());
            PyObject *constants = import_or_null((base + ".constants").c_str());
            PyObject *elements = import_or_null((base + ".psd.base").c_str());
            PyObject *layer = attr_or_null(layers, kLayer), *cls = attr_or_null(blocks, kTaggedBlocksClass);
            PyObject *tags = attr_or_null(constants, kTag), *value_element = attr_or_null(elements, kValueElement);
            PyObject *tag = attr_or_null(tags, kUnicodeLayerName);
            bool ok = layer && cls && tag && value_element && PyType_Check(layer) && PyType_Check(cls);
            if (ok) {
                found.property = _PyType_Lookup(reinterpret_cast<PyTypeObject *>(layer), kName.ptr());
                found.blocks = reinterpret_cast<PyTypeObject *>(cls);
                found.get_data = _PyType_Lookup(found.blocks, kGetData.ptr());
                found.tag = tag;
                found.value_element = value_element;
                Py_XINCREF(found.property);
                Py_XINCREF(found.get_data);
                Py_INCREF(cls);
                Py_INCREF(tag);
                Py_INCREF(value_element);
            }
            for (PyObject *o : {layers, blocks, constants, elements, layer, cls, tags, value_element, tag}) Py_XDECREF(o);
            if (ok) return found;
        }
        return found;
    }();
    return read;
}

/// Layer.name as the reader's property computes it: the Unicode name block's text,
/// else the record's legacy name. False (nothing read) wherever its own code would
/// not be the code that runs or the data is not of the kind it was written for.
bool own_name(py::handle layer, py::object &out) {
    const NameRead &read = name_read();
    if (read.property == nullptr || read.get_data == nullptr ||
        _PyType_Lookup(Py_TYPE(layer.ptr()), kName.ptr()) != read.property)
        return false;
    PyObject *record = attr_or_null(layer.ptr(), kRecord);
    py::object keep_record = py::reinterpret_steal<py::object>(record);
    PyObject *blocks = attr_or_null(record, kTaggedBlocks);
    py::object keep_blocks = py::reinterpret_steal<py::object>(blocks);
    if (!blocks || Py_TYPE(blocks) != read.blocks || _PyType_Lookup(read.blocks, kGetData.ptr()) != read.get_data)
        return false;
    PyObject *items = attr_or_null(blocks, kItems);
    py::object keep_items = py::reinterpret_steal<py::object>(items);
    if (!items || !PyDict_Check(items)) return false;
    // get_data looks the tag's bytes up; among keys that are all tags, only the tag itself has them.
    PyObject *block = nullptr;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(items, &pos, &key, &value)) {
        if (key == read.tag) {
            block = value;
            break;
        }
        if (Py_TYPE(key) != Py_TYPE(read.tag)) return false;
    }
    if (block) {
        PyObject *data = attr_or_null(block, kData);
        if (!data) return false;
        py::object keep_data = py::reinterpret_steal<py::object>(data);
        if (!PyBytes_Check(data)) {
            int element = PyObject_IsInstance(data, read.value_element);
            if (element < 0) throw py::error_already_set();
            out = element ? get(keep_data, kValue) : keep_data;
            return true;
        }
    }
    out = get(keep_record, kName);
    return true;
}

/// isinstance(layer, cls) for the reader's layer classes, whose metaclass answers
/// from the class hierarchy and the registry of abc: a subclass is an instance, and
/// a "no" stays true until abc's cache token moves, as abc's own cache assumes.
class KindCache {
public:
    bool is_instance(py::handle layer, PyObject *cls, PyObject *token) {
        PyTypeObject *type = Py_TYPE(layer.ptr());
        bool plain = PyType_Check(cls) && type->tp_getattro == PyObject_GenericGetAttr &&
                     _PyType_Lookup(type, kClass.ptr()) == _PyType_Lookup(&PyBaseObject_Type, kClass.ptr()) &&
                     known_metaclass(cls);
        if (plain) {
            if (PyType_IsSubtype(type, reinterpret_cast<PyTypeObject *>(cls))) return true;
            if (token_ && PyObject_RichCompareBool(token, token_.ptr(), Py_EQ) != 1) {
                PyErr_Clear();
                no_.clear();
            }
            token_ = py::reinterpret_borrow<py::object>(token);
            for (const auto &pair : no_)
                if (pair.first.ptr() == reinterpret_cast<PyObject *>(type) && pair.second.ptr() == cls) return false;
        }
        int r = PyObject_IsInstance(layer.ptr(), cls);
        if (r < 0) throw py::error_already_set();
        if (r == 0 && plain) {
            // Bounded, so that classes made and dropped at run time are not kept for long.
            if (no_.size() >= 64) no_.clear();
            no_.emplace_back(py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(type)),
                             py::reinterpret_borrow<py::object>(cls));
        }
        return r != 0;
    }

private:
    /// A class of plain type, abc or typing's Protocol metaclass that is not itself a protocol.
    static bool known_metaclass(PyObject *cls) {
        static PyObject *abc_meta = find("abc", "ABCMeta"), *protocol_meta = find("typing", "_ProtocolMeta");
        PyTypeObject *meta = Py_TYPE(cls);
        if (meta == &PyType_Type) return true;
        if (reinterpret_cast<PyObject *>(meta) != abc_meta && reinterpret_cast<PyObject *>(meta) != protocol_meta)
            return false;
        PyObject *protocol = PyObject_GetAttr(cls, kIsProtocol.ptr());
        if (!protocol) {
            PyErr_Clear();
            return true;
        }
        int yes = PyObject_IsTrue(protocol);
        Py_DECREF(protocol);
        if (yes < 0) PyErr_Clear();
        return yes == 0;
    }
    static PyObject *find(const char *module, const char *name) {
        PyObject *mod = import_or_null(module);
        PyObject *found = mod ? PyObject_GetAttrString(mod, name) : nullptr;
        if (!found) PyErr_Clear();
        Py_XDECREF(mod);
        return found;
    }

    py::object token_;
    std::vector<std::pair<py::object, py::object>> no_;
};

PyObject *abc_token() {
    static PyObject *get_token = [] {
        PyObject *mod = import_or_null("abc");
        PyObject *fn = attr_or_null(mod, kGetCacheToken);
        Py_XDECREF(mod);
        return fn;
    }();
    return get_token ? PyObject_CallNoArgs(get_token) : nullptr;
}

}  // namespace

py::object name(py::handle layer) {
    py::object out;
    if (own_name(layer, out)) return out;
    return get(layer, kName);
}

Kind kind_of(py::handle layer) {
    // Leaked: the cache lives as long as the process.
    static KindCache &cache = *new KindCache();
    PyObject *token = abc_token();
    if (!token) {
        PyErr_Clear();
        token = Py_NewRef(Py_None);
    }
    py::object keep = py::reinterpret_steal<py::object>(token);
    py::module_ m = module();
    for (auto [cls, kind] : {std::pair{&kGroup, Kind::group}, {&kTypeLayer, Kind::text}, {&kPixelLayer, Kind::pixel}}) {
        py::object c = get(m, *cls);
        if (cache.is_instance(layer, c.ptr(), token)) return kind;
    }
    return Kind::other;
}

}  // namespace host::reader
