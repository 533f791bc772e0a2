/// The outside world as the three modules see it: host modules, PSD reader, Pillow, stdout.
#pragma once

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace host {

class Name;

/// Remembers the extension module whose globals (`filemanager`, `log`, `Group`, ...)
/// later calls resolve against; each module calls it once at import.
void bind_module(py::module_ m);

/// The module that bind_module remembered.
py::module_ module();

/// Imports `tessel.<name>`, or the top-level module `<name>` when the package has none.
py::module_ import_sibling(const char *name);

/// Imports `<module>.api.layers` from psd_tools2 when installed, else from psd_tools.
py::module_ import_reader_layers();

/// Writes `obj` and a newline to sys.stdout exactly as Python's print(obj) does.
void print(py::handle obj);

/// Names the reader layer `layer` on the error being raised, as the note "while
/// reading layer 'NAME' (id N)", unless a layer inside it was named already: the
/// innermost layer wins. Never fails; Pythons before 3.11 (no add_note) get the
/// error unchanged.
void note_layer(const py::error_already_set &err, py::handle layer);

/// Host services of `filemanager`, looked up on the module's global at every call so
/// that a host or a test can replace the module or any of its functions.
namespace filemanager {
py::object pinyin(py::handle name);
/// Remembers `fm.pinyin`, the package's own pure spelling, so a PinyinPass can tell it
/// from a replacement; called once at import, before any host could replace it.
void remember_own_pinyin(py::handle fm);
/// While one lives, pinyin() asks the host once per distinct text (exact str), as long
/// as the host's pinyin, still looked up at every call, is the package's own pure one;
/// anything else (a replaced function, another argument type) is called every time.
/// One pass, no longer: nothing is kept across passes, so a host changed between two
/// exports is asked again. Passes nest; the innermost holds the answers.
class PinyinPass {
  public:
    PinyinPass();
    ~PinyinPass();
    PinyinPass(const PinyinPass &) = delete;
    PinyinPass &operator=(const PinyinPass &) = delete;

  private:
    py::dict answers_;
    py::dict *outer_;
};
py::object basename(py::handle path);
py::object md5();
py::object sha1();
bool exists(py::handle path);
py::object loadJson(py::handle path);
void writeJson(py::handle path, py::handle data, int indent, py::handle converter);
void mkdir(py::handle path);
}  // namespace filemanager

/// Message lines of the host's `log` module.
namespace log {
void i(py::handle message);
void d(py::handle message);
}  // namespace log

/// What the modules read of a PSD reader layer (or of the opened document).
namespace reader {
enum class Kind { group, text, pixel, other };
/// Class test against the reader's Group, TypeLayer and PixelLayer, in that order.
Kind kind_of(py::handle layer);
py::object kind(py::handle layer);
py::object name(py::handle layer);
bool visible(py::handle layer);
py::object layer_id(py::handle layer);
py::object left(py::handle layer);
py::object top(py::handle layer);
py::object right(py::handle layer);
py::object bottom(py::handle layer);
py::object width(py::handle layer);
py::object height(py::handle layer);
py::object opacity(py::handle layer);
py::object visible_value(py::handle layer);
/// The layer's pixels as a Pillow image, or None for a layer without pixels.
py::object topil(py::handle layer);
py::object engine_dict(py::handle layer);
py::object resource_dict(py::handle layer);
/// The text's affine transform (xx, xy, yx, yy, tx, ty).
py::object transform(py::handle layer);
/// `name` as a key of the reader's engine-data dictionaries: the reader's own key type
/// (made once per name), which its dictionaries would otherwise build from the text
/// at every look-up; the text itself for a reader without one.
py::handle key(const Name &name);
/// Child layers of a document or group, in document order.
py::iterator children(py::handle group);
}  // namespace reader

/// The Pillow operations the modules use.
namespace image {
py::object new_rgba(long width, long height);
/// (width, height) of an image.
std::pair<long, long> size(py::handle img);
py::object crop(py::handle img, long x0, long y0, long x1, long y1);
void paste(py::handle dst, py::handle piece, long x, long y);
py::object mode(py::handle img);
py::object convert(py::handle img, const char *mode);
/// Saves as PNG whatever the path's extension says, so a bare name works too.
void save_png(py::handle img, py::handle path);
}  // namespace image

}  // namespace host
