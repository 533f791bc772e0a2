#include "layerkit/jsonemit.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <string>
#include <vector>

namespace jsonemit {

namespace {

/// Nesting of lists, dicts and converted values beyond which the walk stops with
/// RecursionError even when the interpreter's own limit has been raised: every level
/// costs a few C++ frames, and the C stack (1 MB on Windows) must not run out first.
constexpr int kMaxDepth = 3000;

[[noreturn]] void raise_current() { throw py::error_already_set(); }

/// Owns a new reference, or raises the pending Python error when the call failed.
py::object own(PyObject *result) {
    if (result == nullptr) raise_current();
    return py::reinterpret_steal<py::object>(result);
}

/// A value's type name as `o.__class__.__name__` gives it, the way json words its errors.
py::object class_name(PyObject *o) {
    py::handle h(o);
    return h.attr("__class__").attr("__name__");
}

/// Which ASCII characters a JSON string holds unescaped: all but controls, '"' and
/// '\\', and in ASCII mode DEL (0x7f) too, as json does.
struct PlainTable {
    bool plain[128];
    constexpr explicit PlainTable(bool ascii) : plain() {
        for (int c = 0; c < 128; ++c)
            plain[c] = c >= 0x20 && c != '"' && c != '\\' && !(ascii && c == 0x7f);
    }
};
constexpr PlainTable kPlainAscii(true);
constexpr PlainTable kPlainUnicode(false);

constexpr char kHex[] = "0123456789abcdef";

/// Growing UTF-8 output. Writers reserve the most room a piece can take, then store
/// through a raw pointer: the per-character cost is a table look-up and a store.
///
/// The memory of one buffer is kept from one call to the next (up to kKeptBytes): an
/// export writes a large prefab and hundreds of meta files, and fresh pages for every
/// file would cost the kernel more than writing the text does. A call that starts
/// while that memory is in use (a converter writing JSON itself, another thread
/// while a converter runs) gets a buffer of its own.
class Buffer {
public:
    Buffer() {
        if (!kept_busy_) {
            kept_busy_ = true;
            using_kept_ = true;
            std::swap(data_, kept_);
            std::swap(capacity_, kept_capacity_);
        }
    }
    ~Buffer() {
        if (!using_kept_) {
            std::free(data_);
            return;
        }
        if (capacity_ <= kKeptBytes) {
            kept_ = data_;
            kept_capacity_ = capacity_;
        } else {
            std::free(data_);
        }
        kept_busy_ = false;
    }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    /// Room for `n` more bytes behind end().
    void reserve(size_t n) {
        if (capacity_ - size_ < n) grow(n);
    }
    char *end() { return data_ + size_; }
    /// Takes everything written up to `w` (a pointer into the reserved room).
    void commit(char *w) { size_ = static_cast<size_t>(w - data_); }
    void put(char c) {
        reserve(1);
        data_[size_++] = c;
    }
    void put(const char *p, size_t n) {
        reserve(n);
        std::memcpy(data_ + size_, p, n);
        size_ += n;
    }
    void put(const std::string &s) { put(s.data(), s.size()); }
    const char *data() const { return data_ ? data_ : ""; }
    size_t size() const { return size_; }

private:
    static constexpr size_t kKeptBytes = size_t{32} << 20;
    // The interpreter lock serializes every Buffer's construction and destruction.
    static inline char *kept_ = nullptr;
    static inline size_t kept_capacity_ = 0;
    static inline bool kept_busy_ = false;

    char *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool using_kept_ = false;

    void grow(size_t n) {
        if (n > SIZE_MAX / 2 - size_) throw std::bad_alloc();
        // realloc, not new + copy: large blocks move by remapping pages.
        size_t want = std::max({capacity_ * 2, size_ + n, size_t{1} << 16});
        void *p = std::realloc(data_, want);
        if (p == nullptr) throw std::bad_alloc();
        data_ = static_cast<char *>(p);
        capacity_ = want;
    }
};

char *escape_u(char *w, Py_UCS4 c) {
    w[0] = '\\';
    w[1] = 'u';
    w[2] = kHex[(c >> 12) & 0xf];
    w[3] = kHex[(c >> 8) & 0xf];
    w[4] = kHex[(c >> 4) & 0xf];
    w[5] = kHex[c & 0xf];
    return w + 6;
}

/// The escape of one character (at most 12 bytes): json's short forms, else \uXXXX,
/// astral characters as a UTF-16 surrogate pair.
char *escape(char *w, Py_UCS4 c) {
    char short_form = 0;
    switch (c) {
        case '"': short_form = '"'; break;
        case '\\': short_form = '\\'; break;
        case '\b': short_form = 'b'; break;
        case '\f': short_form = 'f'; break;
        case '\n': short_form = 'n'; break;
        case '\r': short_form = 'r'; break;
        case '\t': short_form = 't'; break;
        default: break;
    }
    if (short_form != 0) {
        w[0] = '\\';
        w[1] = short_form;
        return w + 2;
    }
    if (c >= 0x10000) {
        Py_UCS4 v = c - 0x10000;
        w = escape_u(w, 0xd800 | (v >> 10));
        return escape_u(w, 0xdc00 | (v & 0x3ff));
    }
    return escape_u(w, c);
}

/// One code point of at least 0x80, not a surrogate, as UTF-8 (at most 4 bytes).
char *utf8(char *w, Py_UCS4 c) {
    if (c < 0x800) {
        *w++ = static_cast<char>(0xc0 | (c >> 6));
    } else if (c < 0x10000) {
        *w++ = static_cast<char>(0xe0 | (c >> 12));
        *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    } else {
        *w++ = static_cast<char>(0xf0 | (c >> 18));
        *w++ = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    }
    *w++ = static_cast<char>(0x80 | (c & 0x3f));
    return w;
}

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
/// Python's float repr of a finite `x` (at most 32 bytes): the shortest digits that
/// round-trip, fixed notation for decimal exponents -4 to 15 with at least one digit
/// after the point ('1.0', '0.0001'), else d.ddde+XX with two exponent digits at least
/// ('1e+16', '1e-05'). std::to_chars finds the same shortest, closest digits as
/// Python's dtoa, without its big-number arithmetic.
char *float_repr(char *w, double x) {
    char sci[32];
    char *end = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific).ptr;
    const char *p = sci;
    if (*p == '-') *w++ = *p++;
    char digits[20];
    int n = 0;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') digits[n++] = *p;
    // to_chars' scientific form always ends in "e+XX" or "e-XX".
    const bool negative_exponent = p[1] == '-';
    int exponent = 0;
    for (p += 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative_exponent) exponent = -exponent;
    const int point = exponent + 1;  // digits before the decimal point
    if (point > 16 || point < -3) {
        *w++ = digits[0];
        if (n > 1) {
            *w++ = '.';
            std::memcpy(w, digits + 1, static_cast<size_t>(n - 1));
            w += n - 1;
        }
        *w++ = 'e';
        *w++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *w++ = '0';
        return std::to_chars(w, w + 4, magnitude).ptr;
    }
    if (point <= 0) {
        *w++ = '0';
        *w++ = '.';
        for (int i = point; i < 0; ++i) *w++ = '0';
        std::memcpy(w, digits, static_cast<size_t>(n));
        return w + n;
    }
    if (point >= n) {
        std::memcpy(w, digits, static_cast<size_t>(n));
        w += n;
        for (int i = n; i < point; ++i) *w++ = '0';
        *w++ = '.';
        *w++ = '0';
        return w;
    }
    std::memcpy(w, digits, static_cast<size_t>(point));
    w += point;
    *w++ = '.';
    std::memcpy(w, digits + point, static_cast<size_t>(n - point));
    return w + (n - point);
}
#endif

/// Decodes UTF-8 that this emitter wrote (well formed, no surrogates) into code units
/// of the final string, whose width and length are already known.
template <typename Unit>
void decode_into(const unsigned char *p, const unsigned char *end, Unit *d) {
    while (p < end) {
        // Indentation and keys make long ASCII runs: widen them sixteen bytes at a
        // time, from a local copy so that the compiler may use vector instructions.
        if (end - p >= 16) {
            unsigned char run[16];
            std::memcpy(run, p, 16);
            std::uint64_t words[2];
            std::memcpy(words, run, 16);
            if (((words[0] | words[1]) & 0x8080808080808080ull) == 0) {
                for (int k = 0; k < 16; ++k) d[k] = run[k];
                p += 16;
                d += 16;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            *d++ = c;
            p += 1;
        } else if (c < 0xe0) {
            *d++ = static_cast<Unit>(((c & 0x1f) << 6) | (p[1] & 0x3f));
            p += 2;
        } else if (c < 0xf0) {
            *d++ = static_cast<Unit>(((c & 0x0f) << 12) | ((p[1] & 0x3f) << 6) | (p[2] & 0x3f));
            p += 3;
        } else {
            *d++ = static_cast<Unit>(((c & 0x07) << 18) | ((p[1] & 0x3f) << 12) | ((p[2] & 0x3f) << 6) |
                                     (p[3] & 0x3f));
            p += 4;
        }
    }
}

class Emitter {
public:
    explicit Emitter(const Options &options)
        : ascii_(options.ensure_ascii),
          plain_((options.ensure_ascii ? kPlainAscii : kPlainUnicode).plain),
          default_(options.default_fn) {
        py::handle indent = options.indent;
        if (indent.is_none()) {
            item_separator_ = ", ";
            separator_size_ = 2;
        } else {
            multiline_ = true;
            item_separator_ = ",";
            if (PyUnicode_Check(indent.ptr())) {
                // Written as it is, like json does; surrogatepass keeps even a lone
                // surrogate in an indent string intact through the final decode.
                py::object bytes = own(PyUnicode_AsEncodedString(indent.ptr(), "utf-8", "surrogatepass"));
                raw_indent_ = !PyUnicode_IS_ASCII(indent.ptr());
                indent_.assign(PyBytes_AS_STRING(bytes.ptr()),
                               static_cast<size_t>(PyBytes_GET_SIZE(bytes.ptr())));
            } else {
                py::object count = own(PyNumber_Index(indent.ptr()));
                Py_ssize_t n = PyLong_AsSsize_t(count.ptr());
                if (n == -1 && PyErr_Occurred()) raise_current();
                if (n > 0) indent_.assign(static_cast<size_t>(n), ' ');
            }
        }
    }

    ~Emitter() {
        if (keys_)
            for (size_t i = 0; i < kKeySlots; ++i) Py_XDECREF(keys_[i].key);
    }
    Emitter(const Emitter &) = delete;
    Emitter &operator=(const Emitter &) = delete;

    /// The text as UTF-8, which is what the buffer holds unless the indent is text
    /// that Python must judge (a lone surrogate in it cannot be encoded).
    py::bytes finish_utf8() {
        if (raw_indent_) return py::reinterpret_borrow<py::bytes>(own(PyUnicode_AsUTF8String(finish().ptr())));
        return py::bytes(out_.data(), out_.size());
    }

    py::str finish() {
        const auto *p = reinterpret_cast<const unsigned char *>(out_.data());
        const size_t size = out_.size();
        if (raw_indent_) {
            py::object text = own(PyUnicode_DecodeUTF8(out_.data(), static_cast<Py_ssize_t>(size), "surrogatepass"));
            return py::reinterpret_borrow<py::str>(text);
        }
        // Every non-ASCII character went through utf8(), which counted it: the final
        // string is allocated once at its exact length and width.
        py::object text = own(PyUnicode_New(static_cast<Py_ssize_t>(size - continuation_), max_char_));
        void *data = PyUnicode_DATA(text.ptr());
        switch (PyUnicode_KIND(text.ptr())) {
            case PyUnicode_1BYTE_KIND:
                if (max_char_ < 0x80)
                    std::memcpy(data, p, size);
                else
                    decode_into(p, p + size, static_cast<Py_UCS1 *>(data));
                break;
            case PyUnicode_2BYTE_KIND: decode_into(p, p + size, static_cast<Py_UCS2 *>(data)); break;
            default: decode_into(p, p + size, static_cast<Py_UCS4 *>(data)); break;
        }
        return py::reinterpret_borrow<py::str>(text);
    }

    /// Writes `o`, which the caller keeps alive, at nesting `level`.
    void value(PyObject *o, int level) {
        if (PyUnicode_Check(o)) {
            string(o);
        } else if (o == Py_None) {
            put("null");
        } else if (o == Py_True) {
            put("true");
        } else if (o == Py_False) {
            put("false");
        } else if (PyLong_Check(o)) {
            integer(o);
        } else if (PyFloat_Check(o)) {
            floating(o);
        } else if (PyList_Check(o) || PyTuple_Check(o)) {
            array(o, level);
        } else if (PyDict_Check(o)) {
            object(o, level);
        } else {
            converted(o, level);
        }
    }

private:
    bool ascii_;
    const bool *plain_;
    py::handle default_;
    bool multiline_ = false;
    std::string indent_;
    /// The indent holds non-ASCII text, which finish() leaves to Python's decoder.
    bool raw_indent_ = false;
    /// Largest code point written, and how many more UTF-8 bytes than code points.
    Py_UCS4 max_char_ = 0x7f;
    size_t continuation_ = 0;
    const char *item_separator_ = ",";
    size_t separator_size_ = 1;
    /// Levels of lists, dicts and converter calls currently open.
    int depth_ = 0;
    Buffer out_;
    /// "\n" and `level` indents, per level, built as deeper levels are reached.
    std::vector<std::string> newlines_;
    /// Containers (and converted values) on the current path: meeting one again
    /// means the structure contains itself.
    std::vector<PyObject *> markers_;
    py::object members_attr_ = own(PyUnicode_InternFromString(kMembersAttr));
    /// The last members capsule found valid (held, so its address stays its own), and
    /// what it holds.
    py::object capsule_;
    const MembersApi *api_ = nullptr;

    /// Marks `o` as being written for as long as it lives; a second visit raises.
    class Marker {
    public:
        Marker(Emitter &e, PyObject *o) : e_(e) {
            for (PyObject *m : e.markers_) {
                if (m == o) {
                    PyErr_SetString(PyExc_ValueError, "Circular reference detected");
                    raise_current();
                }
            }
            e.markers_.push_back(o);
        }
        ~Marker() { e_.markers_.pop_back(); }
        Marker(const Marker &) = delete;
        Marker &operator=(const Marker &) = delete;

    private:
        Emitter &e_;
    };

    /// Holds one level of the walk, counted by the interpreter's recursion check and by
    /// our own cap, for as long as it lives.
    class Descent {
    public:
        explicit Descent(Emitter &e) : e_(e) {
            if (e.depth_ >= kMaxDepth) {
                PyErr_SetString(PyExc_RecursionError,
                                "maximum recursion depth exceeded while encoding a JSON object");
                raise_current();
            }
            if (Py_EnterRecursiveCall(" while encoding a JSON object") != 0) raise_current();
            ++e.depth_;
        }
        ~Descent() {
            --e_.depth_;
            Py_LeaveRecursiveCall();
        }
        Descent(const Descent &) = delete;
        Descent &operator=(const Descent &) = delete;

    private:
        Emitter &e_;
    };

    void newline(int level) {
        const size_t at = static_cast<size_t>(level);
        while (newlines_.size() <= at)
            newlines_.push_back(newlines_.empty() ? std::string("\n") : newlines_.back() + indent_);
        out_.put(newlines_[at]);
    }

    void separator(int level) {
        out_.put(item_separator_, separator_size_);
        if (multiline_) newline(level);
    }

    void put(const char *text) { out_.put(text, std::strlen(text)); }

    void append_ascii_str(PyObject *text) {
        Py_ssize_t n = 0;
        const char *p = PyUnicode_AsUTF8AndSize(text, &n);
        if (p == nullptr) raise_current();
        out_.put(p, static_cast<size_t>(n));
    }

    /// A quoted JSON string. Reads the text's code points in place, so no name is ever
    /// converted through UTF-8 (which a lone surrogate would not survive).
    void string(PyObject *s) {
#if PY_VERSION_HEX < 0x030C0000
        if (PyUnicode_READY(s) != 0) raise_current();
#endif
        const size_t n = static_cast<size_t>(PyUnicode_GET_LENGTH(s));
        const bool ascii_text = PyUnicode_IS_ASCII(s);
        // Worst case per character: a 6-byte escape, or 12 for an astral pair.
        const size_t most = ascii_text ? 6 : 12;
        if (n > (SIZE_MAX - 2) / most) throw std::bad_alloc();
        out_.reserve(n * most + 2);
        char *w = out_.end();
        *w++ = '"';
        if (ascii_text) {
            const unsigned char *p = static_cast<const unsigned char *>(PyUnicode_DATA(s));
            for (size_t i = 0; i < n; ++i) {
                unsigned char c = p[i];
                if (plain_[c])
                    *w++ = static_cast<char>(c);
                else
                    w = escape(w, c);
            }
        } else {
            const int kind = PyUnicode_KIND(s);
            const void *data = PyUnicode_DATA(s);
            for (size_t i = 0; i < n; ++i) {
                Py_UCS4 c = PyUnicode_READ(kind, data, static_cast<Py_ssize_t>(i));
                if (c < 0x80 ? plain_[c] : false) {
                    *w++ = static_cast<char>(c);
                } else if (c < 0x80 || ascii_ || (c >= 0xd800 && c <= 0xdfff)) {
                    w = escape(w, c);
                } else {
                    char *const at = w;
                    w = utf8(w, c);
                    continuation_ += static_cast<size_t>(w - at) - 1;
                    if (c > max_char_) max_char_ = c;
                }
            }
        }
        *w++ = '"';
        out_.commit(w);
    }

    /// int.__repr__ of the value, whatever a subclass (IntEnum) makes of repr.
    void integer(PyObject *o) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (v == -1 && PyErr_Occurred()) raise_current();
        if (overflow == 0) {
            out_.reserve(24);
            out_.commit(std::to_chars(out_.end(), out_.end() + 24, v).ptr);
            return;
        }
        // Beyond 64 bits: Python's own conversion, digit limit included.
        append_ascii_str(own(PyLong_Type.tp_repr(o)).ptr());
    }

    bool truth(PyObject *result_new_ref) {
        py::object result = own(result_new_ref);
        int t = PyObject_IsTrue(result.ptr());
        if (t < 0) raise_current();
        return t != 0;
    }

    /// float.__repr__ of the value, or NaN / Infinity / -Infinity. A float subclass is
    /// tested with its own comparisons, as json's `o != o` and `o == inf` do.
    void floating(PyObject *o) {
        const char *word = nullptr;
        if (PyFloat_CheckExact(o)) {
            double x = PyFloat_AS_DOUBLE(o);
            if (std::isnan(x))
                word = "NaN";
            else if (std::isinf(x))
                word = x > 0 ? "Infinity" : "-Infinity";
        } else {
            py::object inf = own(PyFloat_FromDouble(HUGE_VAL));
            py::object neginf = own(PyFloat_FromDouble(-HUGE_VAL));
            if (truth(PyObject_RichCompare(o, o, Py_NE)))
                word = "NaN";
            else if (truth(PyObject_RichCompare(o, inf.ptr(), Py_EQ)))
                word = "Infinity";
            else if (truth(PyObject_RichCompare(o, neginf.ptr(), Py_EQ)))
                word = "-Infinity";
        }
        if (word != nullptr) {
            put(word);
            return;
        }
        const double x = PyFloat_AS_DOUBLE(o);
        if (!std::isfinite(x)) {
            // Only a float subclass whose comparisons deny what it is gets here; json
            // then writes float.__repr__, which is no JSON either.
            put(std::isnan(x) ? "nan" : x > 0 ? "inf" : "-inf");
            return;
        }
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
        out_.reserve(32);
        out_.commit(float_repr(out_.end(), x));
#else
        char *text = PyOS_double_to_string(x, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
        if (text == nullptr) raise_current();
        put(text);
        PyMem_Free(text);
#endif
    }

    /// Empty test as json's `not lst` does it: a subclass's __len__ / __bool__ counts.
    static bool is_empty(PyObject *o, bool exact, Py_ssize_t exact_size) {
        if (exact) return exact_size == 0;
        int r = PyObject_Not(o);
        if (r < 0) raise_current();
        return r != 0;
    }

    void array(PyObject *seq, int level) {
        const bool is_list = PyList_CheckExact(seq);
        const bool is_tuple = PyTuple_CheckExact(seq);
        const Py_ssize_t size = is_list ? PyList_GET_SIZE(seq) : is_tuple ? PyTuple_GET_SIZE(seq) : 0;
        if (is_empty(seq, is_list || is_tuple, size)) {
            put("[]");
            return;
        }
        Marker mark(*this, seq);
        Descent descent(*this);
        out_.put('[');
        if (multiline_) newline(level + 1);
        if (is_tuple) {
            for (Py_ssize_t i = 0; i < size; ++i) {
                if (i > 0) separator(level + 1);
                value(PyTuple_GET_ITEM(seq, i), level + 1);
            }
        } else if (is_list) {
            // The list may shrink or grow under a converter: re-read its length and
            // hold each item while it is written, as a list iterator does.
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(seq); ++i) {
                if (i > 0) separator(level + 1);
                py::object item = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(seq, i));
                value(item.ptr(), level + 1);
            }
        } else {
            py::object it = own(PyObject_GetIter(seq));
            bool first = true;
            while (PyObject *raw = PyIter_Next(it.ptr())) {
                py::object item = py::reinterpret_steal<py::object>(raw);
                if (!first) separator(level + 1);
                first = false;
                value(item.ptr(), level + 1);
            }
            if (PyErr_Occurred()) raise_current();
        }
        if (multiline_) newline(level);
        out_.put(']');
    }

    /// A non-text key as json spells it: its JSON text, quoted.
    void key(PyObject *k) {
        if (PyUnicode_CheckExact(k) && PyUnicode_IS_ASCII(k)) {
            cached_key(k);
            return;
        }
        if (PyUnicode_Check(k)) {
            string(k);
            return;
        }
        if (PyFloat_Check(k)) {
            out_.put('"');
            floating(k);
            out_.put('"');
        } else if (k == Py_True) {
            put("\"true\"");
        } else if (k == Py_False) {
            put("\"false\"");
        } else if (k == Py_None) {
            put("\"null\"");
        } else if (PyLong_Check(k)) {
            out_.put('"');
            integer(k);
            out_.put('"');
        } else {
            PyErr_Format(PyExc_TypeError, "keys must be str, int, float, bool or None, not %S",
                         class_name(k).ptr());
            raise_current();
        }
    }

    /// The quoted form of a short ASCII key, remembered by the key's address: the same
    /// few keys come back in every object of a file.
    struct KeyText {
        PyObject *key = nullptr;  // held, so that no other text takes its address
        unsigned char size = 0;
        char text[47];
    };
    static constexpr size_t kKeySlots = 256;
    std::unique_ptr<KeyText[]> keys_;

    void cached_key(PyObject *k) {
        if (!keys_) keys_.reset(new KeyText[kKeySlots]);
        KeyText &slot = keys_[(reinterpret_cast<std::uintptr_t>(k) >> 4) % kKeySlots];
        if (slot.key == k) {
            out_.put(slot.text, slot.size);
            return;
        }
        const size_t start = out_.size();
        string(k);
        const size_t size = out_.size() - start;
        if (size > sizeof slot.text) return;
        std::memcpy(slot.text, out_.data() + start, size);
        slot.size = static_cast<unsigned char>(size);
        Py_INCREF(k);
        Py_XSETREF(slot.key, k);
    }

    void member(PyObject *k, PyObject *v, bool first, int level) {
        if (!first) separator(level);
        key(k);
        put(": ");
        value(v, level);
    }

    void object(PyObject *dict, int level) {
        const bool exact = PyDict_CheckExact(dict);
        if (is_empty(dict, exact, exact ? PyDict_GET_SIZE(dict) : 0)) {
            put("{}");
            return;
        }
        Marker mark(*this, dict);
        Descent descent(*this);
        out_.put('{');
        if (multiline_) newline(level + 1);
        if (exact) {
            const Py_ssize_t size = PyDict_GET_SIZE(dict);
            Py_ssize_t pos = 0;
            PyObject *k = nullptr;
            PyObject *v = nullptr;
            bool first = true;
            while (PyDict_Next(dict, &pos, &k, &v)) {
                py::object key_ref = py::reinterpret_borrow<py::object>(k);
                py::object value_ref = py::reinterpret_borrow<py::object>(v);
                member(k, v, first, level + 1);
                first = false;
                // A converter may change the dict it sits in; stop as a dict iterator would.
                if (PyDict_GET_SIZE(dict) != size) {
                    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
                    raise_current();
                }
            }
        } else {
            // A dict subclass (OrderedDict after move_to_end, say) is read through its
            // own items(), as json does.
            py::object items = own(PyObject_CallMethod(dict, "items", nullptr));
            py::object it = own(PyObject_GetIter(items.ptr()));
            bool first = true;
            while (PyObject *raw = PyIter_Next(it.ptr())) {
                py::object item = py::reinterpret_steal<py::object>(raw);
                py::object pair = own(PySequence_Tuple(item.ptr()));
                const Py_ssize_t n = PyTuple_GET_SIZE(pair.ptr());
                if (n != 2) {
                    if (n > 2)
                        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
                    else
                        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", n);
                    raise_current();
                }
                member(PyTuple_GET_ITEM(pair.ptr(), 0), PyTuple_GET_ITEM(pair.ptr(), 1), first, level + 1);
                first = false;
            }
            if (PyErr_Occurred()) raise_current();
        }
        if (multiline_) newline(level);
        out_.put('}');
    }

    /// A value without JSON form: whatever the converter turns it into, at the same level.
    void converted(PyObject *o, int level) {
        if (default_.is_none()) {
            PyErr_Format(PyExc_TypeError, "Object of type %S is not JSON serializable", class_name(o).ptr());
            raise_current();
        }
        Marker mark(*this, o);
        Descent descent(*this);
        if (members(o, level)) return;
        py::object result = own(PyObject_CallOneArg(default_.ptr(), o));
        value(result.ptr(), level);
    }

    /// State of one object written member by member.
    struct MemberSink {
        MemberSink(Emitter *e, int l) : emitter(e), level(l) {}
        Emitter *emitter;
        int level;
        bool first = true;
        std::exception_ptr failure;
    };

    static int on_member(void *sink, PyObject *k, PyObject *v) {
        auto *s = static_cast<MemberSink *>(sink);
        try {
            if (s->first) {
                s->emitter->out_.put('{');
                if (s->emitter->multiline_) s->emitter->newline(s->level + 1);
            }
            s->emitter->member(k, v, s->first, s->level + 1);
            s->first = false;
            return 0;
        } catch (py::error_already_set &e) {
            e.restore();
        } catch (...) {
            s->failure = std::current_exception();
        }
        return -1;
    }

    /// Writes `o` as the object its converter would make of it, straight from the
    /// members its class hands over, when the class offers that and accepts.
    bool members(PyObject *o, int level) {
        PyObject *capsule = _PyType_Lookup(Py_TYPE(o), members_attr_.ptr());
        if (capsule == nullptr) return false;
        if (capsule != capsule_.ptr()) {
            if (!PyCapsule_IsValid(capsule, kMembersCapsule)) return false;
            capsule_ = py::reinterpret_borrow<py::object>(capsule);
            api_ = static_cast<const MembersApi *>(PyCapsule_GetPointer(capsule, kMembersCapsule));
        }
        const MembersApi *api = api_;
        // The converter's dictionary would be one more level of nesting.
        Descent descent(*this);
        MemberSink sink(this, level);
        const int done = api->write(default_.ptr(), o, &sink, &Emitter::on_member);
        if (done < 0) {
            if (sink.failure) std::rethrow_exception(sink.failure);
            raise_current();
        }
        if (done == 0) return false;
        if (sink.first) {
            put("{}");
        } else {
            if (multiline_) newline(level);
            out_.put('}');
        }
        return true;
    }
};

}  // namespace

py::str dumps(py::handle value, const Options &options) {
    Emitter emitter(options);
    emitter.value(value.ptr(), 0);
    return emitter.finish();
}

py::bytes dumps_utf8(py::handle value, const Options &options) {
    Emitter emitter(options);
    emitter.value(value.ptr(), 0);
    return emitter.finish_utf8();
}

}  // namespace jsonemit
