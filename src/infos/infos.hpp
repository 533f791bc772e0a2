/// The layer-info classes of tessel.infos and the functions their overrides share.
#pragma once

#include "host/host.hpp"

/// Python-visible classes: every field lives in the instance __dict__.
struct YRoot {};
struct YGroup : YRoot {};
struct YPSD : YGroup {};
struct YLayer : YRoot {};
struct YText {};
struct YTextLayer : YRoot, YText {};

namespace infos {

/// Sets the five fields every layer-info object carries; returns the reader's name of
/// `layer` that it stored (the reader builds it anew at every read).
py::object root_init(py::handle self, py::handle layer);
/// The base hook: adds nothing.
void root_fixdata(py::handle self, py::handle data);
/// Prints the one dump line of `self` at `depth` indents.
void root_dump(py::handle self, py::handle depth);

/// Reads the reader group's exportable children into `_layers`.
void group_init(py::handle self, py::handle group);
/// Adds "children" with every child's export dictionary.
void group_fixdata(py::handle self, py::handle data);

/// Sets the members of one styled run of text.
void text_init_text(py::handle self, py::handle text, py::handle fontset, py::handle style,
                    py::handle metaStyle, py::handle startIdx, py::handle endIdx);

/// A box in whole document pixels.
struct PixelBox {
    long long left = 0, top = 0, width = 0, height = 0;
};
/// The box `bounds` (left, top, right, bottom, in text space) as the transform
/// (xx, xy, yx, yy, tx, ty) lays it on the document.
PixelBox box_in_document(const double transform[6], const double bounds[4]);
/// Sets `ShapeType` (0 point, 1 box text), `BoxBounds` and `WritingDirection` (0
/// horizontal, 2 vertical) from the engine data's rendered shape, 0/None/0 without one.
void read_text_shape(py::handle self, py::handle engine);
/// (left, top, width, height) of a box text's box in the document, or None for point text.
py::object text_box(py::handle self);

/// The plain value of an engine-data leaf (its `value`), or the object itself.
py::object plain(py::handle leaf);
/// `seq[idx]`, taking an engine-data leaf's `value` as the index.
py::object at(py::handle seq, py::handle idx);
/// Python truth value of `obj`; a failing __bool__ raises.
bool truthy(py::handle obj);
/// True when `obj` is a non-empty str.
bool is_nonempty_text(py::handle obj);
/// The `name` attribute of any layer-info object, overrides honoured.
py::object name_of(py::handle self);

void bind_yroot(py::module_ &m);
void bind_ygroup(py::module_ &m);
void bind_ypsd(py::module_ &m);
void bind_ylayer(py::module_ &m);
void bind_ytext(py::module_ &m);
void bind_ytextlayer(py::module_ &m);

}  // namespace infos
